// Execution control end to end: stop, resume, rest and exit in each state.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "tests/e2e/session.h"

namespace {

const std::string UNKNOWN = crlf("...unknown command...\n");

std::string hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

// The debuggee's round counter, read through 'dump'.
uint32_t read_counter(session &debugger) {
    uint32_t address = target_symbol("run_forever", "round_counter");
    std::string dump = debugger.command("dump " + hex8(address) + "h 1");
    unsigned bytes[4] = {};
    std::string head = "\r\n" + hex8(address) + ": %2X %2X %2X %2X";
    if (sscanf(dump.c_str(), head.c_str(), &bytes[0], &bytes[1], &bytes[2], &bytes[3]) != 4) {
        ADD_FAILURE() << "no counter in " << dump;
        return 0;
    }
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24;
}

// Whether the counter moves within a few seconds: a slow machine may take a while to get a
// released debuggee going again.
bool counter_moves(session &debugger) {
    uint32_t before = read_counter(debugger);
    for (int i = 0; i < 50 * deadline_factor(); i++) {
        usleep(100 * 1000);
        if (read_counter(debugger) != before)
            return true;
    }
    return false;
}

// Whether the counter stays where it is for 300 ms.
bool counter_stands_still(session &debugger) {
    uint32_t before = read_counter(debugger);
    usleep(300 * 1000);
    return read_counter(debugger) == before;
}

void reach_initial_stop(session &debugger) {
    debugger.read_to_prompt();
    ASSERT_FALSE(debugger.poll_until("Exception on addr").empty()) << "no initial stop";
}

// Polls a few times: the next reports must all be empty.
void expect_nothing_pending(session &debugger) {
    for (int i = 0; i < 3; i++) {
        usleep(100 * 1000);
        EXPECT_EQ(debugger.command(""), UNKNOWN);
    }
}

TEST(ExecControlE2e, StopAndResume) {
    session debugger({quoted_path(target_path("run_forever"))});
    reach_initial_stop(debugger);
    // At an exception "stop" and "resume" are refused; "cont" releases.
    EXPECT_EQ(debugger.command("stop"), "");
    EXPECT_EQ(debugger.command("resume"), "");
    EXPECT_TRUE(counter_stands_still(debugger));
    EXPECT_EQ(debugger.command("cont"), "");
    EXPECT_TRUE(counter_moves(debugger));
    // "resume" without "stop" changes nothing.
    EXPECT_EQ(debugger.command("resume"), "");
    EXPECT_TRUE(counter_moves(debugger));
    // A second "stop" is refused, so one "resume" lets it run again.
    EXPECT_EQ(debugger.command("stop"), "");
    EXPECT_EQ(debugger.command("stop"), "");
    EXPECT_TRUE(counter_stands_still(debugger));
    EXPECT_EQ(debugger.command("resume"), "");
    EXPECT_TRUE(counter_moves(debugger));
    expect_nothing_pending(debugger);
}

// Breakpoint set before "rest"; afterwards the table is empty and a new run stops.
void expect_fresh_run(session &debugger, uint32_t old_breakpoint) {
    std::string stop = debugger.poll_until("Exception on addr");
    EXPECT_NE(stop, "") << "no initial stop after rest";
    EXPECT_EQ(debugger.command("d " + hex8(old_breakpoint) + "h"),
              crlf("break not remove - error _255\n"));
    expect_nothing_pending(debugger);
    EXPECT_EQ(debugger.count_processes("run_forever"), 1);
}

TEST(ExecControlE2e, RestInEachState) {
    session debugger({quoted_path(target_path("run_forever"))});
    reach_initial_stop(debugger);
    uint32_t tick = target_symbol("run_forever", "tick_target");
    uint32_t known = target_symbol("run_forever", "known_code");

    // Waiting at an exception (the initial stop, already reported).
    debugger.command("b " + hex8(known) + "h");
    EXPECT_EQ(debugger.command("rest"), "");
    expect_fresh_run(debugger, known);

    // Running.
    debugger.command("b " + hex8(known) + "h");
    debugger.command("cont");
    ASSERT_TRUE(counter_moves(debugger));
    EXPECT_EQ(debugger.command("rest"), "");
    expect_fresh_run(debugger, known);

    // Suspended.
    debugger.command("cont");
    debugger.command("b " + hex8(known) + "h");
    debugger.command("stop");
    ASSERT_TRUE(counter_stands_still(debugger));
    EXPECT_EQ(debugger.command("rest"), "");
    expect_fresh_run(debugger, known);

    // Stopped at a breakpoint that was hit.
    debugger.command("b " + hex8(tick) + "h");
    debugger.command("cont");
    EXPECT_EQ(debugger.poll_until("Exception on addr"),
              UNKNOWN + crlf("Exception on addr " + hex8(tick) + "\n"));
    EXPECT_EQ(debugger.command("rest"), "");
    expect_fresh_run(debugger, tick);
    // And the new run really runs after "cont".
    debugger.command("cont");
    EXPECT_TRUE(counter_moves(debugger));
}

TEST(ExecControlE2e, RestAfterTheEnd) {
    session debugger({quoted_path(target_path("end_at_once"))});
    reach_initial_stop(debugger);
    uint32_t never = target_symbol("end_at_once", "never_called");
    EXPECT_NE(debugger.command("b " + hex8(never) + "h").find("set succesful"), std::string::npos);
    debugger.command("cont");
    std::string end = debugger.poll_until("terminated");
    ASSERT_NE(end, "");
    // The breakpoint outlives the debuggee's own end, and "rest" empties the table.
    EXPECT_EQ(debugger.command("rest"), "");
    std::string stop = debugger.poll_until("Exception on addr");
    EXPECT_NE(stop, "");
    EXPECT_EQ(debugger.command("d " + hex8(never) + "h"), crlf("break not remove - error _255\n"));

    // An end not polled before "rest" is still reported, and then the new run's stop.
    debugger.command("cont");
    for (int i = 0; i < 200 * deadline_factor() && debugger.count_processes("end_at_once") > 0; i++)
        usleep(50 * 1000);
    ASSERT_EQ(debugger.count_processes("end_at_once"), 0)
        << "the debuggee did not end within " << deadline_text(10000);
    EXPECT_EQ(debugger.command("rest"), "");
    std::string first = debugger.command("");
    for (int i = 0; i < 100 * deadline_factor() && first == UNKNOWN; i++) {
        usleep(50 * 1000);
        first = debugger.command("");
    }
    static const std::regex second_end(
        "\\.\\.\\.unknown command\\.\\.\\.\r\nProcess with PID 0x[0-9A-F]{4,8} "
        "terminated, existing code = 0x1234\r\n");
    EXPECT_TRUE(std::regex_match(first, second_end))
        << "the first report within " << deadline_text(5000) << ": " << first;
    EXPECT_NE(first, end) << "the second run is another process";
    EXPECT_NE(debugger.poll_until("Exception on addr"), "");
    expect_nothing_pending(debugger);
}

TEST(ExecControlE2e, RestRetriesALaunchThatFailed) {
    std::string program = make_temp_dir() + "\\late.exe";
    session debugger({quoted_path(program)});
    debugger.read_to_prompt();
    EXPECT_EQ(debugger.command("rest"), "");
    EXPECT_EQ(debugger.command("rest"), "");
    expect_nothing_pending(debugger);
    // Once the program exists, the next "rest" launches it.
    std::ifstream from(target_path("end_at_once"), std::ios::binary);
    std::ofstream(program, std::ios::binary) << from.rdbuf();
    EXPECT_EQ(debugger.command("rest"), "");
    EXPECT_NE(debugger.poll_until("Exception on addr"), "");
}

// The debugger's end ends the debuggee too, soon after.
void expect_debuggee_ends(session &debugger) {
    for (int i = 0; i < 100 * deadline_factor() && debugger.count_processes("run_forever") > 0; i++)
        usleep(50 * 1000);
    EXPECT_EQ(debugger.count_processes("run_forever"), 0)
        << "the debuggee still runs " << deadline_text(5000) << " after its debugger's end";
}

TEST(ExecControlE2e, ExitAtAnExceptionEndsProgramAndDebuggee) {
    session debugger({quoted_path(target_path("run_forever"))});
    reach_initial_stop(debugger);
    EXPECT_EQ(debugger.count_processes("run_forever"), 1);
    debugger.send_raw("exit\n");
    run_result end = debugger.wait_exit(20000);
    EXPECT_EQ(end.exit_code, 0) << end;
    EXPECT_EQ(end.output, crlf("...press any key for exit...\n"));
    expect_debuggee_ends(debugger);
}

TEST(ExecControlE2e, ExitWhileRunningAndWhileSuspended) {
    for (const char *last : {"cont", "stop"}) {
        session debugger({quoted_path(target_path("run_forever"))});
        reach_initial_stop(debugger);
        debugger.command("cont");
        if (std::string(last) == "stop")
            debugger.command("stop");
        debugger.send_raw("exit\n");
        run_result end = debugger.wait_exit(20000);
        EXPECT_EQ(end.exit_code, 0) << last << ": " << end;
        expect_debuggee_ends(debugger);
    }
}

// "exit" and "rest" typed while the debug thread may still be inside the launch.
TEST(ExecControlE2e, ExitAndRestRightAfterStart) {
    for (int round = 0; round < 25; round++) {
        {
            session debugger({quoted_path(target_path("run_forever"))});
            debugger.send_raw("exit\n");
            run_result end = debugger.wait_exit(20000);
            ASSERT_EQ(end.exit_code, 0) << "exit at once, round " << round << ": " << end;
        }
        {
            session debugger({quoted_path(target_path("run_forever"))});
            debugger.send_raw("rest\nrest\nexit\n");
            run_result end = debugger.wait_exit(20000);
            ASSERT_EQ(end.exit_code, 0) << "rest at once, round " << round << ": " << end;
        }
    }
}

} // namespace
