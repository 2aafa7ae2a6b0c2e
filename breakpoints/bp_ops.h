// Breakpoint lookup, set and remove, and the "b " and "d " commands.
#pragma once

#include <cstdint>

// 1 found (slot holds the target), 0 not found (slot is the highest one below the
// target, 255 when none is). Always writes `slot`.
uint8_t bp_find(uint32_t target, uint8_t *slot);

// 0 set; 1 already set; 2 read failed; 3 write failed; 254 address 0; 255 table full.
uint8_t bp_set(uint32_t address);

// 0 removed; 1 not a breakpoint; 2 write failed; 255 table empty or address 0.
uint8_t bp_remove(uint32_t address);

// Console handlers; the line is in command_buffer.
void cmd_break_set();
void cmd_break_remove();
