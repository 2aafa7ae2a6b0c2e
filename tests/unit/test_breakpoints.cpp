#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "breakpoints/bp_ops.h"
#include "breakpoints/bp_table.h"
#include "console/command_loop.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/support/capture.h"

namespace {

const uint32_t BASE = 0x401000;
const uint32_t SPAN = 0x1000;

uint8_t original_byte(uint32_t address) {
    return static_cast<uint8_t>(address * 7 + 3);
}

std::vector<bp_entry> table_copy() {
    return std::vector<bp_entry>(bp_table, bp_table + BP_SLOTS);
}

bool same_table(const std::vector<bp_entry> &a, const std::vector<bp_entry> &b) {
    for (size_t i = 0; i < BP_SLOTS; i++)
        if (a[i].address != b[i].address || a[i].saved_byte != b[i].saved_byte)
            return false;
    return true;
}

// The occupied slots are an ascending block at the top; the free ones below are zero.
::testing::AssertionResult table_is_valid() {
    uint32_t low = BP_SLOTS - bp_count;
    for (uint32_t slot = 0; slot < BP_SLOTS; slot++) {
        const bp_entry &entry = bp_table[slot];
        if (slot < low && (entry.address != 0 || entry.saved_byte != 0))
            return ::testing::AssertionFailure() << "free slot " << slot << " is not zero";
        if (slot >= low && entry.address == 0)
            return ::testing::AssertionFailure() << "occupied slot " << slot << " holds 0";
        if (slot > low && entry.address <= bp_table[slot - 1].address)
            return ::testing::AssertionFailure() << "slot " << slot << " is out of order";
    }
    return ::testing::AssertionSuccess();
}

// Fills the table directly with the given (ascending) addresses.
void place(const std::vector<uint32_t> &addresses) {
    memset(bp_table, 0, sizeof bp_table);
    bp_count = static_cast<uint8_t>(addresses.size());
    uint32_t low = BP_SLOTS - bp_count;
    for (size_t i = 0; i < addresses.size(); i++) {
        bp_table[low + i] = bp_entry{addresses[i], original_byte(addresses[i])};
        fake::map_memory(addresses[i], {0xCC});
    }
}

std::string run(void (*handler)(), const char *line) {
    strcpy(command_buffer, line);
    capture_start();
    handler();
    return capture_end();
}

std::string repeat(const std::string &field, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; i++)
        text += field;
    return text;
}

class Breakpoints : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        debuggee_process.store(fake::process_handle());
        std::vector<uint8_t> bytes(SPAN);
        for (uint32_t i = 0; i < SPAN; i++)
            bytes[i] = original_byte(BASE + i);
        fake::map_memory(BASE, bytes);
    }

    // Sets breakpoints through bp_set, discarding its output.
    void set_all(const std::vector<uint32_t> &addresses) {
        capture_start();
        for (uint32_t address : addresses)
            EXPECT_EQ(bp_set(address), 0) << std::hex << address;
        capture_end();
    }
};

TEST_F(Breakpoints, ClearEmptiesEverySlot) {
    place({BASE, BASE + 1, BASE + 9});
    bp_clear();
    EXPECT_EQ(bp_count, 0);
    for (uint32_t slot = 0; slot < BP_SLOTS; slot++) {
        EXPECT_EQ(bp_table[slot].address, 0u) << slot;
        EXPECT_EQ(bp_table[slot].saved_byte, 0) << slot;
    }
    EXPECT_EQ(fake::memory_byte(BASE), 0xCC); // memory is not restored
}

