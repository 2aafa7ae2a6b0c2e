// Execution control: "stop", "resume", "rest" and the end of the debug thread at "exit",
// in every state of the core and against a running debug thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "breakpoints/bp_table.h"
#include "core/debug_core.h"
#include "core/debug_loop.h"
#include "core/exec_control.h"
#include "core/run_records.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/support/waiting.h"

namespace {

bool signalled(HANDLE event) {
    return plat_wait(event, 0);
}

// Runs `work` on a thread of its own; false if it has not finished by the deadline.
template <typename Work> bool finishes_in_time(Work work) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread runner([work, done] {
        work();
        done->store(true);
    });
    if (!spin_until([&] { return done->load(); })) {
        runner.detach();
        return false;
    }
    runner.join();
    return true;
}

uint32_t exception_address(const DEBUG_EVENT &event) {
    return static_cast<uint32_t>(
        reinterpret_cast<uintptr_t>(event.u.Exception.ExceptionRecord.ExceptionAddress));
}

// The situations the commands meet, each brought about by a real debug run.
enum situation {
    NOT_LAUNCHED,      // IDLE: core ready, no debug thread yet
    DEBUGGEE_ENDED,    // IDLE: the run ended and its end was polled
    RUNNING,           // the loop waits for events
    AT_EXCEPTION,      // the debug thread holds an exception (its notification polled)
    SUSPENDED_BY_STOP, // "stop" suspended the running debuggee
};

const char *name_of(situation s) {
    const char *names[] = {"not launched", "debuggee ended", "running", "at exception",
                           "suspended"};
    return names[s];
}

struct counts {
    int suspends, resumes, process_ends, thread_ends, launches, closed;
    size_t continued;
};

counts now() {
    return {fake::suspend_calls(),          fake::resume_calls(), fake::terminate_process_calls(),
            fake::terminate_thread_calls(), fake::launch_count(), fake::closed_handles(),
            fake::continuation_count()};
}

class ExecControl : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        target_command_line = "target.exe";
    }
    void TearDown() override { fake::reset(); }

    // Starts a debug thread as the program does and waits until its loop waits.
    void start_debug_thread() {
        ASSERT_TRUE(debug_start_thread());
        ASSERT_NE(debug_thread, nullptr);
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS)) << "the debuggee was not launched";
        ASSERT_EQ(load_debug_state(), STATE_RUNNING);
    }

    void hand_off(uint32_t address) {
        fake::push_event(fake::exception_event_record(0x80000003, address));
        ASSERT_TRUE(spin_until([] {
            return load_debug_state() == STATE_EXCEPTION && signalled(exception_event);
        })) << "no exception was handed off";
    }

    void bring_about(situation s) {
        DEBUG_EVENT copy;
        if (s == NOT_LAUNCHED)
            return;
        start_debug_thread();
        switch (s) {
        case DEBUGGEE_ENDED:
            fake::push_event(fake::exit_process_record(fake::PROCESS_ID, 0));
            ASSERT_TRUE(plat_wait(debug_thread, WAIT_MS));
            ASSERT_EQ(debug_poll_event(&copy), POLL_EXITED);
            break;
        case AT_EXCEPTION:
            hand_off(0x401000);
            ASSERT_EQ(debug_poll_event(&copy), POLL_EXCEPTION);
            break;
        case SUSPENDED_BY_STOP:
            ASSERT_EQ(debug_stop(), 0);
            break;
        default:
            break;
        }
    }

    // Releases the exception the new run holds and waits until its loop waits again.
    void release(size_t continuations_after) {
        ASSERT_EQ(debug_continue(0), 0);
        ASSERT_TRUE(fake::wait_for_continuations(continuations_after, WAIT_MS));
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    }
};

uint8_t state_of(situation s) {
    const uint8_t states[] = {STATE_IDLE, STATE_IDLE, STATE_RUNNING, STATE_EXCEPTION,
                              STATE_SUSPENDED};
    return states[s];
}

