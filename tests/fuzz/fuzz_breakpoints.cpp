// bp_set, bp_remove, bp_find and read_memory_masked as a sequence of operations drawn from
// the input, against a model: the table as its addresses alone, ascending (the byte saved for
// each is the original byte there, a function of the address), the debuggee as its original
// bytes (0xCC where a breakpoint is), and the fake's injected faults. After every step the
// table, the result code and the platform calls of the step must match the model. Set and
// remove change debuggee memory only through logged platform writes, checked with the byte
// each wrote; the fill step, which puts breakpoints straight into the table, writes their
// 0xCC through the fake, unlogged. The whole memory is compared at the end of the input.
#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "breakpoints/bp_ops.h"
#include "breakpoints/bp_table.h"
#include "breakpoints/masked_read.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Mapped debuggee memory, kept small (it is mapped afresh and compared for every input) but
// with room for a full table and for a 384-byte read.
const uint32_t WINDOW = 0x401000, WINDOW_SIZE = 0x1C0;
const uint32_t TOP = 0xFFFFFFC0u; // mapped through 0xFFFFFFFF
const uint32_t LOW_SIZE = 0x40;   // mapped from address 0, as on a debuggee that maps page 0
const uint32_t FULL = 255;

uint8_t original(uint32_t address) {
    return static_cast<uint8_t>(address * 29 + 0xA3);
}
bool mapped(uint32_t address) {
    return address - WINDOW < WINDOW_SIZE || address >= TOP || address < LOW_SIZE;
}

// The model of bp_table: the addresses set, ascending; each saved the original byte there.
// A plain array, so that the comparison after every step costs no allocation or tree walk.
struct model_table {
    uint32_t count = 0;
    uint32_t address[FULL];

    // How many set addresses lie below target.
    uint32_t below(uint32_t target) const {
        return static_cast<uint32_t>(std::lower_bound(address, address + count, target) - address);
    }
    bool has(uint32_t target) const {
        uint32_t at = below(target);
        return at < count && address[at] == target;
    }
    void insert(uint32_t target) {
        uint32_t at = below(target);
        std::copy_backward(address + at, address + count, address + count + 1);
        address[at] = target;
        count++;
    }
    void erase(uint32_t target) {
        uint32_t at = below(target);
        std::copy(address + at + 1, address + count, address + at);
        count--;
    }
};
model_table table;
std::set<uint32_t> failing_reads, short_reads, failing_writes;

// The platform calls a step should make: one per gap between breakpoints at most.
struct expected_calls {
    uint32_t count = 0;
    fake::transfer call[FULL + 1];
    void add(uint32_t address, uint32_t size) { call[count++] = {address, size}; }
};
expected_calls expected_reads, expected_writes;

struct byte_source {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
    uint16_t next16() { return static_cast<uint16_t>(next() | next() << 8); }
};

uint32_t pick_address(byte_source &in) {
    static const uint32_t odd[] = {0, 1, WINDOW - 1, WINDOW + WINDOW_SIZE, TOP - 1, 0x80000000u};
    uint16_t v = in.next16();
    switch (v >> 13) {
    case 0:
    case 1:
    case 2:
        return WINDOW + v % WINDOW_SIZE;
    case 3:
        return WINDOW + v % 16; // a crowded corner
    case 4:
        return TOP + (v & 0x3F);
    case 5:
        return 0xFFFFFFF0u + (v & 15);
    case 6:
        return odd[v % 6];
    default:
        return v & 1 ? 0 : (v >> 1) % LOW_SIZE; // 0, or near it
    }
}

uint32_t pick_length(byte_source &in) {
    uint16_t v = in.next16();
    switch (v >> 14) {
    case 0:
        return v % 8;
    case 1:
        return v % 600;
    case 2:
        return 384;
    default:
        return 0xFFFFFFFFu - v % 300; // always cut at the top of the address space
    }
}

bool any_in(const std::set<uint32_t> &marks, uint64_t first, uint64_t count) {
    auto it = marks.lower_bound(static_cast<uint32_t>(first));
    return count > 0 && it != marks.end() && *it < first + count;
}

