#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "breakpoints/bp_ops.h"
#include "console/command_loop.h"
#include "console/listing.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/support/capture.h"

namespace {

const uint32_t BASE = 0x401000;
const uint32_t MAPPED_FROM = BASE - 0x100;
const uint32_t MAPPED_SIZE = 0x1000;

uint8_t original_byte(uint32_t address) {
    return static_cast<uint8_t>((address * 2654435761u) >> 11);
}

// The decoder the listing calls: records each call, writes "op<n>" as the instruction
// text and returns the next of the scripted lengths.
struct decoder_call {
    const uint8_t *code;
    uint32_t size;
    uint32_t address;
    uint8_t *result;
    uint32_t mode;
    std::vector<uint8_t> bytes; // the first bytes it was given
};

std::vector<decoder_call> calls;
std::vector<uint32_t> lengths = {1};

uint32_t PLAT_CDECL recording_decoder(const uint8_t *code, uint32_t size, uint32_t address,
                                      uint8_t *result, uint32_t mode) {
    std::vector<uint8_t> bytes(code, code + (size < 8 ? size : 8));
    calls.push_back({code, size, address, result, mode, bytes});
    snprintf(reinterpret_cast<char *>(result) + DISASM_TEXT_OFFSET, 16, "op%zu", calls.size());
    return lengths[(calls.size() - 1) % lengths.size()];
}

std::string format(const char *pattern, uint32_t value) {
    char text[32];
    snprintf(text, sizeof text, pattern, value);
    return text;
}

// The lines of a dump: the address, then 16 bytes of the original memory.
std::string dump_lines(uint32_t address, uint32_t lines) {
    std::string text;
    for (uint32_t line = 0; line < lines; line++) {
        text += format("\n%08X:", address + 16 * line);
        for (uint32_t i = 0; i < 16; i++)
            text += format(" %02X", original_byte(address + 16 * line + i));
    }
    return text + "\n";
}

class Listing : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        debuggee_process.store(fake::process_handle());
        std::vector<uint8_t> bytes(MAPPED_SIZE);
        for (uint32_t i = 0; i < MAPPED_SIZE; i++)
            bytes[i] = original_byte(MAPPED_FROM + i);
        fake::map_memory(MAPPED_FROM, bytes);
        calls.clear();
        lengths = {1, 3, 2, 7, 15, 4, 6};
        disasm_fn = recording_decoder;
    }

    std::string run(void (*command)(), const char *line) {
        strcpy(command_buffer, line);
        capture_start();
        command();
        return capture_end();
    }
};

TEST_F(Listing, DumpFormatOfTheFirstLine) {
    fake::map_memory(BASE, {0x00, 0x01, 0xAB, 0xFF, 0x10});
    std::string output = run(cmd_dump, "dump 401000h 1");
    EXPECT_EQ(output.substr(0, 26), "\n00401000: 00 01 AB FF 10 ");
    EXPECT_EQ(output.size(), 1 + 9 + 16 * 3 + 1u);
}

struct dump_case {
    const char *line;
    uint32_t address;
    uint32_t lines; // 0: refused silently, no read
};

