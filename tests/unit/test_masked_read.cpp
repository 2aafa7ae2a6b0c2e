#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "breakpoints/bp_table.h"
#include "breakpoints/masked_read.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"

namespace {

const uint32_t BASE = 0x10000;
const uint32_t SPAN = 0x2000;
const uint8_t GUARD = 0xA5;

// Never 0 at address 0, where a free slot's saved byte would look the same.
uint8_t original_byte(uint32_t address) {
    return static_cast<uint8_t>((address * 2654435761u) >> 13 ^ 0x5A);
}

// Breakpoints straight into the table (ascending), with 0xCC in the fake memory; the
// bytes under the breakpoints placed before are restored first.
void place(std::vector<uint32_t> addresses) {
    for (uint32_t slot = BP_SLOTS - bp_count; slot < BP_SLOTS; slot++)
        fake::map_memory(bp_table[slot].address, {bp_table[slot].saved_byte});
    std::sort(addresses.begin(), addresses.end());
    memset(bp_table, 0, sizeof bp_table);
    bp_count = static_cast<uint8_t>(addresses.size());
    uint32_t low = BP_SLOTS - bp_count;
    for (size_t i = 0; i < addresses.size(); i++) {
        bp_table[low + i] = bp_entry{addresses[i], original_byte(addresses[i])};
        fake::map_memory(addresses[i], {0xCC});
    }
}

void map_original(uint32_t address, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; i++)
        bytes[i] = original_byte(address + i);
    fake::map_memory(address, bytes);
}

std::vector<fake::transfer> reads_since(size_t first) {
    return std::vector<fake::transfer>(fake::reads().begin() + static_cast<long>(first),
                                       fake::reads().end());
}

class MaskedRead : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        debuggee_process.store(fake::process_handle());
        map_original(BASE, SPAN);
    }
};

struct range_case {
    const char *name;
    std::vector<int32_t> breakpoints; // relative to the start
    uint32_t length;
    std::vector<std::pair<int32_t, uint32_t>> reads; // (relative address, size)
};

TEST_F(MaskedRead, ChunksBetweenBreakpoints) {
    const uint32_t start = BASE + 0x400;
    const range_case cases[] = {
        {"no breakpoint", {}, 384, {{0, 384}}},
        {"at the start", {0}, 384, {{1, 383}}},
        {"at the end", {383}, 384, {{0, 383}}},
        {"at end + 1", {384}, 384, {{0, 384}}},
        {"outside on both sides", {-1, -300, 384, 900}, 384, {{0, 384}}},
        {"start and start + 5", {0, 5}, 384, {{1, 4}, {6, 378}}},
        {"consecutive inside", {5, 6}, 384, {{0, 5}, {7, 377}}},
        {"first three", {0, 1, 2}, 384, {{3, 381}}},
        {"last two", {382, 383}, 384, {{0, 382}}},
        {"below, inside and above", {-4, 10, 20, 384}, 384, {{0, 10}, {11, 9}, {21, 363}}},
        {"length 1 at a breakpoint", {0}, 1, {}},
        {"length 1 elsewhere", {1, -1}, 1, {{0, 1}}},
        {"every byte a breakpoint", {0, 1, 2}, 3, {}},
    };
    for (const range_case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::vector<uint32_t> addresses;
        for (int32_t offset : c.breakpoints)
            addresses.push_back(start + static_cast<uint32_t>(offset));
        place(addresses);

        std::vector<uint8_t> buffer(c.length + 16, GUARD);
        EXPECT_EQ(read_memory_masked(start, c.length, buffer.data()), 0);
        for (uint32_t i = 0; i < c.length; i++)
            ASSERT_EQ(buffer[i], original_byte(start + i)) << "index " << i;
        for (size_t i = c.length; i < buffer.size(); i++)
            ASSERT_EQ(buffer[i], GUARD) << "written past the range at " << i;

        std::vector<fake::transfer> reads = fake::reads();
        ASSERT_EQ(reads.size(), c.reads.size());
        for (size_t i = 0; i < reads.size(); i++) {
            EXPECT_EQ(reads[i].address, start + static_cast<uint32_t>(c.reads[i].first)) << i;
            EXPECT_EQ(reads[i].size, c.reads[i].second) << i;
        }
    }
}