bool all_mapped(uint64_t first, uint64_t count) {
    uint64_t last = first + count - 1;
    return count == 0 || (first >= WINDOW && last < WINDOW + WINDOW_SIZE) || first >= TOP ||
           last < LOW_SIZE;
}

// The platform calls a step made since `from` in the log, zero-byte transfers left out (they
// move nothing), against the model's.
void check_transfers(const char *what, const std::vector<fake::transfer> &log, size_t from,
                     const expected_calls &expected) {
    uint32_t made = 0;
    for (size_t i = from; i < log.size(); i++) {
        if (log[i].size == 0)
            continue;
        FUZZ_CHECK(made < expected.count, "%s: more than the model's %u platform calls", what,
                   expected.count);
        const fake::transfer &want = expected.call[made];
        FUZZ_CHECK(log[i].address == want.address && log[i].size == want.size,
                   "%s call %u: %08X+%u, model %08X+%u", what, made, log[i].address, log[i].size,
                   want.address, want.size);
        made++;
    }
    FUZZ_CHECK(made == expected.count, "%s: %u platform calls, model %u", what, made,
               expected.count);
}

void check_byte(uint32_t address) {
    if (!mapped(address))
        return;
    uint8_t expected = table.has(address) ? 0xCC : original(address);
    FUZZ_CHECK(fake::memory_byte(address) == expected, "debuggee byte at %08X: %02X, model %02X",
               address, fake::memory_byte(address), expected);
}

// A whole mapped range, walked with the model's addresses in step.
void check_memory(uint32_t first, uint32_t size) {
    static uint8_t bytes[WINDOW_SIZE];
    fake::memory_bytes(first, size, bytes);
    uint32_t next = table.below(first);
    for (uint32_t i = 0; i < size; i++) {
        bool is_set = next < table.count && table.address[next] == first + i;
        next += is_set;
        uint8_t expected = is_set ? 0xCC : original(first + i);
        FUZZ_CHECK(bytes[i] == expected, "debuggee byte at %08X: %02X, model %02X", first + i,
                   bytes[i], expected);
    }
}

// Whether the table equals the model. The model is ascending and holds no 0, so equality
// also means the invariant holds. One pass without branches or sanitizer checks: it runs
// after every step, and slot by slot it took a quarter of the run.
__attribute__((no_sanitize("address", "undefined"))) bool table_matches() {
    uint32_t low = FULL - table.count;
    bool same = bp_count == table.count;
    for (uint32_t slot = 0; slot < low; slot++)
        same &= (bp_table[slot].address | bp_table[slot].saved_byte) == 0;
    for (uint32_t i = 0; i < table.count; i++)
        same &= (bp_table[low + i].address == table.address[i]) &
                (bp_table[low + i].saved_byte == original(table.address[i]));
    return same;
}

// Equality with the model after every step; where they differ, the first slot that does.
void check_table() {
    if (table_matches())
        return;
    FUZZ_CHECK(bp_count == table.count, "bp_count %d, model %u", bp_count, table.count);
    uint32_t low = FULL - table.count;
    for (uint32_t slot = 0; slot < FULL; slot++) {
        uint32_t address = slot < low ? 0 : table.address[slot - low];
        uint8_t saved = slot < low ? 0 : original(address);
        FUZZ_CHECK(bp_table[slot].address == address && bp_table[slot].saved_byte == saved,
                   "slot %u: %08X/%02X, model %08X/%02X", slot, bp_table[slot].address,
                   bp_table[slot].saved_byte, address, saved);
    }
}

void step_set(uint32_t address) {
    size_t reads = fake::reads().size(), writes = fake::writes().size();
    expected_reads.count = expected_writes.count = 0;
    uint8_t expected = 0;
    if (table.count == FULL)
        expected = 255;
    else if (address == 0)
        expected = 254;
    else if (table.has(address))
        expected = 1;
    else {
        expected_reads.add(address, 1);
        if (!mapped(address) || failing_reads.count(address) || short_reads.count(address))
            expected = 2;
        else {
            expected_writes.add(address, 1);
            expected = failing_writes.count(address) ? 3 : 0;
        }
    }
    uint8_t code = bp_set(address);
    FUZZ_CHECK(code == expected, "bp_set(%08X): %d, model %d", address, code, expected);
    if (code == 0)
        table.insert(address);
    check_transfers("bp_set reads", fake::reads(), reads, expected_reads);
    check_transfers("bp_set writes", fake::writes(), writes, expected_writes);
    check_byte(address);
}