TEST_F(Listing, DumpCounts) {
    const dump_case cases[] = {
        {"dump", 0, 0},
        {"dump ", 0, 0},
        {"dumpx", 0, 0},
        {"dump 401000", 0, 0},
        {"dump 0X401000", 0, 0},
        {"dump 401000H 3", 0, 0},
        {"dump 401000h", BASE, 4},
        {"dumpster 401000h", BASE, 4},
        {"dump 0x401010 1", BASE + 0x10, 1},
        {"dump 401000h 24", BASE, 24},
        {"dump 401000h 0024", BASE, 24},
        {"dump 401000h 16", BASE, 16},
        {"dump 401000h 25", BASE, 4},
        {"dump 401000h 0", BASE, 4},
        {"dump 401000h x", BASE, 4},
        {"dump 401000h 4294967297", BASE, 4},
        {"dump 401000h 2 7", BASE, 4},
        {"dump 401000h ", BASE, 4},
        {"dump   401000h   5", BASE, 5},
    };
    for (const dump_case &c : cases) {
        SCOPED_TRACE(c.line);
        size_t reads = fake::reads().size();
        std::string output = run(cmd_dump, c.line);
        if (c.lines == 0) {
            EXPECT_EQ(output, "");
            EXPECT_EQ(fake::reads().size(), reads);
            continue;
        }
        EXPECT_EQ(output, dump_lines(c.address, c.lines));
        ASSERT_EQ(fake::reads().size(), reads + 1) << "one read of 384 bytes";
        EXPECT_EQ(fake::reads().back().address, c.address);
        EXPECT_EQ(fake::reads().back().size, 384u);
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(Listing, DumpErrorAndWrap) {
    EXPECT_EQ(run(cmd_dump, "dump 500000h"), "_error reading memory_\n");
    // 384 bytes from 0x401000 - 0x100 + 0x1000 - 0x10 run into unmapped memory.
    EXPECT_EQ(run(cmd_dump, "dump 401EF0h 1"), "_error reading memory_\n");

    std::vector<uint8_t> top(16);
    for (uint32_t i = 0; i < 16; i++)
        top[i] = original_byte(0xFFFFFFF0u + i);
    fake::map_memory(0xFFFFFFF0u, top);
    std::string output = run(cmd_dump, "dump FFFFFFF0h 2");
    EXPECT_EQ(output.substr(0, 58), dump_lines(0xFFFFFFF0u, 1).substr(0, 58));
    EXPECT_EQ(output.substr(58, 11), "\n00000000: ") << "the second line's address wraps";
}

TEST_F(Listing, DumpShowsSavedBytes) {
    capture_start();
    ASSERT_EQ(bp_set(BASE + 3), 0);
    ASSERT_EQ(bp_set(BASE + 0x3F), 0);
    ASSERT_EQ(bp_set(BASE + 0x40), 0); // behind the 4 lines shown
    capture_end();
    ASSERT_EQ(fake::memory_byte(BASE + 3), 0xCC);
    EXPECT_EQ(run(cmd_dump, "dump 401000h"), dump_lines(BASE, 4));
}

struct dis_case {
    const char *line;
    std::string echo;
    std::vector<uint32_t> chunks; // instructions per chunk, each chunk one read
};

TEST_F(Listing, DisChunksAndLabels) {
    const dis_case cases[] = {
        {"dis 401000h 3", "argc = 3\nargv[2] = 3\nargv[1] = 401000h\nargv[0] = dis\n", {3}},
        {"dis 401000h", "argc = 2\nargv[1] = 401000h\nargv[0] = dis\n", {0, 10}},
        {"dis 401000h 5 x",
         "argc = 4\nargv[3] = (null)\nargv[2] = 5\nargv[1] = 401000h\nargv[0] = dis\n",
         {0, 10}},
        {"dis 401000h ", "argc = 3\nargv[2] = \nargv[1] = 401000h\nargv[0] = dis\n", {0, 10}},
        {"dis 401000h 24",
         "argc = 3\nargv[2] = 24\nargv[1] = 401000h\nargv[0] = dis\n",
         {4, 10, 10}},
        {"dis 401000h 20",
         "argc = 3\nargv[2] = 20\nargv[1] = 401000h\nargv[0] = dis\n",
         {0, 10, 10}},
        {"dis 401000h 11", "argc = 3\nargv[2] = 11\nargv[1] = 401000h\nargv[0] = dis\n", {1, 10}},
        {"dis 401000h 1", "argc = 3\nargv[2] = 1\nargv[1] = 401000h\nargv[0] = dis\n", {1}},
        {"dis 401000h 25", "argc = 3\nargv[2] = 25\nargv[1] = 401000h\nargv[0] = dis\n", {0, 10}},
        {"dis 401000h 0", "argc = 3\nargv[2] = 0\nargv[1] = 401000h\nargv[0] = dis\n", {0, 10}},
        {"dis 401000h x", "argc = 3\nargv[2] = x\nargv[1] = 401000h\nargv[0] = dis\n", {0, 10}},
        {"dis  0x401000  9", "argc = 3\nargv[2] = 9\nargv[1] = 0x401000\nargv[0] = dis\n", {9}},
    };
    for (const dis_case &c : cases) {
        SCOPED_TRACE(c.line);
        SetUp();
        std::string output = run(cmd_dis, c.line);

        // Labels run on from chunk to chunk: each is the address behind its instruction.
        std::string want = c.echo;
        uint32_t address = BASE;
        std::vector<uint32_t> chunk_starts;
        size_t call = 0;
        for (uint32_t chunk_size : c.chunks) {
            chunk_starts.push_back(address);
            uint32_t offset = 0;
            for (uint32_t i = 0; i < chunk_size; i++, call++) {
                SCOPED_TRACE(call);
                ASSERT_LT(call, calls.size());
                const decoder_call &made = calls[call];
                EXPECT_EQ(made.size, 384 - offset);
                EXPECT_EQ(made.code, calls[call - i].code + offset);
                EXPECT_EQ(made.address, 0u);
                EXPECT_EQ(made.mode, 3u);
                EXPECT_EQ(made.result, calls[0].result) << "one record for all calls";
                std::vector<uint8_t> expected;
                for (uint32_t k = 0; k < made.bytes.size(); k++)
                    expected.push_back(original_byte(address + k));
                EXPECT_EQ(made.bytes, expected) << "decoding the wrong bytes";
                uint32_t length = lengths[call % lengths.size()];
                offset += length;
                address += length;
                want += format("%08X:\t", address) + "op" + std::to_string(call + 1) + "\n";
            }
        }
        EXPECT_EQ(calls.size(), call);
        EXPECT_EQ(output, want);
        ASSERT_EQ(fake::reads().size(), chunk_starts.size());
        for (size_t i = 0; i < chunk_starts.size(); i++) {
            EXPECT_EQ(fake::reads()[i].address, chunk_starts[i]) << "chunk " << i;
            EXPECT_EQ(fake::reads()[i].size, 384u) << "chunk " << i;
        }
    }
}

TEST_F(Listing, DisRefusesSilently) {
    for (const char *line : {"dis ", "dis  ", "dis 401000", "dis 0X401000", "dis 401000H 3"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(run(cmd_dis, line), "");
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(fake::reads().empty());
}

TEST_F(Listing, DisReadErrors) {
    // At the start: the echo, then the message.
    EXPECT_EQ(run(cmd_dis, "dis 500000h 3"),
              "argc = 3\nargv[2] = 3\nargv[1] = 500000h\nargv[0] = dis\n"
              "_error reading memory_\n");
    EXPECT_TRUE(calls.empty());

    // In the third chunk: 4 + 10 instructions of 16 bytes, then the read at 0x4010E0
    // runs past the mapped memory. The lines of the first two chunks stay.
    SetUp();
    fake::reset();
    debuggee_process.store(fake::process_handle());
    disasm_fn = recording_decoder;
    lengths = {16};
    std::vector<uint8_t> bytes(0x40 + 384);
    for (uint32_t i = 0; i < bytes.size(); i++)
        bytes[i] = original_byte(BASE + i);
    fake::map_memory(BASE, bytes);
    std::string want = "argc = 3\nargv[2] = 24\nargv[1] = 401000h\nargv[0] = dis\n";
    for (uint32_t i = 1; i <= 14; i++)
        want += format("%08X:\t", BASE + 16 * i) + "op" + std::to_string(i) + "\n";
    EXPECT_EQ(run(cmd_dis, "dis 401000h 24"), want + "_error reading memory_\n");
    EXPECT_EQ(calls.size(), 14u);
    ASSERT_EQ(fake::reads().size(), 3u);
    EXPECT_EQ(fake::reads()[2].address, BASE + 14 * 16);
}

TEST_F(Listing, DisShowsSavedBytes) {
    capture_start();
    ASSERT_EQ(bp_set(BASE), 0);
    ASSERT_EQ(bp_set(BASE + 1), 0);
    ASSERT_EQ(bp_set(BASE + 5), 0);
    capture_end();
    lengths = {4};
    run(cmd_dis, "dis 401000h 2");
    ASSERT_EQ(calls.size(), 2u);
    std::vector<uint8_t> first, second;
    for (uint32_t k = 0; k < 8; k++) {
        first.push_back(original_byte(BASE + k));
        second.push_back(original_byte(BASE + 4 + k));
    }
    EXPECT_EQ(calls[0].bytes, first);
    EXPECT_EQ(calls[1].bytes, second);
}

} // namespace