TEST_F(ExecControl, StopAndResumeStateTable) {
    enum command { STOP, RESUME };
    struct row {
        situation at;
        command run;
        uint8_t result;
    };
    const row rows[] = {
        {NOT_LAUNCHED, STOP, 1},        {NOT_LAUNCHED, RESUME, 1}, {DEBUGGEE_ENDED, STOP, 1},
        {DEBUGGEE_ENDED, RESUME, 1},    {RUNNING, STOP, 0},        {RUNNING, RESUME, 1},
        {AT_EXCEPTION, STOP, 1},        {AT_EXCEPTION, RESUME, 1}, {SUSPENDED_BY_STOP, STOP, 1},
        {SUSPENDED_BY_STOP, RESUME, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message()
                     << name_of(r.at) << (r.run == STOP ? ", stop" : ", resume"));
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        target_command_line = "target.exe";
        ASSERT_NO_FATAL_FAILURE(bring_about(r.at));
        counts before = now();
        uint8_t result = r.run == STOP ? debug_stop() : debug_resume();
        counts after = now();
        EXPECT_EQ(result, r.result);
        if (r.result != 0) {
            EXPECT_EQ(load_debug_state(), state_of(r.at));
            EXPECT_EQ(after.suspends, before.suspends);
            EXPECT_EQ(after.resumes, before.resumes);
        } else if (r.run == STOP) {
            EXPECT_EQ(load_debug_state(), STATE_SUSPENDED);
            EXPECT_EQ(after.suspends, before.suspends + 1);
        } else {
            EXPECT_EQ(load_debug_state(), STATE_RUNNING);
            EXPECT_EQ(after.resumes, before.resumes + 1);
        }
        // Neither command ends, releases or relaunches anything.
        EXPECT_EQ(after.process_ends, before.process_ends);
        EXPECT_EQ(after.launches, before.launches);
        EXPECT_EQ(after.continued, before.continued);
        EXPECT_FALSE(signalled(continue_event));
    }
}

TEST_F(ExecControl, RestInEveryStateRelaunchesACleanRun) {
    for (situation s : {NOT_LAUNCHED, DEBUGGEE_ENDED, RUNNING, AT_EXCEPTION, SUSPENDED_BY_STOP}) {
        SCOPED_TRACE(name_of(s));
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        target_command_line = "target.exe";
        ASSERT_NO_FATAL_FAILURE(bring_about(s));
        HANDLE old_thread = debug_thread;
        bool launched = s != NOT_LAUNCHED;
        bp_table[BP_SLOTS - 1] = {0x401000, 0xCC};
        bp_count = 1;
        counts before = now();

        cmd_rest();
        ASSERT_NE(debug_thread, nullptr);
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS)) << "no relaunch";
        counts after = now();
        EXPECT_EQ(load_debug_state(), STATE_RUNNING);
        EXPECT_EQ(after.launches, before.launches + 1);
        EXPECT_EQ(fake::launched_command_line(), "target.exe");
        EXPECT_EQ(bp_count, 0);
        EXPECT_EQ(bp_table[BP_SLOTS - 1].address, 0u);
        EXPECT_EQ(bp_table[BP_SLOTS - 1].saved_byte, 0);
        EXPECT_EQ(after.process_ends, before.process_ends + (launched ? 1 : 0));
        // The old thread saw its debuggee end by itself and its handles were released.
        EXPECT_EQ(after.thread_ends, before.thread_ends);
        EXPECT_EQ(after.closed, before.closed + (launched ? 3 : 0));
        if (launched) {
            EXPECT_TRUE(plat_wait(old_thread, 0)) << "the old debug thread still runs";
        }
        EXPECT_FALSE(signalled(continue_event));

        // Nothing of the old run is reported, and the new run hands off on its own.
        DEBUG_EVENT copy;
        EXPECT_EQ(debug_poll_event(&copy), POLL_NOTHING);
        EXPECT_EQ(debug_continue(0), 1);
        ASSERT_NO_FATAL_FAILURE(hand_off(0x402000));
        ASSERT_EQ(debug_poll_event(&copy), POLL_EXCEPTION);
        EXPECT_EQ(exception_address(copy), 0x402000u);
        ASSERT_NO_FATAL_FAILURE(release(after.continued + 1));
        EXPECT_EQ(load_debug_state(), STATE_RUNNING);
        EXPECT_EQ(debug_poll_event(&copy), POLL_NOTHING);
    }
}

