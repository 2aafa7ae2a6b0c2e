// dbg32_main: its exit codes, the order of its start-up steps, and a whole session
// that ends with "exit".
#include <gtest/gtest.h>

#include <stdio_ext.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "console/listing.h"
#include "console/program_entry.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/support/capture.h"
#include "tests/unit/support/waiting.h"

namespace {

char program[] = "dbg32.exe";
char target[] = "target.exe";
char extra[] = "more";

class ProgramEntry : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override { fake::reset(); }

    // Runs dbg32_main on a thread of its own, so that a hang becomes a failure.
    int run_main(int argc, char **argv, std::string *output) {
        auto result = std::make_shared<std::atomic<int>>(-1);
        capture_start();
        std::thread console([argc, argv, result] { result->store(dbg32_main(argc, argv)); });
        bool finished = spin_until([&] { return result->load() != -1; });
        *output = capture_end();
        if (!finished) {
            console.detach();
            ADD_FAILURE() << "dbg32_main did not return";
            return -1;
        }
        console.join();
        return result->load();
    }
};

TEST_F(ProgramEntry, StartUpFailuresAndTheirOrder) {
    char *one[] = {program, target, nullptr};
    char *none[] = {program, nullptr};
    char *two[] = {program, target, extra, nullptr};
    struct row {
        const char *name;
        char **argv;
        int argc;
        bool library, exported, old_system, thread;
        int code;
        const char *output;
        uint8_t state_after; // UNINIT: the core was never started
    };
    const row rows[] = {
        {"no argument", none, 1, false, false, true, false, 3, "", STATE_UNINIT},
        {"two arguments", two, 3, false, false, true, false, 3, "", STATE_UNINIT},
        {"no library", one, 2, false, false, true, false, 2, "", STATE_UNINIT},
        {"no export", one, 2, true, false, true, false, 3, "", STATE_UNINIT},
        {"system too old", one, 2, true, true, true, true, 1,
         "...Error inializing of debug core...\n", STATE_UNINIT},
        {"no debug thread", one, 2, true, true, false, false, 2, "", STATE_IDLE},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        fake::reset();
        fake::set_library_present(r.library);
        fake::set_export_present(r.exported);
        if (r.old_system)
            fake::set_version(5, 0);
        fake::set_thread_creation(r.thread);
        std::string output;
        EXPECT_EQ(run_main(r.argc, r.argv, &output), r.code);
        EXPECT_EQ(output, r.output);
        EXPECT_EQ(load_debug_state(), r.state_after);
        EXPECT_EQ(debug_thread, nullptr);
        EXPECT_EQ(fake::launch_count(), 0);
        EXPECT_EQ(fake::key_waits(), 0);
    }
}

TEST_F(ProgramEntry, ExitAsTheFirstCommand) {
    char *argv[] = {program, target, nullptr};
    feed_stdin("exit\n");
    std::string output;
    EXPECT_EQ(run_main(2, argv, &output), 0);
    EXPECT_EQ(output, ">...press any key for exit...\n");
    EXPECT_EQ(fake::key_waits(), 1);
    EXPECT_EQ(target_command_line, target);
    EXPECT_NE(disasm_fn, nullptr);
    EXPECT_EQ(debug_thread, nullptr);
    EXPECT_TRUE(fake::wait_for_threads(WAIT_MS)) << "the debug thread was not ended";
}

// The console is held until the debuggee has been launched and the loop waits for its
// events; "exit" must then end the debug thread without ending or releasing the debuggee.
TEST_F(ProgramEntry, ExitEndsADebugThreadThatWaitsForEvents) {
    char *argv[] = {program, target, nullptr};
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    int saved_stdin = dup(STDIN_FILENO);
    dup2(pipe_ends[0], STDIN_FILENO);
    close(pipe_ends[0]);
    clearerr(stdin);
    __fpurge(stdin); // what stdin buffered from an earlier input is not for this session

    auto result = std::make_shared<std::atomic<int>>(-1);
    capture_start();
    char **arguments = argv;
    std::thread console([arguments, result] { result->store(dbg32_main(2, arguments)); });
    bool waits = fake::wait_until_loop_waits(WAIT_MS);
    int launches = fake::launch_count();
    uint8_t state = load_debug_state();
    const char line[] = "exit\n";
    ssize_t written = write(pipe_ends[1], line, sizeof line - 1);
    close(pipe_ends[1]);
    bool finished = spin_until([&] { return result->load() != -1; });
    std::string output = capture_end();
    dup2(saved_stdin, STDIN_FILENO);
    close(saved_stdin);
    if (!finished) {
        console.detach();
        FAIL() << "dbg32_main did not return after exit";
    }
    console.join();

    EXPECT_TRUE(waits) << "the debug thread never waited for events";
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(fake::launched_command_line(), "target.exe");
    EXPECT_EQ(state, STATE_RUNNING);
    EXPECT_EQ(written, static_cast<ssize_t>(sizeof line - 1));
    EXPECT_EQ(result->load(), 0);
    EXPECT_EQ(output, ">...press any key for exit...\n");
    EXPECT_EQ(fake::terminate_thread_calls(), 1);
    EXPECT_TRUE(fake::wait_for_threads(WAIT_MS)) << "the debug thread was not ended";
    EXPECT_EQ(debug_thread, nullptr);
    EXPECT_EQ(fake::terminate_process_calls(), 0);
    EXPECT_TRUE(fake::continuations().empty());
}

} // namespace