void step_remove(uint32_t address) {
    size_t reads = fake::reads().size(), writes = fake::writes().size();
    expected_reads.count = expected_writes.count = 0;
    uint8_t expected = 0;
    if (table.count == 0 || address == 0)
        expected = 255;
    else if (!table.has(address))
        expected = 1;
    else {
        expected_writes.add(address, 1);
        expected = failing_writes.count(address) ? 2 : 0;
    }
    uint8_t code = bp_remove(address);
    FUZZ_CHECK(code == expected, "bp_remove(%08X): %d, model %d", address, code, expected);
    if (code == 0)
        table.erase(address);
    check_transfers("bp_remove reads", fake::reads(), reads, expected_reads);
    check_transfers("bp_remove writes", fake::writes(), writes, expected_writes);
    check_byte(address);
}

// How the fake answers one read of `count` bytes at `first`.
uint8_t chunk_result(uint64_t first, uint64_t count) {
    if (any_in(failing_reads, first, count))
        return 2;
    bool short_read = any_in(short_reads, first, count);
    if (!all_mapped(first, count - (short_read ? 1 : 0)))
        return 2;
    return short_read ? 3 : 0;
}

void step_read(uint32_t start, uint32_t length, uint8_t fill) {
    static uint8_t buffer[1024];
    memset(buffer, fill, sizeof buffer);
    size_t reads = fake::reads().size();
    uint8_t code = read_memory_masked(start, length, buffer);
    uint64_t end = std::min<uint64_t>(uint64_t{start} + length - 1, 0xFFFFFFFFu);

    // The model reads the gaps between breakpoints in ascending order and stops at the
    // first that fails.
    expected_calls &chunks = expected_reads;
    chunks.count = 0;
    uint8_t expected = length == 0 ? 1 : 0;
    uint64_t cur = start;
    auto gap = [&](uint64_t to) { // the addresses cur .. to - 1
        if (expected == 0 && to > cur) {
            chunks.add(static_cast<uint32_t>(cur), static_cast<uint32_t>(to - cur));
            expected = chunk_result(cur, to - cur);
        }
    };
    if (length != 0) {
        for (uint32_t i = table.below(start); i < table.count && table.address[i] <= end; i++) {
            gap(table.address[i]);
            cur = uint64_t{table.address[i]} + 1;
        }
        gap(end + 1);
    }
    FUZZ_CHECK(code == expected, "read_memory_masked(%08X, %u): %d, model %d", start, length, code,
               expected);
    check_transfers("read_memory_masked reads", fake::reads(), reads, chunks);
    if (code != 0 && length != 0)
        return; // a failed read leaves the buffer unspecified
    uint64_t written = length == 0 ? 0 : end - start + 1;
    for (uint64_t i = 0; i < sizeof buffer; i++) {
        uint8_t want = i < written ? original(static_cast<uint32_t>(start + i)) : fill;
        FUZZ_CHECK(buffer[i] == want, "read_memory_masked(%08X, %u): byte %llu is %02X, model %02X",
                   start, length, static_cast<unsigned long long>(i), buffer[i], want);
    }
}

void step_find(uint32_t target) {
    uint8_t slot = 0x5A;
    uint8_t found = bp_find(target, &slot);
    uint32_t low = FULL - bp_count;
    if (target == 0) {
        // Only free slots hold 0; a full table has none, so nothing lies below 0.
        bool ok = table.count == FULL ? found == 0 && slot == 255 : found == 1 && slot < low;
        FUZZ_CHECK(ok, "bp_find(0) with %d set: found %d, slot %d", bp_count, found, slot);
        return;
    }
    uint32_t below = table.below(target);
    bool is_set = table.has(target);
    // Found: its slot. Not found: the highest slot below the target, free slots included.
    uint8_t expected = static_cast<uint8_t>(is_set ? low + below : low + below - 1);
    FUZZ_CHECK(found == is_set && slot == expected, "bp_find(%08X): found %d slot %d, model %d %d",
               target, found, slot, is_set, expected);
}