// Address 0 is an address like any other: on a debuggee that maps page 0 its byte is read,
// and the breakpoints above it are masked; without page 0 the reads there fail.
TEST_F(MaskedRead, RangeFromAddressZero) {
    const range_case cases[] = {
        {"1 byte, empty table", {}, 1, {{0, 1}}},
        {"1 byte, a breakpoint above", {1, 0x500}, 1, {{0, 1}}},
        {"384 bytes as dump reads them, breakpoints inside",
         {0x10, 0x100, 0x180, 0x500},
         384,
         {{0, 0x10}, {0x11, 0xEF}, {0x101, 0x7F}}},
        {"a breakpoint at 1", {1}, 384, {{0, 1}, {2, 382}}},
    };
    for (const range_case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        EXPECT_EQ(read_memory_masked(0, 1, std::vector<uint8_t>(1).data()), 2) << "no page 0";
        EXPECT_EQ(read_memory_masked(0, 384, std::vector<uint8_t>(384).data()), 2) << "no page 0";
        map_original(0, 0x600);
        std::vector<uint32_t> addresses(c.breakpoints.begin(), c.breakpoints.end());
        place(addresses);

        size_t first = fake::reads().size();
        std::vector<uint8_t> buffer(c.length + 16, GUARD);
        EXPECT_EQ(read_memory_masked(0, c.length, buffer.data()), 0);
        for (uint32_t i = 0; i < c.length; i++)
            ASSERT_EQ(buffer[i], original_byte(i)) << "index " << i;
        for (size_t i = c.length; i < buffer.size(); i++)
            ASSERT_EQ(buffer[i], GUARD) << "written past the range at " << i;
        std::vector<fake::transfer> reads = reads_since(first);
        ASSERT_EQ(reads.size(), c.reads.size());
        for (size_t i = 0; i < reads.size(); i++) {
            EXPECT_EQ(reads[i].address, static_cast<uint32_t>(c.reads[i].first)) << i;
            EXPECT_EQ(reads[i].size, c.reads[i].second) << i;
        }
    }
}

TEST_F(MaskedRead, LengthZeroDoesNothing) {
    place({BASE});
    uint8_t buffer[4] = {GUARD, GUARD, GUARD, GUARD};
    EXPECT_EQ(read_memory_masked(BASE, 0, buffer), 1);
    EXPECT_EQ(read_memory_masked(BASE + 1, 0, buffer), 1);
    EXPECT_TRUE(fake::reads().empty());
    for (uint8_t byte : buffer)
        EXPECT_EQ(byte, GUARD);
}

struct failure_case {
    const char *name;
    void (*prepare)(uint32_t start);
    uint8_t result;
    size_t reads; // the failing one included; later chunks are not read
};

TEST_F(MaskedRead, FailedAndShortReads) {
    const uint32_t start = BASE + 0x400;
    const failure_case cases[] = {
        {"first chunk fails", [](uint32_t s) { fake::fail_reads_at(s + 2); }, 2, 1},
        {"tail fails", [](uint32_t s) { fake::fail_reads_at(s + 300); }, 2, 2},
        {"first chunk short", [](uint32_t s) { fake::short_reads_at(s + 2); }, 3, 1},
        {"tail short", [](uint32_t s) { fake::short_reads_at(s + 300); }, 3, 2},
        {"no debuggee", [](uint32_t) { debuggee_process.store(nullptr); }, 2, 1},
    };
    for (const failure_case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        place({start + 10});
        c.prepare(start);
        std::vector<uint8_t> buffer(384);
        EXPECT_EQ(read_memory_masked(start, 384, buffer.data()), c.result);
        EXPECT_EQ(fake::reads().size(), c.reads);
    }
}

TEST_F(MaskedRead, FullTableRangeFromBelowTheLowest) {
    std::vector<uint32_t> addresses;
    for (uint32_t i = 0; i < BP_SLOTS; i++)
        addresses.push_back(BASE + 0x200 + 2 * i);
    place(addresses);
    for (uint32_t start : {BASE + 0x1F0, BASE + 0x1FF, BASE + 0x200, BASE + 0x3FC, BASE + 0x3FD}) {
        SCOPED_TRACE(start);
        size_t first = fake::reads().size();
        std::vector<uint8_t> buffer(384);
        ASSERT_EQ(read_memory_masked(start, 384, buffer.data()), 0);
        for (uint32_t i = 0; i < 384; i++)
            ASSERT_EQ(buffer[i], original_byte(start + i)) << "index " << i;
        size_t inside = static_cast<size_t>(
            std::count_if(addresses.begin(), addresses.end(),
                          [start](uint32_t a) { return a >= start && a - start < 384; }));
        std::vector<fake::transfer> reads = reads_since(first);
        EXPECT_LE(reads.size(), inside + 1);
        for (const fake::transfer &read : reads)
            for (uint32_t address : addresses)
                ASSERT_FALSE(address >= read.address && address - read.address < read.size)
                    << "a read covers the breakpoint at " << address;
    }
}

