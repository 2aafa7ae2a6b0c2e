#include "console/listing.h"

#include <cstdio>
#include <cstring>

#include "breakpoints/masked_read.h"
#include "console/command_loop.h"
#include "console/parsers.h"

disasm_routine disasm_fn;

const int32_t LISTING_TOKEN_SLOTS = 4;
const uint32_t LISTING_MAX_COUNT = 24;
const uint32_t DIS_DEFAULT_COUNT = 10;
const uint32_t DUMP_DEFAULT_LINES = 4;
const uint32_t DUMP_LINE_BYTES = 16;

static char free_slot_mark[] = "";

// Splits the command line into at most three tokens; slot 3 is the end mark.
static void split_listing_line(int32_t *argc, char **argv) {
    argv[0] = argv[1] = argv[2] = free_slot_mark;
    argv[3] = nullptr;
    *argc = 0;
    split_args(command_buffer, argc, argv);
}

// The optional third token: a decimal count from 1 to 24, else the default.
static uint32_t listing_count(int32_t argc, char **argv, uint32_t fallback) {
    uint32_t count = 0;
    if (argc == 3 && decstr_to_uint(argv[2], &count) == 0 && count >= 1 &&
        count <= LISTING_MAX_COUNT)
        return count;
    return fallback;
}

static void echo_tokens(int32_t argc, char **argv) {
    printf("argc = %d\n", argc);
    for (int32_t i = argc - 1; i >= 0; i--)
        printf("argv[%d] = %s\n", i, argv[i] != nullptr ? argv[i] : "(null)");
}

// Lists `count` instructions from one fresh read at `start`; returns the address
// behind the last one, or false through `ok` when the memory could not be read.
static uint32_t list_chunk(uint32_t start, uint32_t count, bool *ok) {
    static uint8_t listing_buffer[LISTING_READ_SIZE];
    static uint8_t disasm_result[DISASM_RECORD_SIZE];
    // A range cut at the top of the address space leaves the tail unread: show zeros
    // there rather than bytes of an earlier command.
    memset(listing_buffer, 0, sizeof listing_buffer);
    if (read_memory_masked(start, LISTING_READ_SIZE, listing_buffer) != 0) {
        puts("_error reading memory_");
        *ok = false;
        return start;
    }
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t available = LISTING_READ_SIZE - offset;
        uint32_t length =
            disasm_fn(listing_buffer + offset, available, 0, disasm_result, DISASM_MODE);
        // A decoder that claims more than it was given must not walk us off the buffer.
        offset += length < available ? length : available;
        printf("%08X:\t%s\n", start + offset,
               reinterpret_cast<const char *>(disasm_result + DISASM_TEXT_OFFSET));
    }
    *ok = true;
    return start + offset;
}

void cmd_dis() {
    char *argv[LISTING_TOKEN_SLOTS];
    int32_t argc = 0;
    split_listing_line(&argc, argv);
    if (argc < 2)
        return;
    uint32_t address = 0;
    if (hexstr_to_uint(argv[1], &address) != 0)
        return;
    uint32_t count = listing_count(argc, argv, DIS_DEFAULT_COUNT);
    echo_tokens(argc, argv);

    // A first chunk of count mod 10 instructions, then chunks of ten.
    bool ok = true;
    address = list_chunk(address, count % 10, &ok);
    for (uint32_t chunk = 0; ok && chunk < count / 10; chunk++)
        address = list_chunk(address, 10, &ok);
}

void cmd_dump() {
    static uint8_t listing_buffer[LISTING_READ_SIZE];
    char *argv[LISTING_TOKEN_SLOTS];
    int32_t argc = 0;
    split_listing_line(&argc, argv);
    if (argc < 2)
        return;
    uint32_t address = 0;
    if (hexstr_to_uint(argv[1], &address) != 0)
        return;
    uint32_t lines = listing_count(argc, argv, DUMP_DEFAULT_LINES);
    memset(listing_buffer, 0, sizeof listing_buffer);
    if (read_memory_masked(address, LISTING_READ_SIZE, listing_buffer) != 0) {
        puts("_error reading memory_");
        return;
    }
    for (uint32_t line = 0; line < lines; line++) {
        printf("\n%08X:", address + line * DUMP_LINE_BYTES);
        for (uint32_t i = 0; i < DUMP_LINE_BYTES; i++)
            printf(" %02X", listing_buffer[line * DUMP_LINE_BYTES + i]);
    }
    printf("\n");
}