TEST_F(ExecControl, RestKeepsPendingNotifications) {
    start_debug_thread();
    hand_off(0x401000);
    ASSERT_EQ(debug_continue(0), 0);
    fake::push_event(fake::exit_process_record(fake::PROCESS_ID, 0x2A));
    ASSERT_TRUE(plat_wait(debug_thread, WAIT_MS));

    cmd_rest();
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    fake::push_event(fake::exit_process_record(0x999, 0x77)); // a later record, not notified
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));

    DEBUG_EVENT copy;
    ASSERT_EQ(debug_poll_event(&copy), POLL_EXITED);
    EXPECT_EQ(copy.dwProcessId, fake::PROCESS_ID);
    EXPECT_EQ(copy.u.ExitProcess.dwExitCode, 0x2Au);
    ASSERT_EQ(debug_poll_event(&copy), POLL_EXCEPTION);
    EXPECT_EQ(exception_address(copy), 0x401000u);
    EXPECT_EQ(debug_poll_event(&copy), POLL_NOTHING);
    EXPECT_EQ(load_debug_state(), STATE_RUNNING);
}

TEST_F(ExecControl, RestWithAFailingLaunchStaysIdleAndTriesAgain) {
    fake::set_launch_result(false);
    ASSERT_TRUE(debug_start_thread());
    ASSERT_TRUE(plat_wait(debug_thread, WAIT_MS));
    for (int launches = 2; launches <= 3; launches++) {
        cmd_rest();
        ASSERT_NE(debug_thread, nullptr);
        ASSERT_TRUE(plat_wait(debug_thread, WAIT_MS)) << "rest number " << launches - 1;
        EXPECT_EQ(fake::launch_count(), launches);
        EXPECT_EQ(load_debug_state(), STATE_IDLE);
    }
    DEBUG_EVENT copy;
    EXPECT_EQ(debug_poll_event(&copy), POLL_NOTHING);

    fake::set_launch_result(true);
    cmd_rest();
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    EXPECT_EQ(fake::launch_count(), 4);
    EXPECT_EQ(load_debug_state(), STATE_RUNNING);
}

// "rest" given again while the debug thread of the last one is only starting.
TEST_F(ExecControl, RestsInARowLeaveOneRun) {
    start_debug_thread();
    std::vector<HANDLE> retired_threads;
    for (int rest = 0; rest < 10; rest++) {
        retired_threads.push_back(debug_thread);
        cmd_rest();
    }
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    for (HANDLE thread : retired_threads)
        EXPECT_TRUE(plat_wait(thread, 0));
    EXPECT_EQ(load_debug_state(), STATE_RUNNING);
    hand_off(0x403000);
    DEBUG_EVENT copy;
    ASSERT_EQ(debug_poll_event(&copy), POLL_EXCEPTION);
    EXPECT_EQ(exception_address(copy), 0x403000u);
    EXPECT_EQ(debug_poll_event(&copy), POLL_NOTHING);
}

// The ended thread leaves its run's creation handles to the console, which closes each once:
// where the system closes thread handles it has closed the first thread's, whose exit came.
TEST_F(ExecControl, RestEndsADebugThreadThatNeverSeesItsDebuggeeEnd) {
    int objects[2];
    HANDLE process = &objects[0], first = &objects[1];
    for (bool system_closes : {true, false}) {
        SCOPED_TRACE(system_closes ? "Windows" : "Wine");
        fake::reset();
        fake::set_system_closes_thread_handles(system_closes);
        ASSERT_EQ(debug_core_init(), 0);
        target_command_line = "target.exe";
        start_debug_thread();
        DEBUG_EVENT created = fake::simple_record(EVENT_CREATE_PROCESS);
        created.u.CreateProcessInfo.hProcess = process;
        created.u.CreateProcessInfo.hThread = first;
        fake::push_event(created);
        fake::push_event(fake::simple_record(EVENT_EXIT_THREAD));
        ASSERT_TRUE(fake::wait_for_continuations(2, WAIT_MS));
        HANDLE old_thread = debug_thread;
        fake::set_termination_reported(false);
        cmd_rest();
        EXPECT_TRUE(plat_wait(old_thread, 0));
        EXPECT_EQ(fake::terminate_thread_calls(), 1);
        EXPECT_FALSE(fake::handle_open(process));
        EXPECT_FALSE(fake::handle_open(first));
        EXPECT_EQ(fake::bad_closes(), 0) << "a handle was closed twice";
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
        EXPECT_EQ(fake::launch_count(), 2);
        EXPECT_EQ(load_debug_state(), STATE_RUNNING);
    }
}

