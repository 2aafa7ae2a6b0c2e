// Breakpoints, dump and dis end to end, on a debuggee whose code we know.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/e2e/session.h"

namespace {

std::string hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string field4(uint32_t value, const char *format) {
    char text[16];
    snprintf(text, sizeof text, format, value);
    return text;
}

// A debuggee halted at its initial stop, with known code at known addresses.
class MemoryE2e : public testing::Test {
  protected:
    void SetUp() override {
        debugger.read_to_prompt();
        ASSERT_FALSE(debugger.poll_until("Exception on addr").empty()) << "no initial stop";
    }
    session debugger{{quoted_path(target_path("run_forever"))}};
    uint32_t known = target_symbol("run_forever", "known_code");
    uint32_t tick = target_symbol("run_forever", "tick_target");
};

TEST_F(MemoryE2e, SetAndRemoveOutputByteForByte) {
    std::string address = hex8(known);
    std::string expected_set = "\nindex = 254\nFind = No\n";
    for (int i = 0; i < 254; i++)
        expected_set += "   0 ";
    expected_set += field4(known, "%4X ") + "break on addr " + address + " set succesful\n";
    EXPECT_EQ(debugger.command("b " + address + "h"), crlf(expected_set));

    EXPECT_EQ(debugger.command("b " + address + "h"),
              crlf("\nindex = 254\nFind = Yes\nbreak not set - error _1\n"));

    std::string expected_remove;
    for (int i = 0; i < 255; i++)
        expected_remove += "   0";
    expected_remove += "break on addr " + address + " remove succesful\n";
    EXPECT_EQ(debugger.command("d 0x" + address), crlf(expected_remove));
    EXPECT_EQ(debugger.command("d " + address + "h"), crlf("break not remove - error _255\n"));
}

TEST_F(MemoryE2e, DumpShowsTheImageWithBreakpointsMasked) {
    std::vector<uint8_t> image = target_image_bytes("run_forever", known, 64);
    ASSERT_EQ(image.size(), 64u);
    ASSERT_EQ(image[0], 0x55) << "known_code should begin with push ebp";
    std::string expected = "\n";
    for (uint32_t line = 0; line < 4; line++) {
        expected += hex8(known + line * 16) + ":";
        for (uint32_t i = 0; i < 16; i++)
            expected += field4(image[line * 16 + i], " %02X");
        expected += "\n";
    }
    // An empty line first, then one line of 16 bytes per 16 addresses.
    std::string wanted = crlf(expected);
    EXPECT_EQ(debugger.command("dump " + hex8(known) + "h"), wanted);

    debugger.command("b " + hex8(known) + "h");
    debugger.command("b " + hex8(known + 4) + "h");
    EXPECT_EQ(debugger.command("dump " + hex8(known) + "h"), wanted);
    EXPECT_EQ(debugger.command("dump " + hex8(known) + "h 1"),
              crlf(expected.substr(0, 1 + 9 + 48) + "\n"));
}

// push ebp; mov ebp, esp; sub esp, 10h; mov eax, [ebp+8]; add eax, imm32; call rel32;
// xor eax, eax; leave; ret
const uint32_t KNOWN_LENGTHS[] = {1, 2, 3, 3, 5, 5, 2, 1, 1};

TEST_F(MemoryE2e, DisLabelsAdvanceByInstructionLengths) {
    for (bool with_breakpoint : {false, true}) {
        if (with_breakpoint)
            debugger.command("b " + hex8(known + 3) + "h");
        std::string listing = debugger.command("dis " + hex8(known) + "h 9");
        std::string expected_echo =
            "argc = 3\r\nargv[2] = 9\r\nargv[1] = " + hex8(known) + "h\r\nargv[0] = dis\r\n";
        ASSERT_EQ(listing.substr(0, expected_echo.size()), expected_echo);
        std::string lines = listing.substr(expected_echo.size());
        uint32_t label = known;
        size_t at = 0;
        for (uint32_t length : KNOWN_LENGTHS) {
            label += length;
            std::string prefix = hex8(label) + ":\t";
            ASSERT_EQ(lines.compare(at, prefix.size(), prefix), 0)
                << "at " << hex8(label) << " in " << lines;
            at = lines.find("\r\n", at) + 2;
        }
        EXPECT_EQ(at, lines.size()) << "nine lines and nothing after them";
        EXPECT_NE(lines.find("push ebp"), std::string::npos) << lines;
        EXPECT_NE(lines.find("mov ebp, esp"), std::string::npos) << lines;
    }
}

TEST_F(MemoryE2e, BreakpointIsHitAndReported) {
    std::string address = hex8(tick);
    EXPECT_NE(debugger.command("b " + address + "h").find("set succesful"), std::string::npos);
    EXPECT_EQ(debugger.command("cont"), "");
    std::string hit = debugger.poll_until("Exception on addr");
    EXPECT_EQ(hit, crlf("...unknown command...\nException on addr " + address + "\n"));
    // The listing still shows the nop that the breakpoint replaced.
    std::string dump = debugger.command("dump " + address + "h 1");
    EXPECT_NE(dump.find(address + ": 90 C3"), std::string::npos) << dump;
    // Released, it runs on behind the breakpoint and stops there again next round.
    EXPECT_EQ(debugger.command("cont"), "");
    EXPECT_EQ(debugger.poll_until("Exception on addr"), hit);
}

TEST_F(MemoryE2e, UnreadableMemory) {
    EXPECT_EQ(debugger.command("b 10h"),
              crlf("\nindex = 254\nFind = No\nbreak not set - error _2\n"));
    EXPECT_EQ(debugger.command("d 10h"), crlf("break not remove - error _255\n"));
    EXPECT_EQ(debugger.command("dump 10h"), crlf("_error reading memory_\n"));
    EXPECT_EQ(
        debugger.command("dis 10h 3"),
        crlf("argc = 3\nargv[2] = 3\nargv[1] = 10h\nargv[0] = dis\n_error reading memory_\n"));
    EXPECT_EQ(debugger.command("dump 0xFFFFFF00 24"), crlf("_error reading memory_\n"));
}

} // namespace