TEST_F(Breakpoints, FirstSetAndRemoveOutput) {
    EXPECT_EQ(run(cmd_break_set, "b 401000h"), "\nindex = 254\nFind = No\n" + repeat("   0 ", 254) +
                                                   "401000 break on addr 00401000 set succesful\n");
    EXPECT_EQ(bp_count, 1);
    EXPECT_EQ(bp_table[254].address, BASE);
    EXPECT_EQ(bp_table[254].saved_byte, original_byte(BASE));
    EXPECT_EQ(fake::memory_byte(BASE), 0xCC);
    EXPECT_TRUE(table_is_valid());

    EXPECT_EQ(run(cmd_break_remove, "d 401000h"),
              repeat("   0", 255) + "break on addr 00401000 remove succesful\n");
    EXPECT_EQ(bp_count, 0);
    EXPECT_EQ(fake::memory_byte(BASE), original_byte(BASE));
    EXPECT_TRUE(table_is_valid());

    // Exactly one one-byte read (the set) and one one-byte write each.
    ASSERT_EQ(fake::reads().size(), 1u);
    EXPECT_EQ(fake::reads()[0].address, BASE);
    EXPECT_EQ(fake::reads()[0].size, 1u);
    ASSERT_EQ(fake::writes().size(), 2u);
    for (const fake::transfer &write : fake::writes()) {
        EXPECT_EQ(write.address, BASE);
        EXPECT_EQ(write.size, 1u);
    }
}

TEST_F(Breakpoints, ListingFieldsAfterTwoSets) {
    set_all({BASE + 0x10});
    std::string output = run(cmd_break_set, "b 0x401008");
    EXPECT_EQ(output, "\nindex = 253\nFind = No\n" + repeat("   0 ", 253) +
                          "401008 401010 break on addr 00401008 set succesful\n");
    EXPECT_EQ(run(cmd_break_remove, "d 401010h"),
              repeat("   0", 254) + "401008break on addr 00401010 remove succesful\n");
}

// Every width of a listed address: padded to four columns, then as long as it takes.
TEST_F(Breakpoints, ListingFieldWidths) {
    const std::vector<uint32_t> others = {0x5,       0xABC,       0xFFFF,     0x10000,
                                          0xFEDCBA9, 0x80000000u, 0xFFFFFFFFu};
    std::string listed;
    for (uint32_t address : others) {
        char field[16];
        snprintf(field, sizeof field, "%4X", address);
        listed += field;
    }
    place(others);
    EXPECT_EQ(run(cmd_break_set, "b 401010h"),
              "\nindex = 251\nFind = No\n" + repeat("   0 ", 247) +
                  "   5  ABC FFFF 10000 401010 FEDCBA9 80000000 FFFFFFFF " +
                  "break on addr 00401010 set succesful\n");
    EXPECT_EQ(run(cmd_break_remove, "d 401010h"),
              repeat("   0", 248) + listed + "break on addr 00401010 remove succesful\n");
}

TEST_F(Breakpoints, InsertionOrderBCA) {
    const uint32_t a = BASE + 0x10, b = BASE + 0x20, c = BASE + 0x30;
    const std::pair<uint32_t, int> steps[] = {{b, 254}, {c, 254}, {a, 252}};
    for (const auto &[address, index] : steps) {
        capture_start();
        EXPECT_EQ(bp_set(address), 0);
        std::string output = capture_end();
        EXPECT_EQ(output.substr(0, output.find("Find")),
                  "\nindex = " + std::to_string(index) + "\n");
        EXPECT_TRUE(table_is_valid());
    }
    EXPECT_EQ(bp_count, 3);
    EXPECT_EQ(bp_table[252].address, a);
    EXPECT_EQ(bp_table[253].address, b);
    EXPECT_EQ(bp_table[254].address, c);
    for (uint32_t slot = 252; slot < BP_SLOTS; slot++)
        EXPECT_EQ(bp_table[slot].saved_byte, original_byte(bp_table[slot].address));
}

// bp_find as stated: found at the equal slot; else the highest slot below the target,
// free slots (address 0) counting as below every nonzero target; 255 when none is.
std::pair<uint8_t, uint8_t> reference_find(uint32_t target) {
    for (uint32_t slot = 0; slot < BP_SLOTS; slot++)
        if (bp_table[slot].address == target && slot >= BP_SLOTS - bp_count)
            return {1, static_cast<uint8_t>(slot)};
    uint8_t below = 255;
    for (uint32_t slot = 0; slot < BP_SLOTS; slot++)
        if (bp_table[slot].address < target)
            below = static_cast<uint8_t>(slot);
    return {0, below};
}

