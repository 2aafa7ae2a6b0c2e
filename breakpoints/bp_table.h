// The breakpoint table: 255 slots, occupied ones an ascending block at the top,
// free ones zero below it.
#pragma once

#include <cstdint>

struct bp_entry {
    uint32_t address;
    uint8_t saved_byte;
};

const uint32_t BP_SLOTS = 255;

extern bp_entry bp_table[BP_SLOTS];
extern uint8_t bp_count;

// Frees every slot. Debuggee memory is not touched.
void bp_clear();

// The lowest occupied slot; 255 (no slot) when the table is empty.
inline uint8_t bp_low_slot() {
    return static_cast<uint8_t>(BP_SLOTS - bp_count);
}
