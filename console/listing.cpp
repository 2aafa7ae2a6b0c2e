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
static uint8_t listing_buffer[LISTING_READ_SIZE];

struct listing_request {
    int32_t argc;
    char *argv[LISTING_TOKEN_SLOTS];
    uint32_t address;
    uint32_t count;
};

// Splits the command line into at most three tokens (slot 3 is the end mark) and reads
// the address and the optional count: a decimal from 1 to 24, else `default_count`.
// False, silently, when the address is missing or refused.
static bool parse_listing_line(uint32_t default_count, listing_request *request) {
    char **argv = request->argv;
    argv[0] = argv[1] = argv[2] = free_slot_mark;
    argv[3] = nullptr;
    request->argc = 0;
    split_args(command_buffer, &request->argc, argv);
    if (request->argc < 2 || hexstr_to_uint(argv[1], &request->address) != 0)
        return false;
    uint32_t count = 0;
    bool count_given = request->argc == 3 && decstr_to_uint(argv[2], &count) == 0 && count >= 1 &&
                       count <= LISTING_MAX_COUNT;
    request->count = count_given ? count : default_count;
    return true;
}

static void echo_tokens(const listing_request &request) {
    printf("argc = %d\n", request.argc);
    for (int32_t i = request.argc - 1; i >= 0; i--)
        printf("argv[%d] = %s\n", i, request.argv[i] != nullptr ? request.argv[i] : "(null)");
}

// One fresh read of the whole listing buffer at `start`; false, with the message, when
// it fails.
static bool read_listing(uint32_t start) {
    // A range cut at the top of the address space leaves the tail unread: show zeros
    // there rather than bytes of an earlier command.
    memset(listing_buffer, 0, sizeof listing_buffer);
    if (read_memory_masked(start, LISTING_READ_SIZE, listing_buffer) != 0) {
        puts("_error reading memory_");
        return false;
    }
    return true;
}

// Lists `count` instructions from one fresh read at `start`; returns the address
// behind the last one, or false through `ok` when the memory could not be read.
static uint32_t list_chunk(uint32_t start, uint32_t count, bool *ok) {
    static uint8_t disasm_result[DISASM_RECORD_SIZE];
    *ok = read_listing(start);
    if (!*ok)
        return start;
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
    return start + offset;
}

void cmd_dis() {
    listing_request request;
    if (!parse_listing_line(DIS_DEFAULT_COUNT, &request))
        return;
    echo_tokens(request);

    // A first chunk of count mod 10 instructions, then chunks of ten.
    bool ok = true;
    uint32_t address = list_chunk(request.address, request.count % 10, &ok);
    for (uint32_t chunk = 0; ok && chunk < request.count / 10; chunk++)
        address = list_chunk(address, 10, &ok);
}

void cmd_dump() {
    listing_request request;
    if (!parse_listing_line(DUMP_DEFAULT_LINES, &request) || !read_listing(request.address))
        return;
    // The whole dump in one write: a printf per byte made a full one 400 calls into the C
    // library.
    static char text[LISTING_MAX_COUNT * (10 + 3 * DUMP_LINE_BYTES) + 1];
    char *at = text;
    for (uint32_t line = 0; line < request.count; line++) {
        *at++ = '\n';
        at = put_hex(at, request.address + line * DUMP_LINE_BYTES, 8);
        *at++ = ':';
        for (uint32_t i = 0; i < DUMP_LINE_BYTES; i++) {
            *at++ = ' ';
            at = put_hex(at, listing_buffer[line * DUMP_LINE_BYTES + i], 2);
        }
    }
    *at++ = '\n';
    fwrite(text, 1, static_cast<size_t>(at - text), stdout);
}
