// The console on arbitrary input, against the fake platform with no debug thread (thread
// creation fails, so "rest" starts none). Each input is a byte stream, cut into lines:
//
// 1. Every line goes through dispatch_command() directly, and its output is compared with
//    a model of the dispatch table ("hex "/"dec " echoes, "b "/"d " messages, the exact
//    "dump", the "dis " echo, the silent rows, the unknown line).
// 2. The same stream then goes to command_loop() through stdin, from the same start state.
//    Its whole output must be one prompt ">" per line read followed by that line's output
//    from step 1 (or the too-long message), then one prompt that meets the end of input
//    (unless "exit" ended the loop), then the key prompt. Counting ">" in the output would
//    not do, since handlers echo user text; comparing with the per-line outputs does: a
//    loop that read two lines per dispatch, re-dispatched a line or lost one would misalign.
//    stdin must also have been consumed exactly up to the end of the "exit" line.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "console/command_loop.h"
#include "console/line_reader.h"
#include "console/listing.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/models.h"

namespace {

// Mapped debuggee memory, kept small: it is mapped afresh twice per input.
const uint32_t WINDOW = 0x401000, WINDOW_SIZE = 0x1C0; // room for one 384-byte read
const uint32_t TOP = 0xFFFFFFC0u;                      // mapped through 0xFFFFFFFF
const char TOO_LONG[] = "...command too long (over 255 characters), ignored...\n";
const char UNKNOWN[] = "...unknown command...\n";
const char KEY_PROMPT[] = "...press any key for exit...\n";

uint8_t original(uint32_t address) {
    return static_cast<uint8_t>(address * 13 + 0x41);
}
bool mapped(uint32_t address) {
    return address - WINDOW < WINDOW_SIZE || address >= TOP;
}

std::vector<uint8_t> region(uint32_t start, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; i++)
        bytes[i] = original(start + i);
    return bytes;
}

// Appends to `text`. The model's strings are static and keep their capacity, so that a run
// makes no allocation per line: the allocator's fresh pages took a third of each run.
__attribute__((format(printf, 2, 3))) void append(std::string &text, const char *pattern, ...) {
    char field[256];
    va_list arguments;
    va_start(arguments, pattern);
    int length = vsnprintf(field, sizeof field, pattern, arguments);
    va_end(arguments);
    text.append(field, static_cast<size_t>(std::min(length, 255)));
}

// A decoder that keeps the call contract: it reads every byte it is given (one copy, which
// AddressSanitizer checks whole, so that it sees a size that overstates the buffer), writes
// its text at offset 260 and the record's last byte, and returns at most `size`, sometimes
// all of it.
uint32_t PLAT_CDECL test_decoder(const uint8_t *code, uint32_t size, uint32_t address,
                                 uint8_t *result, uint32_t mode) {
    FUZZ_CHECK(address == 0 && mode == DISASM_MODE && size <= LISTING_READ_SIZE,
               "decoder called with size %u, address %u, mode %u", size, address, mode);
    static uint8_t seen[LISTING_READ_SIZE];
    memcpy(seen, code, size);
    uint8_t first = size > 0 ? seen[0] : 0;
    result[DISASM_RECORD_SIZE - 1] = first;
    char *text = reinterpret_cast<char *>(result) + DISASM_TEXT_OFFSET;
    memcpy(text, "db ", 3);
    text[3] = "0123456789ABCDEF"[first >> 4];
    text[4] = "0123456789ABCDEF"[first & 15];
    text[5] = '\0';
    if (size == 0)
        return 0;
    return first == 0xFF ? size : std::min<uint32_t>(size, 1 + first % 7);
}

// The model's view of the state the commands change.
std::set<uint32_t> breakpoints;
bool handle_valid = true;

void start_state() {
    static const std::vector<uint8_t> window = region(WINDOW, WINDOW_SIZE);
    static const std::vector<uint8_t> top = region(TOP, 0x40);
    fake::reset();
    FUZZ_CHECK(debug_core_init() == 0, "debug_core_init failed");
    fake::set_thread_creation(false);
    fake::map_memory(WINDOW, window);
    fake::map_memory(TOP, top);
    debuggee_process.store(fake::process_handle());
    disasm_fn = test_decoder;
    breakpoints.clear();
    handle_valid = true;
}

// Standard output is a stream into memory (glibc lets a program replace stdout): a scratch
// file cost several system calls per line.
std::string written;

ssize_t write_to_memory(void *, const char *bytes, size_t size) {
    written.append(bytes, size);
    return static_cast<ssize_t>(size);
}

// What was written since the last clear.
std::string_view output() {
    fflush(stdout);
    return written;
}

