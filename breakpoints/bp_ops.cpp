#include "breakpoints/bp_ops.h"

#include <cstdio>
#include <cstring>

#include "breakpoints/bp_table.h"
#include "console/command_loop.h"
#include "console/parsers.h"
#include "core/debug_core.h"

const uint8_t INT3_OPCODE = 0xCC;

uint8_t bp_find(uint32_t target, uint8_t *slot) {
    uint32_t position = 128;
    uint32_t step = 128;
    uint32_t probed = 0;
    for (;;) {
        // Position 255 is past the table: every slot below it held a smaller address.
        if (position == BP_SLOTS) {
            *slot = static_cast<uint8_t>(BP_SLOTS - 1);
            return 0;
        }
        probed = bp_table[position].address;
        if (probed == target) {
            *slot = static_cast<uint8_t>(position);
            return 1;
        }
        step /= 2;
        if (step == 0)
            break;
        position = probed < target ? position + step : position - step;
    }
    if (target >= probed) {
        *slot = static_cast<uint8_t>(position);
        return 0;
    }
    uint32_t below = position - 1;
    if (below == 0) {
        // The descent never probes slot 0; compare it now.
        uint32_t lowest = bp_table[0].address;
        if (lowest == target) {
            *slot = 0;
            return 1;
        }
        *slot = lowest > target ? static_cast<uint8_t>(255) : static_cast<uint8_t>(0);
        return 0;
    }
    *slot = static_cast<uint8_t>(below);
    return 0;
}

static bool read_debuggee_byte(uint32_t address, uint8_t *byte) {
    uint32_t transferred = 0;
    return plat_read_memory(load_debuggee_process(), address, byte, 1, &transferred) &&
           transferred == 1;
}

static bool write_debuggee_byte(uint32_t address, uint8_t byte) {
    uint32_t transferred = 0;
    return plat_write_memory(load_debuggee_process(), address, &byte, 1, &transferred) &&
           transferred == 1;
}

// Writes `value` as printf's "%4X" would: upper-case hex, right-aligned in 4 columns.
// Returns the length written, 4 to 8.
static uint32_t format_field(char *out, uint32_t value) {
    if (value == 0) { // a free slot: most of the table, most of the time
        memcpy(out, "   0", 4);
        return 4;
    }
    uint32_t digits = 1;
    while (digits < 8 && (value >> (4 * digits)) != 0)
        digits++;
    uint32_t width = digits < 4 ? 4 : digits;
    for (uint32_t i = 0; i < width - digits; i++)
        out[i] = ' ';
    put_hex(out + width - digits, value, digits);
    return width;
}

// The whole table in one write: a printf per slot made every set and remove 255 calls into
// the C library, and on an unbuffered console as many writes.
static void print_table(bool spaced) {
    static char text[BP_SLOTS * 9];
    uint32_t length = 0;
    for (uint32_t slot = 0; slot < BP_SLOTS; slot++) {
        length += format_field(text + length, bp_table[slot].address);
        if (spaced)
            text[length++] = ' ';
    }
    fwrite(text, 1, length, stdout);
}

uint8_t bp_set(uint32_t address) {
    if (bp_count == BP_SLOTS)
        return 255;
    if (address == 0)
        return 254;

    uint8_t slot = 0;
    uint8_t found = bp_find(address, &slot);
    printf("\n%s%d\n", "index = ", slot);
    printf("%s%s\n", "Find = ", found ? "Yes" : "No");
    if (found)
        return 1;

    uint8_t original = 0;
    if (!read_debuggee_byte(address, &original))
        return 2;
    if (!write_debuggee_byte(address, INT3_OPCODE))
        return 3;

    bp_count++;
    uint32_t low = bp_low_slot();
    for (uint32_t i = low; i < slot; i++)
        bp_table[i] = bp_table[i + 1];
    bp_table[slot] = bp_entry{address, original};
    print_table(true);
    return 0;
}

uint8_t bp_remove(uint32_t address) {
    if (bp_count == 0 || address == 0)
        return 255;
    uint8_t slot = 0;
    if (!bp_find(address, &slot))
        return 1;
    if (!write_debuggee_byte(address, bp_table[slot].saved_byte))
        return 2;

    uint32_t low = bp_low_slot();
    for (uint32_t i = slot; i > low; i--)
        bp_table[i] = bp_table[i - 1];
    bp_table[low] = bp_entry{0, 0};
    bp_count--;
    print_table(false);
    return 0;
}

// Both commands take the address from the line's third character on, unchanged.
static bool parse_break_address(uint32_t *address) {
    uint8_t code = hexstr_to_uint(command_buffer + 2, address);
    if (code != 0) {
        printf("hexstr_to_uint   error \xB9%d\n", code);
        return false;
    }
    return true;
}

void cmd_break_set() {
    uint32_t address = 0;
    if (!parse_break_address(&address))
        return;
    uint8_t code = bp_set(address);
    if (code == 0)
        printf("break on addr %08X set succesful\n", address);
    else
        printf("break not set - error _%d\n", code);
}

void cmd_break_remove() {
    uint32_t address = 0;
    if (!parse_break_address(&address))
        return;
    uint8_t code = bp_remove(address);
    if (code == 0)
        printf("break on addr %08X remove succesful\n", address);
    else
        printf("break not remove - error _%d\n", code);
}