TEST_F(Breakpoints, FindAgreesWithReferenceOnRandomTables) {
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; round++) {
        uint32_t count = round % 4 == 0 ? 255 : random() % 256;
        // Narrow address windows make neighbours and gaps of one frequent.
        uint32_t window = round % 2 == 0 ? count * 2 + 2 : 0xFFFFFFFEu;
        uint32_t floor = round % 3 == 0 ? 1 : 1 + random() % 1000;
        std::vector<uint32_t> addresses;
        while (addresses.size() < count) {
            uint32_t address = floor + static_cast<uint32_t>(random() % window);
            if (address != 0 &&
                std::find(addresses.begin(), addresses.end(), address) == addresses.end())
                addresses.push_back(address);
        }
        std::sort(addresses.begin(), addresses.end());
        place(addresses);

        std::vector<uint32_t> targets = {1, 0xFFFFFFFFu, static_cast<uint32_t>(random())};
        for (uint32_t address : addresses)
            for (uint32_t delta : {0u, 1u, 0xFFFFFFFFu})
                targets.push_back(address + delta);
        for (uint32_t target : targets) {
            if (target == 0)
                continue;
            uint8_t slot = 77;
            uint8_t found = bp_find(target, &slot);
            auto [want_found, want_slot] = reference_find(target);
            ASSERT_EQ(found, want_found) << "count " << count << " target " << target;
            ASSERT_EQ(slot, want_slot) << "count " << count << " target " << target;
            // The slot after the result is the first one above the target.
            uint32_t next = static_cast<uint8_t>(slot + 1);
            if (next < BP_SLOTS) {
                ASSERT_GT(bp_table[next].address, target);
            }
        }
    }
}

TEST_F(Breakpoints, FindOfAddressZero) {
    for (uint32_t count : {0u, 1u, 200u, 254u, 255u}) {
        std::vector<uint32_t> addresses;
        for (uint32_t i = 0; i < count; i++)
            addresses.push_back(BASE + i);
        place(addresses);
        uint8_t slot = 77;
        uint8_t found = bp_find(0, &slot);
        if (count < 255) {
            EXPECT_EQ(found, 1) << count;
            EXPECT_LT(slot, BP_SLOTS - count) << "a free slot";
        } else {
            EXPECT_EQ(found, 0);
            EXPECT_EQ(slot, 255);
        }
    }
}

TEST_F(Breakpoints, FullTable) {
    std::vector<uint32_t> addresses;
    for (uint32_t i = 0; i < BP_SLOTS; i++)
        addresses.push_back(BASE + 0x100 + 2 * i);
    const uint32_t lowest = addresses.front();

    for (uint32_t removed : {lowest, addresses[100], addresses.back()}) {
        SCOPED_TRACE(removed);
        place(addresses);
        uint8_t slot = 77;
        EXPECT_EQ(bp_find(lowest, &slot), 1);
        EXPECT_EQ(slot, 0);
        EXPECT_EQ(bp_find(lowest - 1, &slot), 0);
        EXPECT_EQ(slot, 255);
        EXPECT_EQ(bp_find(lowest + 1, &slot), 0);
        EXPECT_EQ(slot, 0);

        size_t transfers = fake::reads().size() + fake::writes().size();
        EXPECT_EQ(run(cmd_break_set, "b 401000h"), "break not set - error _255\n");
        EXPECT_EQ(run(cmd_break_set, "b 0h"), "break not set - error _255\n");
        EXPECT_EQ(fake::reads().size() + fake::writes().size(), transfers);

        capture_start();
        EXPECT_EQ(bp_remove(removed), 0);
        capture_end();
        EXPECT_EQ(bp_count, 254);
        EXPECT_EQ(bp_table[0].address, 0u);
        EXPECT_EQ(bp_table[0].saved_byte, 0);
        EXPECT_TRUE(table_is_valid());
        EXPECT_EQ(fake::memory_byte(removed), original_byte(removed));
        EXPECT_EQ(bp_find(removed, &slot), 0);
    }
}