TEST_F(MaskedRead, RangeCutAtTheTop) {
    const uint32_t top = 0xFFFFFF00u;
    map_original(top, 256);
    struct top_case {
        uint32_t start;
        std::vector<uint32_t> breakpoints;
        std::vector<std::pair<uint32_t, uint32_t>> reads;
    };
    const top_case cases[] = {
        {top, {}, {{top, 256}}},
        {top, {0xFFFFFF80u, 0xFFFFFFFFu}, {{top, 0x80}, {0xFFFFFF81u, 0x7E}}},
        {0xFFFFFFFFu, {}, {{0xFFFFFFFFu, 1}}},
        {0xFFFFFFFFu, {0xFFFFFFFFu}, {}},
        {0xFFFFFF80u, {0xFFFFFFFEu}, {{0xFFFFFF80u, 0x7E}, {0xFFFFFFFFu, 1}}},
    };
    for (const top_case &c : cases) {
        SCOPED_TRACE(c.start);
        size_t first = fake::reads().size();
        place(c.breakpoints);
        std::vector<uint8_t> buffer(384, GUARD);
        ASSERT_EQ(read_memory_masked(c.start, 384, buffer.data()), 0);
        uint32_t delivered = 0xFFFFFFFFu - c.start + 1;
        for (uint32_t i = 0; i < delivered; i++)
            ASSERT_EQ(buffer[i], original_byte(c.start + i)) << "index " << i;
        for (uint32_t i = delivered; i < 384; i++)
            ASSERT_EQ(buffer[i], GUARD) << "index " << i << " lies past the top";
        std::vector<fake::transfer> reads = reads_since(first);
        ASSERT_EQ(reads.size(), c.reads.size());
        for (size_t i = 0; i < reads.size(); i++) {
            EXPECT_EQ(reads[i].address, c.reads[i].first) << i;
            EXPECT_EQ(reads[i].size, c.reads[i].second) << i;
        }
    }
}

// Random tables and ranges: the buffer always shows the original bytes, and the reads
// are ascending, never cover a breakpoint and together with the breakpoints tile the range.
TEST_F(MaskedRead, RandomTablesAgainstModel) {
    std::mt19937 random(4242);
    const uint32_t low = BASE + 0x100, high = BASE + SPAN - 0x100;
    for (int round = 0; round < 600; round++) {
        uint32_t count = round % 5 == 0 ? 255 : random() % 256;
        uint32_t window = round % 2 == 0 ? 300 + random() % 200 : high - low;
        std::set<uint32_t> chosen;
        while (chosen.size() < count)
            chosen.insert(low + static_cast<uint32_t>(random() % window));
        place(std::vector<uint32_t>(chosen.begin(), chosen.end()));

        for (int range = 0; range < 8; range++) {
            uint32_t start = BASE + static_cast<uint32_t>(random() % (SPAN - 700));
            uint32_t length = 1 + static_cast<uint32_t>(random() % 600);
            SCOPED_TRACE(::testing::Message() << "round " << round << " start " << start
                                              << " length " << length << " count " << count);
            size_t first = fake::reads().size();
            std::vector<uint8_t> buffer(length + 8, GUARD);
            ASSERT_EQ(read_memory_masked(start, length, buffer.data()), 0);
            for (uint32_t i = 0; i < length; i++)
                ASSERT_EQ(buffer[i], original_byte(start + i)) << "index " << i;
            for (uint32_t i = length; i < length + 8; i++)
                ASSERT_EQ(buffer[i], GUARD);

            std::vector<bool> covered(length, false);
            size_t inside = 0;
            for (uint32_t address : chosen)
                if (address >= start && address - start < length) {
                    covered[address - start] = true;
                    inside++;
                }
            std::vector<fake::transfer> reads = reads_since(first);
            ASSERT_LE(reads.size(), inside + 1);
            uint32_t previous_end = start;
            for (const fake::transfer &read : reads) {
                ASSERT_GT(read.size, 0u);
                ASSERT_GE(read.address, previous_end) << "reads out of order or overlapping";
                ASSERT_LE(read.address - start + read.size, length) << "read past the range";
                for (uint32_t i = 0; i < read.size; i++) {
                    ASSERT_FALSE(covered[read.address - start + i]) << "breakpoint byte read";
                    covered[read.address - start + i] = true;
                }
                previous_end = read.address + read.size;
            }
            ASSERT_EQ(std::count(covered.begin(), covered.end(), false), 0)
                << "bytes neither read nor masked";
        }
    }
}

} // namespace
