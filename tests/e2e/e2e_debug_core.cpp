// The debug core end to end: launch, initial stop, hand-off, the debuggee's end,
// the launch command line, and the program's exit codes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <regex>

#include "tests/e2e/session.h"

namespace {

const std::string UNKNOWN = crlf("...unknown command...\n");

void copy_file(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

// Reads the stop address out of an exception report.
bool is_exception_report(const std::string &report) {
    static const std::regex pattern(
        "\\.\\.\\.unknown command\\.\\.\\.\r\nException on addr [0-9A-F]{8}\r\n");
    return std::regex_match(report, pattern);
}

TEST(DebugCoreE2e, InitialStopThenEndReportedOnce) {
    session debugger({quoted_path(target_path("end_at_once"))});
    debugger.read_to_prompt();
    std::string stop = debugger.poll_until("Exception on addr");
    ASSERT_TRUE(is_exception_report(stop)) << testing::PrintToString(stop);
    // Reported once; the debuggee stays halted until "cont".
    for (int i = 0; i < 5; i++) {
        usleep(100 * 1000);
        EXPECT_EQ(debugger.command(""), UNKNOWN);
    }
    EXPECT_EQ(debugger.count_processes("end_at_once"), 1);
    EXPECT_EQ(debugger.command("cont"), "");
    std::string end = debugger.poll_until("terminated");
    static const std::regex pattern(
        "\\.\\.\\.unknown command\\.\\.\\.\r\nProcess with PID 0x[0-9A-F]{4,8} "
        "terminated, existing code = 0x1234\r\n");
    EXPECT_TRUE(std::regex_match(end, pattern)) << testing::PrintToString(end);
    EXPECT_EQ(debugger.command(""), UNKNOWN);
    EXPECT_EQ(debugger.command("cont"), "");
    EXPECT_EQ(debugger.command(""), UNKNOWN);
}

TEST(DebugCoreE2e, ExceptionPassedThroughMakesNoStop) {
    session debugger({quoted_path(target_path("raise_passed"))});
    debugger.read_to_prompt();
    ASSERT_FALSE(debugger.poll_until("Exception on addr").empty());
    EXPECT_EQ(debugger.command("cont"), "");
    std::string report;
    int polls = 200 * deadline_factor();
    for (int i = 0; i < polls && report.find("terminated") == std::string::npos; i++) {
        report = debugger.command("");
        EXPECT_EQ(report.find("Exception"), std::string::npos) << report;
        usleep(50 * 1000);
    }
    // The debuggee's own handler saw the exception and it ended normally.
    EXPECT_NE(report.find("existing code = 0x0077\r\n"), std::string::npos)
        << "the last report (polls' deadline " << deadline_text(10000) << "): " << report;
}

TEST(DebugCoreE2e, CommandLineNamingNoProgramIsSilent) {
    session debugger({"no_such_program_here.exe"});
    debugger.read_to_prompt();
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(debugger.command(""), UNKNOWN);
        EXPECT_EQ(debugger.command("cont"), "");
        usleep(100 * 1000);
    }
    EXPECT_EQ(debugger.command("hex 1h"), crlf("number is = 00000001\n"));
}

// The debuggee writes the command line it got into a file; only 255 characters arrive. It
// starts by a short relative path from the debugger's working folder, a temporary one: so,
// however long the path of the tests' folder, the cut falls in its arguments.
TEST(DebugCoreE2e, LaunchCommandLineIsCutAt255) {
    std::string directory = make_temp_dir();
    copy_file(target_path("write_cmdline"), directory + "\\write_cmdline.exe");
    for (size_t length : {255u, 256u, 300u}) {
        std::string output = "line" + std::to_string(length) + ".txt";
        std::string line = quoted_path(".\\write_cmdline.exe") + " " + output + " ";
        line += std::string(length - line.size(), 'A');

        session debugger({line}, "", directory);
        debugger.read_to_prompt();
        ASSERT_FALSE(debugger.poll_until("Exception on addr").empty()) << length;
        debugger.command("cont");
        std::string end = debugger.poll_until("terminated");
        EXPECT_NE(end.find("existing code = 0x0000"), std::string::npos) << end;
        EXPECT_EQ(read_file(directory + "\\" + output), line.substr(0, 255))
            << "command line of " << length;
    }
}

struct startup_case {
    const char *name;
    std::vector<std::string> arguments;
    const char *library; // copied beside the program as disasm.dll; null: none
    int exit_code;
};

TEST(DebugCoreE2e, StartupFailuresGiveExitCodesSilently) {
    std::string run_forever = quoted_path(target_path("run_forever"));
    const std::vector<startup_case> cases = {
        {"no argument", {}, "disasm.dll", 3},
        {"two arguments", {run_forever, "x"}, "disasm.dll", 3},
        {"no library", {run_forever}, nullptr, 2},
        {"library without Disasm", {run_forever}, "targets\\no_disasm_export.dll", 3},
    };
    for (const startup_case &test : cases) {
        std::string directory = make_temp_dir();
        copy_file(win32_dir() + "\\dbg32.exe", directory + "\\dbg32.exe");
        if (test.library != nullptr)
            copy_file(win32_dir() + "\\" + test.library, directory + "\\disasm.dll");
        session debugger(test.arguments, directory + "\\dbg32.exe", directory);
        run_result end = debugger.wait_exit(20000);
        EXPECT_EQ(end.exit_code, test.exit_code) << test.name << ": " << end;
        EXPECT_EQ(end.output, "") << test.name;
        EXPECT_EQ(debugger.count_processes("run_forever"), 0) << test.name;
    }
}

TEST(DebugCoreE2e, OldSystemIsRefused) {
    if (!under_wine())
        GTEST_SKIP() << "Wine alone can report an older Windows to one program";
    // The prefix reports Windows 2000 for this one program name.
    std::string directory = make_temp_dir();
    copy_file(win32_dir() + "\\dbg32.exe", directory + "\\dbg32_win2k.exe");
    copy_file(win32_dir() + "\\disasm.dll", directory + "\\disasm.dll");
    run_result configured =
        run_program({"reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\dbg32_win2k.exe", "/v",
                     "Version", "/t", "REG_SZ", "/d", "win2k", "/f"},
                    "", 60000);
    ASSERT_TRUE(configured.exited) << configured;
    session debugger({quoted_path(target_path("run_forever"))}, directory + "\\dbg32_win2k.exe",
                     directory);
    run_result end = debugger.wait_exit(20000);
    EXPECT_EQ(end.exit_code, 1) << end;
    EXPECT_EQ(end.output, crlf("...Error inializing of debug core...\n"));
    EXPECT_EQ(debugger.count_processes("run_forever"), 0);
}

} // namespace