// Sets and removes in random orders up to a full table, against a model.
TEST_F(Breakpoints, RandomSetAndRemoveAgainstModel) {
    std::mt19937 random(777);
    std::vector<uint32_t> pool;
    for (uint32_t i = 0; i < 270; i++)
        pool.push_back(BASE + 3 * i);
    std::map<uint32_t, uint8_t> model; // address -> saved byte

    bool reached_full = false;
    for (int step = 0; step < 6000; step++) {
        // Phases that lean towards filling and towards emptying the table.
        bool lean_set = (step / 1000) % 2 == 0;
        bool do_set = random() % 100 < (lean_set ? 98u : 2u);
        uint32_t address = pool[random() % pool.size()];
        size_t reads = fake::reads().size(), writes = fake::writes().size();
        capture_start();
        uint8_t code = do_set ? bp_set(address) : bp_remove(address);
        std::string output = capture_end();
        SCOPED_TRACE(::testing::Message() << step << (do_set ? " set " : " remove ") << address);

        uint32_t count = static_cast<uint32_t>(model.size());
        bool present = model.count(address) != 0;
        uint32_t rank =
            static_cast<uint32_t>(std::distance(model.begin(), model.lower_bound(address)));
        if (do_set) {
            uint8_t want = count == 255 ? 255 : present ? 1 : 0;
            ASSERT_EQ(code, want);
            reached_full |= count == 255;
            if (count == 255) {
                ASSERT_EQ(output, "");
            } else {
                uint8_t index =
                    static_cast<uint8_t>(present ? 255 - count + rank : 254 - count + rank);
                ASSERT_EQ(output.substr(0, output.find("Find")),
                          "\nindex = " + std::to_string(index) + "\n");
            }
            if (code == 0) {
                model[address] = original_byte(address);
                ASSERT_EQ(fake::memory_byte(address), 0xCC);
                ASSERT_EQ(fake::reads().size(), reads + 1);
                ASSERT_EQ(fake::writes().size(), writes + 1);
                ASSERT_EQ(fake::reads().back().address, address);
                ASSERT_EQ(fake::reads().back().size, 1u);
            }
        } else {
            uint8_t want = count == 0 ? 255 : present ? 0 : 1;
            ASSERT_EQ(code, want);
            if (code == 0) {
                model.erase(address);
                ASSERT_EQ(fake::memory_byte(address), original_byte(address));
                ASSERT_EQ(fake::reads().size(), reads);
                ASSERT_EQ(fake::writes().size(), writes + 1);
            } else {
                ASSERT_EQ(output, "");
            }
        }
        if (code == 0) {
            ASSERT_EQ(fake::writes().back().address, address);
            ASSERT_EQ(fake::writes().back().size, 1u);
        } else {
            ASSERT_EQ(fake::reads().size(), reads);
            ASSERT_EQ(fake::writes().size(), writes);
        }

        ASSERT_EQ(bp_count, model.size());
        ASSERT_TRUE(table_is_valid());
        uint32_t slot = BP_SLOTS - bp_count;
        for (const auto &[want_address, saved] : model) {
            ASSERT_EQ(bp_table[slot].address, want_address);
            ASSERT_EQ(bp_table[slot].saved_byte, saved);
            slot++;
        }
    }
    EXPECT_TRUE(reached_full);
}

struct failure_case {
    const char *name;
    std::function<void()> prepare;
    void (*handler)();
    const char *line;
    std::string output;
    size_t reads, writes; // platform transfers tried
};

