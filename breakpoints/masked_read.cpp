#include "breakpoints/masked_read.h"

#include "breakpoints/bp_ops.h"
#include "breakpoints/bp_table.h"
#include "core/debug_core.h"

// Reads `count` bytes from `first` into the buffer at the place of `first`.
static uint8_t read_chunk(uint32_t start, uint32_t first, uint32_t count, uint8_t *buffer) {
    if (count == 0)
        return 0;
    uint32_t transferred = 0;
    uint8_t *destination = buffer + (first - start);
    if (!plat_read_memory(load_debuggee_process(), first, destination, count, &transferred))
        return 2;
    if (transferred != count)
        return 3;
    return 0;
}

// Fills cur..end, walking the slots from j upward: the bytes between breakpoints come from
// the debuggee, one read per gap, and the breakpoints' bytes from the table.
static uint8_t read_walk(uint32_t start, uint32_t end, uint32_t cur, uint32_t j, uint8_t *buffer) {
    for (;; j++) {
        uint32_t address = j < BP_SLOTS ? bp_table[j].address : 0;
        if (address == 0 || address > end)
            return read_chunk(start, cur, end - cur + 1, buffer);
        uint8_t code = read_chunk(start, cur, address - cur, buffer);
        if (code != 0)
            return code;
        buffer[address - start] = bp_table[j].saved_byte;
        if (address == end)
            return 0;
        cur = address + 1;
    }
}

uint8_t read_memory_masked(uint32_t start, uint32_t length, uint8_t *buffer) {
    uint32_t end = ~start > length - 1 ? start + length - 1 : 0xFFFFFFFFu;
    if (length == 0)
        return 1;

    // A range from 0 starts below every breakpoint. The lookup would match 0 with a free
    // slot (free slots hold 0) and skip the breakpoints; 0 itself is never one.
    if (start == 0)
        return read_walk(start, end, start, bp_low_slot(), buffer);

    uint8_t slot = 0;
    uint32_t cur = start;
    if (bp_find(start, &slot)) {
        buffer[0] = bp_table[slot].saved_byte;
        if (start == end)
            return 0;
        cur = start + 1;
    }
    // The walk starts behind the lookup's slot: 255 wraps to slot 0.
    return read_walk(start, end, cur, static_cast<uint8_t>(slot + 1), buffer);
}