// "rest" cannot end the old debug thread (the kill fails), which the system does not run until
// the next run has stopped at an exception: it then wakes at an event, at a wait that fails, or
// in its wait for "cont", which the new run's "cont" ends. It must end there, touching nothing
// of the new run, and leave the "cont" to the new run alone.
TEST_F(ExecControl, ADebugThreadThatOutlivesRestWakesIntoNothing) {
    enum waking { AT_EVENT, AT_FAILED_WAIT, AT_CONT };
    const char *names[] = {"at an event", "at a failed wait", "at the wait for cont"};
    for (waking w : {AT_EVENT, AT_FAILED_WAIT, AT_CONT}) {
        SCOPED_TRACE(names[w]);
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        target_command_line = "target.exe";
        DEBUG_EVENT copy;
        ASSERT_NO_FATAL_FAILURE(bring_about(w == AT_CONT ? AT_EXCEPTION : RUNNING));
        HANDLE old_thread = debug_thread;
        fake::hold_back(old_thread, true);
        fake::set_thread_termination(false);
        fake::set_termination_reported(false);
        cmd_rest();
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS)) << "no relaunch";
        ASSERT_FALSE(plat_wait(old_thread, 0));
        hand_off(0x402000);
        ASSERT_EQ(debug_poll_event(&copy), POLL_EXCEPTION);
        counts before = now();

        // The new run's thread waits for "cont": the old one alone waits for debug events.
        if (w == AT_EVENT)
            fake::push_event(fake::exception_event_record(0xC0000005, 0x666000));
        else if (w == AT_FAILED_WAIT)
            fake::fail_next_wait();
        fake::hold_back(old_thread, false);
        if (w == AT_CONT) {
            ASSERT_EQ(debug_continue(0), 0);
        }
        EXPECT_TRUE(plat_wait(old_thread, WAIT_MS)) << "the old debug thread runs on";
        if (w != AT_CONT) {
            EXPECT_EQ(load_debug_state(), STATE_EXCEPTION);
            EXPECT_EQ(exception_address(last_debug_event), 0x402000u);
            EXPECT_EQ(debug_poll_event(&copy), POLL_NOTHING);
            ASSERT_EQ(debug_continue(0), 0);
        }
        ASSERT_TRUE(fake::wait_for_continuations(before.continued + 1, WAIT_MS));
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
        counts after = now();
        EXPECT_EQ(after.continued, before.continued + 1) << "the old run's stop was released";
        EXPECT_EQ(load_debug_state(), STATE_RUNNING);
        EXPECT_EQ(debug_poll_event(&copy), POLL_NOTHING);
        EXPECT_EQ(after.process_ends, before.process_ends);
        EXPECT_EQ(after.closed, before.closed);
    }
}

DWORD PLAT_STDCALL wait_for_release(void *release) {
    plat_wait(static_cast<HANDLE>(release), PLAT_INFINITE);
    return 0;
}

