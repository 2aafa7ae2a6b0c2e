// Argument splitter and number parsers used by the console commands.
#pragma once

#include <cstdint>

// Cuts `line` in place into blank-separated tokens stored in `argv` up to its first
// null slot (the end mark). 0 done, 1 more tokens than free slots, 2 line over 4096.
uint8_t split_args(char *line, int32_t *argc, char **argv);

// 0 ok; 1 empty; 2 over 10 characters; 3 not a digit; 4 above 0xFFFFFFFF.
uint8_t decstr_to_uint(const char *text, uint32_t *value);

// "0x..." or "...h". 0 ok; 1 empty; 2 over 8 digits; 3 both notations;
// 11 not a hexadecimal digit; 12 neither notation.
uint8_t hexstr_to_uint(const char *text, uint32_t *value);
