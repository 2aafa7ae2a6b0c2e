// Argument splitter, number parsers and the hex writer used by the console commands.
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

// Writes the low `digits` hex digits of `value`, upper case, zero-padded, as printf's
// "%0*X" would; returns the position behind them. No terminating NUL.
char *put_hex(char *out, uint32_t value, uint32_t digits);