// A debug thread that "rest" could not confirm gone keeps its run's record: a thread that ends
// late closes its own run's handles, never a later run's. Its record comes back, with what it
// left open closed, only once it has ended; while every record is held "rest" starts no run,
// and a later "rest" tries again.
TEST_F(ExecControl, ARecordLeftToAThreadThatMayRunIsNotTakenAgain) {
    HANDLE release = plat_create_event();
    HANDLE process = plat_create_event(), first = plat_create_event();
    DWORD id = 0;
    HANDLE living = plat_create_thread(wait_for_release, release, &id);
    creation_handles *left = run_record_take();
    ASSERT_NE(left, nullptr);
    left->event.u.CreateProcessInfo.hProcess = process;
    left->event.u.CreateProcessInfo.hThread = first;
    run_record_leave(left, living);
    for (uint32_t taken = 1; taken < RUN_RECORD_COUNT; taken++)
        EXPECT_NE(run_record_take(), left);
    cmd_rest();
    EXPECT_EQ(debug_thread, nullptr);
    EXPECT_TRUE(fake::handle_open(process));
    EXPECT_TRUE(fake::handle_open(first));

    plat_set_event(release);
    ASSERT_TRUE(plat_wait(living, WAIT_MS));
    cmd_rest();
    EXPECT_EQ(debug_thread_creation, left);
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS)) << "no run started";
    EXPECT_FALSE(fake::handle_open(process));
    EXPECT_FALSE(fake::handle_open(first));
    EXPECT_FALSE(fake::handle_open(living));
    EXPECT_EQ(fake::bad_closes(), 0);
}

TEST_F(ExecControl, RestWithoutANewThreadLeavesNothingForExit) {
    start_debug_thread();
    HANDLE old_thread = debug_thread;
    fake::set_thread_creation(false);
    cmd_rest();
    EXPECT_EQ(debug_thread, nullptr);
    EXPECT_TRUE(plat_wait(old_thread, 0));
    EXPECT_EQ(load_debug_state(), STATE_IDLE);
    debug_end_thread();
    EXPECT_EQ(fake::terminate_thread_calls(), 0);
}

TEST_F(ExecControl, ExitEndsTheDebugThreadWhereverItWaits) {
    for (situation s : {DEBUGGEE_ENDED, RUNNING, AT_EXCEPTION, SUSPENDED_BY_STOP}) {
        SCOPED_TRACE(name_of(s));
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        target_command_line = "target.exe";
        ASSERT_NO_FATAL_FAILURE(bring_about(s));
        HANDLE old_thread = debug_thread;
        counts before = now();

        debug_end_thread();
        counts after = now();
        EXPECT_EQ(debug_thread, nullptr);
        EXPECT_TRUE(plat_wait(old_thread, 0)) << "the debug thread still runs";
        if (s != DEBUGGEE_ENDED) {
            EXPECT_EQ(after.thread_ends, before.thread_ends + 1);
        }
        EXPECT_EQ(after.closed, before.closed + 1);
        // The debuggee is neither ended nor released nor resumed.
        EXPECT_EQ(after.process_ends, before.process_ends);
        EXPECT_EQ(after.continued, before.continued);
        EXPECT_EQ(after.resumes, before.resumes);
        EXPECT_EQ(load_debug_state(), state_of(s));
    }
    fake::reset();
    ASSERT_EQ(debug_core_init(), 0);
    debug_end_thread(); // no debug thread at all
    EXPECT_EQ(fake::terminate_thread_calls(), 0);
}

// The kill is only queued: a thread that has just come out of its wait runs on for a moment.
// Here it comes out of the wait for "cont" while the console holds the lock, and is held at
// its first try for the lock until the kill. It must not get the lock before it has died.
TEST_F(ExecControl, ExitKeepsTheLockUntilTheKilledThreadHasDied) {
    start_debug_thread();
    hand_off(0x401000);
    HANDLE old_thread = debug_thread;
    fake::hold_yields(true);
    core_lock_acquire();
    plat_set_event(continue_event);
    bool spinning = fake::wait_until_yield_held(WAIT_MS);
    core_lock_release();
    ASSERT_TRUE(spinning) << "the debug thread did not come out of its wait";

    debug_end_thread();
    fake::hold_yields(false);
    EXPECT_TRUE(plat_wait(old_thread, 0));
    EXPECT_EQ(fake::terminate_thread_calls(), 1);
    std::atomic<bool> polled{false};
    std::thread console([&] {
        DEBUG_EVENT copy;
        debug_poll_event(&copy);
        polled.store(true);
    });
    bool free = spin_until([&] { return polled.load(); });
    if (!free)
        core_lock_release(); // taken by the thread that died, whose poll now ends
    console.join();
    EXPECT_TRUE(free) << "the killed debug thread died holding the core lock";
}