// Sets or removes a few window addresses in a row.
void step_many(byte_source &in, bool set, uint32_t count) {
    uint32_t first = in.next16(), stride = 2 * in.next() + 1;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t address = WINDOW + (first + i * stride) % WINDOW_SIZE;
        set ? step_set(address) : step_remove(address);
        check_table();
    }
}

// Puts window addresses straight into the table until it holds 252 to 255, so that full
// tables are reached: setting them one by one, each set listing the whole table, made such
// inputs cost milliseconds. The table stays one that bp_set could have made: ascending
// addresses, 0xCC in the debuggee at each, its original byte saved.
void step_fill(byte_source &in) {
    uint32_t target = FULL - in.next() % 4;
    uint32_t first = in.next16() % WINDOW_SIZE, walked = 0;
    const uint32_t *known = table.address, *known_end = table.address + table.count;
    for (; walked < WINDOW_SIZE && table.count < target; walked++) {
        uint32_t address = WINDOW + (first + walked) % WINDOW_SIZE;
        if (!std::binary_search(known, known_end, address))
            table.address[table.count++] = address;
    }
    std::sort(table.address, table.address + table.count);
    // 0xCC over every address walked: those set before hold it already.
    uint32_t head = std::min(walked, WINDOW_SIZE - first);
    fake::map_memory(WINDOW + first, std::vector<uint8_t>(head, 0xCC));
    fake::map_memory(WINDOW, std::vector<uint8_t>(walked - head, 0xCC));
    bp_count = static_cast<uint8_t>(table.count);
    for (uint32_t i = 0; i < table.count; i++)
        bp_table[FULL - table.count + i] = bp_entry{table.address[i], original(table.address[i])};
}

void step_fault(byte_source &in) {
    uint8_t kind = in.next() % 3;
    uint32_t address = pick_address(in);
    if (kind == 0) {
        fake::fail_reads_at(address);
        failing_reads.insert(address);
    } else if (kind == 1) {
        fake::short_reads_at(address);
        short_reads.insert(address);
    } else {
        fake::fail_writes_at(address);
        failing_writes.insert(address);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // bp_set and bp_remove list the table on stdout.
    static char buffer[1 << 16];
    if (freopen("/dev/null", "w", stdout) == nullptr ||
        setvbuf(stdout, buffer, _IOFBF, sizeof buffer) != 0)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::vector<uint8_t> window, top, low;
    if (window.empty()) {
        for (uint32_t i = 0; i < WINDOW_SIZE; i++)
            window.push_back(original(WINDOW + i));
        for (uint32_t i = 0; i < 0x40; i++)
            top.push_back(original(TOP + i));
        for (uint32_t i = 0; i < LOW_SIZE; i++)
            low.push_back(original(i));
    }
    fake::reset();
    fake::map_memory(WINDOW, window);
    fake::map_memory(TOP, top);
    fake::map_memory(0, low);
    debuggee_process.store(fake::process_handle());
    table.count = 0;

    byte_source in{data, size};
    while (in.at < in.size) {
        uint8_t op = in.next() % 16;
        if (op < 5)
            step_set(pick_address(in));
        else if (op < 8)
            step_remove(pick_address(in));
        else if (op < 11) {
            uint32_t start = pick_address(in);
            uint32_t length = pick_length(in);
            step_read(start, length, in.next());
        } else if (op == 11)
            step_find(pick_address(in));
        else if (op == 12 || op == 13) {
            uint8_t size = in.next();
            size < 32 ? step_fill(in) : step_many(in, op == 12, 1 + size % 24);
        } else if (op == 14)
            step_fault(in);
        else
            step_find(static_cast<uint32_t>(in.next16()) << 16 | in.next16());
        check_table();
    }
    check_memory(WINDOW, WINDOW_SIZE);
    check_memory(TOP, 0x40);
    check_memory(0, LOW_SIZE);
    // Free what the run allocated: libFuzzer runs an input whose allocations outlive it once
    // more, under the leak checker.
    failing_reads.clear();
    short_reads.clear();
    failing_writes.clear();
    fake::reset();
    return 0;
}
