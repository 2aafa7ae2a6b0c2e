#include "breakpoints/bp_table.h"

bp_entry bp_table[BP_SLOTS];
uint8_t bp_count;

void bp_clear() {
    for (uint32_t slot = 0; slot < BP_SLOTS; slot++)
        bp_table[slot] = bp_entry{0, 0};
    bp_count = 0;
}