enum row { DIS, DUMP, SET, REMOVE, HEX, DEC, EXIT, REST, STOP, RESUME, CONT, THRD, OTHER };

row match_row(std::string_view text) {
    static const char *const prefixes[] = {"dis ", "dump", "b ", "d ", "hex ", "dec "};
    static const char *const words[] = {"exit", "rest", "stop", "resume", "cont", "thrd"};
    for (int i = 0; i < 6; i++)
        if (text.starts_with(prefixes[i]))
            return static_cast<row>(i);
    for (int i = 0; i < 6; i++)
        if (text == words[i])
            return static_cast<row>(EXIT + i);
    return OTHER;
}

// Appends the message that ends the output of "b " or "d "; *alone tells whether it is all
// of it.
void break_message(std::string &message, row kind, std::string_view argument, bool *alone) {
    uint32_t address = 0;
    uint8_t parsed = model::hex(argument, address);
    *alone = true;
    if (parsed != 0)
        return append(message, "hexstr_to_uint   error \xB9%d\n", parsed);
    bool known = breakpoints.count(address) != 0;
    if (kind == SET) {
        int code = breakpoints.size() == 255           ? 255
                   : address == 0                      ? 254
                   : known                             ? 1
                   : !handle_valid || !mapped(address) ? 2
                                                       : 0;
        *alone = code >= 254;
        if (code != 0)
            return append(message, "break not set - error _%d\n", code);
        breakpoints.insert(address);
        return append(message, "break on addr %08X set succesful\n", address);
    }
    int code = breakpoints.empty() || address == 0 ? 255 : !known ? 1 : !handle_valid ? 2 : 0;
    *alone = code == 255 || code == 1;
    if (code != 0)
        return append(message, "break not remove - error _%d\n", code);
    breakpoints.erase(address);
    append(message, "break on addr %08X remove succesful\n", address);
}

// Appends the exact output of a "dump" whose address token parsed; breakpoints show their
// saved bytes, and a range cut at 0xFFFFFFFF shows zeros past the cut.
void dump_output(std::string &text, uint32_t address, uint32_t lines) {
    uint64_t end = std::min<uint64_t>(uint64_t{address} + LISTING_READ_SIZE - 1, 0xFFFFFFFFu);
    bool readable =
        handle_valid && ((address >= WINDOW && end < WINDOW + WINDOW_SIZE) || (address >= TOP));
    if (!readable) {
        text += "_error reading memory_\n";
        return;
    }
    for (uint32_t line = 0; line < lines; line++) {
        append(text, "\n%08X:", address + line * 16);
        for (uint32_t i = line * 16; i < line * 16 + 16; i++) {
            uint8_t byte = uint64_t{address} + i <= end ? original(address + i) : 0;
            const char field[] = {' ', "0123456789ABCDEF"[byte >> 4],
                                  "0123456789ABCDEF"[byte & 15]};
            text.append(field, 3);
        }
    }
    text += '\n';
}

void check_listing(row kind, std::string_view text, std::string_view out) {
    static std::vector<size_t> starts;
    static std::string expected;
    model::token_starts(text, starts);
    int argc = starts.size() <= 3 ? static_cast<int>(starts.size()) : 4;
    uint32_t address = 0;
    if (argc < 2 || model::hex(model::token_at(text, starts[1]), address) != 0) {
        FUZZ_CHECK(out.empty(), "'%s' must print nothing, printed '%s'", text.data(),
                   std::string(out).c_str());
        return;
    }
    uint32_t count = 0;
    bool counted = argc == 3 && model::dec(model::token_at(text, starts[2]), count) == 0 &&
                   count >= 1 && count <= 24;
    expected.clear();
    if (kind == DUMP) {
        dump_output(expected, address, counted ? count : 4);
        FUZZ_CHECK(out == expected, "'%s' printed '%s', model '%s'", text.data(),
                   std::string(out).c_str(), expected.c_str());
        return;
    }
    append(expected, "argc = %d\n", argc);
    for (int i = argc - 1; i >= 0; i--) {
        std::string_view token = i == 3 ? "(null)" : model::token_at(text, starts[i]);
        append(expected, "argv[%d] = %.*s\n", i, static_cast<int>(token.size()), token.data());
    }
    FUZZ_CHECK(out.starts_with(expected), "'%s' printed '%s', echo model '%s'", text.data(),
               std::string(out).c_str(), expected.c_str());
}

