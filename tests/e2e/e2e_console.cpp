// The console end to end: number commands, dispatch rules, long lines, end of input.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/e2e/session.h"

namespace {

const char *NO_PROGRAM = "no_such_program_here.exe";

struct exchange {
    const char *line;
    const char *output; // with \n line ends; compared as CR LF
};

void expect_exchanges(session &debugger, const std::vector<exchange> &exchanges) {
    for (const exchange &step : exchanges)
        EXPECT_EQ(debugger.command(step.line), crlf(step.output)) << "line: " << step.line;
}

TEST(ConsoleE2e, NumberCommands) {
    session debugger({NO_PROGRAM});
    EXPECT_EQ(debugger.read_to_prompt(), "");
    expect_exchanges(debugger, {
                                   {"hex 1Fh", "number is = 0000001F\n"},
                                   {"hex 0x1f", "number is = 0000001F\n"},
                                   {"hex 1F", "error \xB9"
                                              "12\n"},
                                   {"hex ", "error \xB9"
                                            "1\n"},
                                   {"hex  1Fh", "error \xB9"
                                                "11\n"},
                                   {"hex 0x1Fh", "error \xB9"
                                                 "3\n"},
                                   {"hex 100000000h", "error \xB9"
                                                      "2\n"},
                                   {"hex FFFFFFFFh", "number is = FFFFFFFF\n"},
                                   {"dec 42", "number is = 00000042\n"},
                                   {"dec 4294967295", "number is = 4294967295\n"},
                                   {"dec 4294967296", "error \xB9"
                                                      "4\n"},
                                   {"dec 12a", "error \xB9"
                                               "3\n"},
                                   {"dec ", "error \xB9"
                                            "1\n"},
                                   {"dec 99999999999", "error \xB9"
                                                       "2\n"},
                               });
}

TEST(ConsoleE2e, DispatchRules) {
    session debugger({NO_PROGRAM});
    debugger.read_to_prompt();
    const char *unknown = "...unknown command...\n";
    expect_exchanges(debugger, {
                                   {"", unknown},
                                   {"HEX 1Fh", unknown},
                                   {"Exit", unknown},
                                   {"exit ", unknown},
                                   {" exit", unknown},
                                   {"dis", unknown},
                                   {"b", unknown},
                                   {"d", unknown},
                                   {"hexadecimal", unknown},
                                   {"decimal", unknown},
                                   {"thrd", ""},
                                   {"cont", ""},
                                   {"stop", ""},
                                   {"resume", ""},
                                   {"dump", ""},
                                   {"dump ", ""},
                                   {"dis ", ""},
                                   {"dump 401000", ""},
                                   {"dis 0X401000", ""},
                                   {"b 401000", "hexstr_to_uint   error \xB9"
                                                "12\n"},
                                   {"b ", "hexstr_to_uint   error \xB9"
                                          "1\n"},
                                   {"d  401000h", "hexstr_to_uint   error \xB9"
                                                  "11\n"},
                                   {"d 401000h", "break not remove - error _255\n"},
                                   {"b 0h", "break not set - error _254\n"},
                               });
    // 'dumpster ADDR' is a dump: with no debuggee the read fails.
    EXPECT_EQ(debugger.command("dumpster 401000h"), crlf("_error reading memory_\n"));
    // Windows line ends from the input are taken as plain ones.
    debugger.send_raw("hex 2Ah\r\n");
    EXPECT_EQ(debugger.read_to_prompt(), crlf("number is = 0000002A\n"));
}

TEST(ConsoleE2e, LongLinesAndOddBytes) {
    session debugger({NO_PROGRAM});
    debugger.read_to_prompt();
    // 255 characters are one whole command: its line end is not an extra empty line.
    std::string exact = "hex " + std::string(248, '0') + "1Fh";
    ASSERT_EQ(exact.size(), 255u);
    EXPECT_EQ(debugger.command(exact), crlf("number is = 0000001F\n"));
    EXPECT_EQ(debugger.command("thrd"), "");

    // Longer lines are read to their end and refused whole: nothing of them runs.
    const std::string refused = crlf("...command too long (over 255 characters), ignored...\n");
    EXPECT_EQ(debugger.command("hex " + std::string(249, '0') + "1Fh"), refused);
    EXPECT_EQ(debugger.command(std::string(300, 'x') + "exit"), refused);
    EXPECT_EQ(debugger.command(std::string(5000, ' ') + "hex 1h"), refused);
    EXPECT_EQ(debugger.command("hex 2h"), crlf("number is = 00000002\n"));

    // A NUL or high byte inside a line neither crashes the loop nor puts it out of step.
    EXPECT_EQ(debugger.command(std::string("hex 1h\0junk", 11)), crlf("number is = 00000001\n"));
    EXPECT_EQ(debugger.command("\xFF\x01\x7F"), crlf("...unknown command...\n"));
    EXPECT_EQ(debugger.command("dec 7"), crlf("number is = 00000007\n"));
}

TEST(ConsoleE2e, EndOfInputEndsLikeExit) {
    session debugger({NO_PROGRAM});
    debugger.read_to_prompt();
    EXPECT_EQ(debugger.command("hex 1h"), crlf("number is = 00000001\n"));
    debugger.close_input();
    run_result end = debugger.wait_exit(20000);
    EXPECT_EQ(end.exit_code, 0) << end;
    EXPECT_EQ(end.output, crlf("...press any key for exit...\n"));
}

TEST(ConsoleE2e, ExitAsFirstCommand) {
    session debugger({quoted_path(target_path("run_forever"))});
    debugger.read_to_prompt();
    debugger.send_raw("exit\n");
    run_result end = debugger.wait_exit(20000);
    EXPECT_EQ(end.exit_code, 0) << end;
    EXPECT_EQ(end.output, crlf("...press any key for exit...\n"));
    EXPECT_EQ(debugger.count_processes("run_forever"), 0);
}

// Schedulers and CI runners start console programs with a console that nobody can see or
// type into, one without a window, as every session here does: "exit" must not wait for a
// key there.
TEST(ConsoleE2e, ExitEndsWhereNobodyCanPressAKey) {
    session debugger({NO_PROGRAM}, "", "", HIDDEN);
    debugger.send_raw("thrd\nexit\n");
    run_result end = debugger.wait_exit(20000);
    EXPECT_EQ(end.exit_code, 0) << end;
    EXPECT_EQ(end.output, crlf(">>...press any key for exit...\n"));
}

// Whether a console window here is one that a person can see: not on a service's window
// station, nor in session 0 of Windows Vista and later.
bool consoles_are_seen() {
    USEROBJECTFLAGS flags = {};
    DWORD session = 1;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                     nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0 && (session != 0 || LOBYTE(GetVersion()) < 6);
}

// At a console that a person sees, "exit" waits for a key, and a key pressed there ends it.
// Meanwhile the debuggee has ended: on Windows the debug thread's end kills it.
TEST(ConsoleE2e, ExitWaitsForAKeyAtAConsoleWindow) {
    if (under_wine())
        GTEST_SKIP() << "under Wine a program with piped input has no console to wait at";
    if (!consoles_are_seen())
        GTEST_SKIP() << "nobody can see a console window here (a service's session)";
    session debugger({quoted_path(target_path("run_forever"))}, "", "", NEW_CONSOLE);
    debugger.read_to_prompt();
    ASSERT_NE(debugger.poll_until("Exception on addr"), "") << "no initial stop";
    debugger.command("cont");
    debugger.send_raw("exit\n");
    run_result end = debugger.wait_exit(2000);
    ASSERT_FALSE(end.exited) << "exit did not wait for a key: " << end;
    EXPECT_EQ(debugger.count_processes("run_forever"), 0) << "the debuggee outlived its debugger";
    // The wait empties the console's input first: press until it ends.
    std::string rest = end.output;
    for (int i = 0; i < 10 && !end.exited; i++) {
        std::string pid = std::to_string(debugger.pid());
        run_result press = run_program({target_path("press_key"), pid}, "", 10000);
        ASSERT_EQ(press.exit_code, 0) << press;
        end = debugger.wait_exit(1000);
        rest += end.output;
    }
    EXPECT_EQ(end.exit_code, 0) << end;
    EXPECT_EQ(rest, crlf("...press any key for exit...\n"));
}

} // namespace