TEST_F(ExecControl, ExitLetsALaunchInProgressFinish) {
    fake::hold_launches(true);
    ASSERT_TRUE(debug_start_thread());
    HANDLE old_thread = debug_thread;
    ASSERT_TRUE(fake::wait_until_launch_held(WAIT_MS));
    std::atomic<bool> ended{false};
    std::thread console([&] {
        debug_end_thread();
        ended.store(true);
    });
    // Let the launch go only once "exit" has seen it under way.
    bool retired = spin_until([&] { return current_run.load() != 0 || ended.load(); });
    fake::hold_launches(false);
    bool finished = spin_until([&] { return ended.load(); });
    if (!finished) {
        console.detach();
        FAIL() << "exit did not end the debug thread";
    }
    console.join();
    EXPECT_TRUE(retired);
    EXPECT_EQ(fake::kills_inside_launch(), 0) << "the debug thread was ended inside the launch";
    EXPECT_TRUE(plat_wait(old_thread, 0));
    EXPECT_EQ(load_debug_state(), STATE_IDLE) << "a retired thread stored its state";
}

TEST_F(ExecControl, ExceptionWhileSuspendedHandsTheDebuggeeBackSuspended) {
    start_debug_thread();
    ASSERT_EQ(debug_stop(), 0);
    hand_off(0x401000); // already on its way when "stop" came
    EXPECT_EQ(debug_stop(), 1);
    EXPECT_EQ(debug_resume(), 1);
    release(1);
    EXPECT_EQ(load_debug_state(), STATE_SUSPENDED);
    EXPECT_EQ(fake::resume_calls(), 0);
    EXPECT_EQ(debug_resume(), 0);
    EXPECT_EQ(fake::resume_calls(), 1);
    EXPECT_EQ(load_debug_state(), STATE_RUNNING);

    // Once resumed, the next exception goes back to running.
    hand_off(0x402000);
    release(2);
    EXPECT_EQ(load_debug_state(), STATE_RUNNING);
    EXPECT_EQ(fake::suspend_calls(), 1);
}

// "stop" and "resume" race the debug thread's store of STATE_EXCEPTION: once the
// exception is reported, the state must read STATE_EXCEPTION, and after "cont" the
// state must agree with what the debuggee's suspensions add up to.
TEST_F(ExecControl, StressStopAndResumeNeverOverwriteAnException) {
    const uint32_t ROUNDS = 1000;
    start_debug_thread();
    for (uint32_t round = 0; round < ROUNDS; round++) {
        fake::push_event(fake::exception_event_record(0x80000003, 0x401000 + round));
        DEBUG_EVENT copy;
        bool stop_next = true;
        ASSERT_TRUE(spin_until([&] {
            if (stop_next)
                debug_stop();
            else
                debug_resume();
            stop_next = !stop_next;
            return debug_poll_event(&copy) == POLL_EXCEPTION;
        })) << "round "
            << round;
        ASSERT_EQ(exception_address(copy), 0x401000 + round);
        ASSERT_EQ(load_debug_state(), STATE_EXCEPTION) << "overwritten in round " << round;
        ASSERT_EQ(debug_stop(), 1);
        ASSERT_EQ(debug_resume(), 1);
        ASSERT_NO_FATAL_FAILURE(release(round + 1));
        int held = fake::suspend_calls() - fake::resume_calls();
        uint8_t state = load_debug_state();
        ASSERT_EQ(held, state == STATE_SUSPENDED ? 1 : 0) << "round " << round;
        ASSERT_TRUE(state == STATE_RUNNING || state == STATE_SUSPENDED);
        if (state == STATE_SUSPENDED) {
            ASSERT_EQ(debug_resume(), 0);
        }
        ASSERT_EQ(load_debug_state(), STATE_RUNNING);
    }
}

} // namespace