TEST_F(Breakpoints, FailuresChangeNothing) {
    const std::string below_all = "\nindex = 252\nFind = No\n";
    const failure_case cases[] = {
        {"already set", [] {}, cmd_break_set, "b 401010h",
         "\nindex = 254\nFind = Yes\nbreak not set - error _1\n", 0, 0},
        {"read fails", [] { fake::fail_reads_at(BASE); }, cmd_break_set, "b 401000h",
         below_all + "break not set - error _2\n", 1, 0},
        {"read moves nothing", [] { fake::short_reads_at(BASE); }, cmd_break_set, "b 401000h",
         below_all + "break not set - error _2\n", 1, 0},
        {"unmapped address", [] {}, cmd_break_set, "b 900000h",
         "\nindex = 254\nFind = No\nbreak not set - error _2\n", 1, 0},
        {"no debuggee", [] { debuggee_process.store(nullptr); }, cmd_break_set, "b 401000h",
         below_all + "break not set - error _2\n", 1, 0},
        {"write fails", [] { fake::fail_writes_at(BASE + 0xC); }, cmd_break_set, "b 40100Ch",
         "\nindex = 253\nFind = No\nbreak not set - error _3\n", 1, 1},
        {"address 0", [] {}, cmd_break_set, "b 0h", "break not set - error _254\n", 0, 0},
        {"remove unset", [] {}, cmd_break_remove, "d 40100Ch", "break not remove - error _1\n", 0,
         0},
        {"remove address 0", [] {}, cmd_break_remove, "d 0x0", "break not remove - error _255\n", 0,
         0},
        {"restore fails", [] { fake::fail_writes_at(BASE + 0x8); }, cmd_break_remove, "d 401008h",
         "break not remove - error _2\n", 0, 1},
        {"parser: empty", [] {}, cmd_break_set, "b ",
         "hexstr_to_uint   error \xB9"
         "1\n",
         0, 0},
        {"parser: blank", [] {}, cmd_break_set, "b  401000h",
         "hexstr_to_uint   error \xB9"
         "11\n",
         0, 0},
        {"parser: no notation", [] {}, cmd_break_set, "b 401000",
         "hexstr_to_uint   error \xB9"
         "12\n",
         0, 0},
        {"parser: both notations", [] {}, cmd_break_set, "b 0x401000h",
         "hexstr_to_uint   error \xB9"
         "3\n",
         0, 0},
        {"parser: remove empty", [] {}, cmd_break_remove, "d ",
         "hexstr_to_uint   error \xB9"
         "1\n",
         0, 0},
        {"parser: remove blank", [] {}, cmd_break_remove, "d  401008h",
         "hexstr_to_uint   error \xB9"
         "11\n",
         0, 0},
        {"parser: remove no notation", [] {}, cmd_break_remove, "d 401008",
         "hexstr_to_uint   error \xB9"
         "12\n",
         0, 0},
        {"parser: remove too long", [] {}, cmd_break_remove, "d 101401008h",
         "hexstr_to_uint   error \xB9"
         "2\n",
         0, 0},
    };
    for (const failure_case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        set_all({BASE + 0x8, BASE + 0x10}); // slots 253 and 254
        c.prepare();
        std::vector<bp_entry> table = table_copy();
        uint8_t count = bp_count;
        std::vector<uint8_t> memory;
        for (uint32_t i = 0; i < 0x40; i++)
            memory.push_back(fake::memory_byte(BASE + i));
        size_t reads = fake::reads().size(), writes = fake::writes().size();

        EXPECT_EQ(run(c.handler, c.line), c.output);
        EXPECT_TRUE(same_table(table, table_copy()));
        EXPECT_EQ(bp_count, count);
        for (uint32_t i = 0; i < 0x40; i++)
            EXPECT_EQ(fake::memory_byte(BASE + i), memory[i]) << i;
        EXPECT_EQ(fake::reads().size(), reads + c.reads);
        EXPECT_EQ(fake::writes().size(), writes + c.writes);
    }
}

TEST_F(Breakpoints, EmptyTableRefusesRemoval) {
    size_t writes = fake::writes().size();
    EXPECT_EQ(run(cmd_break_remove, "d 401000h"), "break not remove - error _255\n");
    EXPECT_EQ(fake::writes().size(), writes);
    EXPECT_EQ(fake::reads().size(), 0u);
}

} // namespace