// Checks one dispatch of `text` (the line up to its first NUL) against the table.
void check_dispatch(std::string_view text, bool goes_on, std::string_view out) {
    static std::string expected;
    row kind = match_row(text);
    FUZZ_CHECK(goes_on == (kind != EXIT), "'%s': dispatch returned %d", text.data(), goes_on);
    expected.clear();
    uint32_t value = 0;
    uint8_t code = 0;
    bool alone = true;
    switch (kind) {
    case DIS:
    case DUMP:
        check_listing(kind, text, out);
        return;
    case SET:
    case REMOVE:
        break_message(expected, kind, text.substr(2), &alone);
        break;
    case HEX:
        code = model::hex(text.substr(4), value);
        code ? append(expected, "error \xB9%d\n", code)
             : append(expected, "number is = %08X\n", value);
        break;
    case DEC:
        code = model::dec(text.substr(4), value);
        code ? append(expected, "error \xB9%d\n", code)
             : append(expected, "number is = %08u\n", value);
        break;
    case REST: // ends the debuggee, empties the table and forgets the process handle
        breakpoints.clear();
        handle_valid = false;
        break;
    case EXIT:
    case STOP:
    case RESUME:
    case CONT:
    case THRD:
        break;
    case OTHER: // no debug thread, so no notification is ever pending
        expected = UNKNOWN;
        break;
    }
    if (alone)
        FUZZ_CHECK(out == expected, "'%s' printed '%s', model '%s'", text.data(),
                   std::string(out).c_str(), expected.c_str());
    else
        FUZZ_CHECK(out.ends_with(expected), "'%s' printed '%s', model ends with '%s'", text.data(),
                   std::string(out).c_str(), expected.c_str());
}

size_t first_difference(std::string_view a, std::string_view b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        i++;
    return i;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    cookie_io_functions_t memory_output = {nullptr, write_to_memory, nullptr, nullptr};
    stdout = fopencookie(nullptr, "w", memory_output);
    if (stdout == nullptr) {
        perror("fuzz_commands: output stream");
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view stream(reinterpret_cast<const char *>(data), size);
    // The lines the loop must read: a newline ends each (a last line may lack it).
    static std::vector<std::string_view> lines;
    static std::vector<size_t> line_ends; // stream offset behind each line and its newline
    lines.clear();
    line_ends.clear();
    for (size_t at = 0; at < size;) {
        size_t newline = std::min(stream.find('\n', at), size);
        lines.push_back(stream.substr(at, newline - at));
        at = std::min(newline + 1, size);
        line_ends.push_back(at);
    }

    // 1. Direct dispatch, line by line; builds the loop's expected output.
    start_state();
    output();
    written.clear();
    static std::string expected;
    expected.clear();
    size_t consumed = size;
    bool exited = false;
    for (size_t i = 0; i < lines.size() && !exited; i++) {
        expected += '>';
        size_t stored = std::min<size_t>(lines[i].size(), COMMAND_LINE_MAX);
        memcpy(command_buffer, lines[i].data(), stored);
        command_buffer[stored] = '\0';
        if (lines[i].size() > COMMAND_LINE_MAX) {
            expected += TOO_LONG;
            continue;
        }
        static char text[COMMAND_LINE_MAX + 1]; // the handlers may cut the buffer into tokens
        memcpy(text, command_buffer, stored + 1);
        bool goes_on = dispatch_command();
        std::string_view out = output();
        check_dispatch(std::string_view(text), goes_on, out);
        expected += out;
        written.clear();
        if (!goes_on) {
            exited = true;
            consumed = line_ends[i];
        }
    }
    if (!exited)
        expected += '>';
    expected += KEY_PROMPT;

    // 2. The same stream through the loop, from the same start state. The input stream reads
    // through a buffer of its own rather than one allocated per input.
    start_state();
    FILE *console_input = stdin;
    stdin = fmemopen(const_cast<uint8_t *>(data), size, "r");
    FUZZ_CHECK(stdin != nullptr, "feeding stdin failed");
    static char input_buffer[4096];
    setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
    command_loop();
    std::string_view out = output();
    if (out != expected) {
        size_t at = first_difference(out, expected);
        FUZZ_CHECK(false, "loop output differs at byte %zu of %zu (model %zu): '%s' vs '%s'", at,
                   out.size(), expected.size(), std::string(out.substr(at, 60)).c_str(),
                   expected.substr(at, 60).c_str());
    }
    written.clear();
    long position = ftell(stdin);
    fclose(stdin);
    stdin = console_input;
    FUZZ_CHECK(position == static_cast<long>(consumed), "the loop consumed %ld bytes, model %zu",
               position, consumed);
    FUZZ_CHECK(fake::key_waits() == 1, "%d key waits", fake::key_waits());
    return 0;
}
