// The debug thread's event loop, the exception hand-off, the poll, "cont" and the event
// report, run against the scripted fake debuggee.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "breakpoints/masked_read.h"
#include "console/command_loop.h"
#include "core/debug_core.h"
#include "core/debug_loop.h"
#include "core/run_records.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/support/capture.h"
#include "tests/unit/support/waiting.h"

namespace {

const int NO_RESULT = -1;

std::atomic<int> loop_result{NO_RESULT};
std::string loop_command_line = "target.exe";
creation_handles loop_creation;

DWORD PLAT_STDCALL run_loop(void *) {
    loop_result.store(debug_loop(loop_command_line.c_str(), &loop_creation));
    return 0;
}

bool signalled(HANDLE event) {
    return plat_wait(event, 0);
}

// An exception whose every field derives from its number, so that a report can be
// checked to be one whole record of one event.
DEBUG_EVENT numbered_exception(uint32_t number) {
    uint32_t address = 0x00400000u + number * 0x10u;
    DEBUG_EVENT event = fake::exception_event_record(0xC0000000u | number, address);
    event.dwThreadId = 0x10000u + number;
    EXCEPTION_RECORD &record = event.u.Exception.ExceptionRecord;
    record.ExceptionFlags = number;
    record.NumberParameters = number % 15;
    for (uint32_t i = 0; i < 15; i++)
        record.ExceptionInformation[i] = address + i;
    event.u.Exception.dwFirstChance = number & 1;
    return event;
}

// The number of the exception the record is, or -1 if it is no whole numbered exception.
int numbered_exception_in(const DEBUG_EVENT &event) {
    if (event.dwDebugEventCode != EVENT_EXCEPTION || event.dwProcessId != fake::PROCESS_ID)
        return -1;
    const EXCEPTION_RECORD &record = event.u.Exception.ExceptionRecord;
    uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record.ExceptionAddress));
    if (address < 0x00400000u || (address & 0xF) != 0)
        return -1;
    uint32_t number = (address - 0x00400000u) / 0x10u;
    DEBUG_EVENT expected = numbered_exception(number);
    const EXCEPTION_RECORD &want = expected.u.Exception.ExceptionRecord;
    bool same = event.dwThreadId == expected.dwThreadId &&
                record.ExceptionCode == want.ExceptionCode &&
                record.ExceptionFlags == want.ExceptionFlags &&
                record.NumberParameters == want.NumberParameters &&
                event.u.Exception.dwFirstChance == expected.u.Exception.dwFirstChance &&
                memcmp(record.ExceptionInformation, want.ExceptionInformation,
                       sizeof want.ExceptionInformation) == 0;
    return same ? static_cast<int>(number) : -1;
}

// An event that is no exception, with every byte of its body set to junk.
DEBUG_EVENT filler(uint32_t thread_id, uint8_t junk) {
    DEBUG_EVENT event = fake::simple_record(EVENT_OUTPUT_STRING);
    event.dwThreadId = thread_id;
    memset(&event.u, junk, sizeof event.u);
    return event;
}

class DebugLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        loop_result.store(NO_RESULT);
        loop_command_line = "target.exe";
        ASSERT_EQ(debug_core_init(), 0);
    }
    void TearDown() override { fake::reset(); }

    // Starts a debug run on a thread of the fake's and waits until it waits for events.
    void start_run() {
        DWORD id = 0;
        run_thread = plat_create_thread(run_loop, nullptr, &id);
        ASSERT_NE(run_thread, nullptr);
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS)) << "the loop never waited for events";
        ASSERT_EQ(load_debug_state(), STATE_RUNNING);
    }

    void expect_run_ends_with(int result) {
        ASSERT_TRUE(plat_wait(run_thread, WAIT_MS)) << "the debug thread did not end";
        EXPECT_EQ(loop_result.load(), result);
    }

    void await_handoff() {
        ASSERT_TRUE(plat_wait(exception_event, WAIT_MS)) << "no exception was handed off";
        ASSERT_EQ(load_debug_state(), STATE_EXCEPTION);
    }

    std::string report(const char *line = "") {
        strcpy(command_buffer, line);
        capture_start();
        bool goes_on = dispatch_command();
        std::string text = capture_end();
        EXPECT_TRUE(goes_on);
        return text;
    }

    HANDLE run_thread = nullptr;
};

TEST_F(DebugLoop, EachEventIsContinuedWithItsStatus) {
    const uint32_t H = CONTINUE_HANDLED, N = CONTINUE_NOT_HANDLED;
    struct row {
        const char *name;
        DEBUG_EVENT event;
        uint32_t first, second; // pass_exception is 0 for the first event, 1 after
    };
    DEBUG_EVENT other_exit = fake::exit_process_record(0x777, 3);
    const row rows[] = {
        {"create process", fake::simple_record(EVENT_CREATE_PROCESS), H, N},
        {"create thread", fake::simple_record(EVENT_CREATE_THREAD), H, H},
        {"exit thread", fake::simple_record(EVENT_EXIT_THREAD), H, H},
        {"exit of another process", other_exit, H, N},
        {"load dll", fake::simple_record(EVENT_LOAD_DLL), H, N},
        {"unload dll", fake::simple_record(EVENT_UNLOAD_DLL), H, N},
        {"output string", fake::simple_record(EVENT_OUTPUT_STRING), H, N},
        {"rip", fake::simple_record(EVENT_RIP), H, N},
        {"code 0", fake::simple_record(0), H, N},
        {"code 0x42", fake::simple_record(0x42), H, N},
        {"exception 0x6BA", fake::exception_event_record(0x6BA, 0x401000), N, N},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        start_run();
        DEBUG_EVENT first = r.event, second = r.event;
        first.dwThreadId = 0x301;
        second.dwThreadId = 0x302;
        fake::push_event(first);
        fake::push_event(second);
        ASSERT_TRUE(fake::wait_for_continuations(2, WAIT_MS));
        ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
        std::vector<fake::continuation> log = fake::continuations();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].process_id, r.event.dwProcessId);
        EXPECT_EQ(log[0].thread_id, 0x301u);
        EXPECT_EQ(log[0].status, r.first);
        EXPECT_EQ(log[1].process_id, r.event.dwProcessId);
        EXPECT_EQ(log[1].thread_id, 0x302u);
        EXPECT_EQ(log[1].status, r.second);
        EXPECT_EQ(pass_exception.load(), 1u);
        EXPECT_EQ(load_debug_state(), STATE_RUNNING);
        EXPECT_FALSE(signalled(exception_event));
        EXPECT_FALSE(signalled(exit_event));
    }
}

TEST_F(DebugLoop, ExceptionIsHeldUntilContThenContinuedWithTheFlag) {
    start_run();
    fake::push_event(fake::exception_event_record(0x80000003, 0x7C90120E));
    await_handoff();
    EXPECT_TRUE(fake::continuations().empty());

    pass_exception.store(1);
    ASSERT_EQ(debug_continue(0), 0);
    ASSERT_TRUE(fake::wait_for_continuations(1, WAIT_MS));
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    EXPECT_EQ(fake::continuations()[0].status, CONTINUE_HANDLED);
    EXPECT_EQ(load_debug_state(), STATE_RUNNING);
    EXPECT_EQ(pass_exception.load(), 1u);
    EXPECT_FALSE(signalled(continue_event));
    EXPECT_TRUE(signalled(exception_event)) << "only a poll takes the notification";

    // A non-zero choice passes the exception on.
    fake::push_event(fake::exception_event_record(0xC0000005, 0x401234));
    ASSERT_TRUE(spin_until([] { return load_debug_state() == STATE_EXCEPTION; }));
    ASSERT_EQ(debug_continue(7), 0);
    ASSERT_TRUE(fake::wait_for_continuations(2, WAIT_MS));
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    EXPECT_EQ(fake::continuations()[1].status, CONTINUE_NOT_HANDLED);
    EXPECT_EQ(pass_exception.load(), 1u);
}

TEST_F(DebugLoop, LaunchGetsAtMost255CharactersAndAFreshStartUpRecord) {
    auto text = [](size_t length) {
        std::string s;
        for (size_t i = 0; i < length; i++)
            s.push_back(static_cast<char>('a' + i % 26));
        return s;
    };
    const std::pair<size_t, size_t> rows[] = {{255, 255}, {256, 255}, {300, 255}, {0, 0}};
    for (auto [given, launched] : rows) {
        SCOPED_TRACE(given);
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        memset(&startup_info, 0xCC, sizeof startup_info);
        loop_command_line = text(given);
        start_run();
        EXPECT_EQ(fake::launched_command_line(), text(launched));
        EXPECT_EQ(fake::launch_count(), 1);
        EXPECT_EQ(startup_info.cb, 68u);
        for (uint8_t byte : startup_info.rest)
            ASSERT_EQ(byte, 0);
        EXPECT_EQ(process_info.dwProcessId, fake::PROCESS_ID);
    }
}

TEST_F(DebugLoop, FailedLaunchStaysIdleAndSilent) {
    fake::set_launch_result(false);
    memset(&process_info, 0xCC, sizeof process_info);
    DWORD id = 0;
    run_thread = plat_create_thread(run_loop, nullptr, &id);
    expect_run_ends_with(2);
    EXPECT_EQ(fake::launch_count(), 1);
    EXPECT_EQ(load_debug_state(), STATE_IDLE);
    EXPECT_EQ(process_info.hProcess, nullptr);
    EXPECT_EQ(process_info.hThread, nullptr);
    EXPECT_EQ(process_info.dwProcessId, 0u);
    EXPECT_EQ(process_info.dwThreadId, 0u);
    EXPECT_EQ(load_debuggee_process(), nullptr);
    EXPECT_FALSE(signalled(exception_event));
    EXPECT_FALSE(signalled(exit_event));
    EXPECT_EQ(report(), "...unknown command...\n");
    EXPECT_EQ(debug_continue(0), 1);
}

// A memory command while the debuggee is being launched finds either no debuggee or the
// launched one, never a handle while it is written.
TEST_F(DebugLoop, MemoryReadDuringTheLaunchFindsNoDebuggeeOrTheWholeOne) {
    fake::map_memory(0x401000, {0x55, 0x8B});
    fake::hold_launches(true);
    DWORD id = 0;
    run_thread = plat_create_thread(run_loop, nullptr, &id);
    ASSERT_TRUE(fake::wait_until_launch_held(WAIT_MS));
    std::atomic<bool> reading{true};
    std::atomic<int> failed{0}, whole{0}, wrong{0};
    std::thread console([&] {
        while (reading.load()) {
            uint8_t bytes[2] = {0, 0};
            uint8_t result = read_memory_masked(0x401000, 2, bytes);
            if (result == 2)
                failed++;
            else if (result == 0 && bytes[0] == 0x55 && bytes[1] == 0x8B)
                whole++;
            else
                wrong++;
        }
    });
    fake::hold_launches(false);
    bool launched = fake::wait_until_loop_waits(WAIT_MS);
    bool read = spin_until([&] { return whole.load() > 0; });
    reading.store(false);
    console.join();
    EXPECT_TRUE(launched);
    EXPECT_TRUE(read) << "no read found the launched debuggee";
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(DebugLoop, RefusedUnlessIdle) {
    for (uint8_t state : {STATE_UNINIT, STATE_RUNNING, STATE_EXCEPTION, STATE_SUSPENDED}) {
        SCOPED_TRACE(static_cast<int>(state));
        store_debug_state(state);
        startup_info.cb = 0x1234;
        loop_result.store(NO_RESULT);
        DWORD id = 0;
        run_thread = plat_create_thread(run_loop, nullptr, &id);
        expect_run_ends_with(1);
        EXPECT_EQ(load_debug_state(), state);
        EXPECT_EQ(startup_info.cb, 0x1234u);
        EXPECT_EQ(fake::launch_count(), 0);
    }
}

TEST_F(DebugLoop, FileHandlesOfCreateProcessAndLoadDllAreClosed) {
    start_run();
    int dummy_files[2];
    DEBUG_EVENT created = fake::simple_record(EVENT_CREATE_PROCESS);
    created.u.CreateProcessInfo.hFile = &dummy_files[0];
    DEBUG_EVENT loaded = fake::simple_record(EVENT_LOAD_DLL);
    loaded.u.LoadDll.hFile = &dummy_files[1];
    DEBUG_EVENT loaded_without_file = fake::simple_record(EVENT_LOAD_DLL);

    // Each is closed once its event has been continued, before the next wait.
    fake::push_event(created);
    ASSERT_TRUE(fake::wait_for_continuations(1, WAIT_MS));
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    EXPECT_EQ(fake::closed_handles(), 1);
    fake::push_event(loaded);
    ASSERT_TRUE(fake::wait_for_continuations(2, WAIT_MS));
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    EXPECT_EQ(fake::closed_handles(), 2);
    fake::push_event(loaded_without_file);
    ASSERT_TRUE(fake::wait_for_continuations(3, WAIT_MS));
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));
    EXPECT_EQ(fake::closed_handles(), 2);
}

// The debuggee finishes only once its exit has been continued.
TEST_F(DebugLoop, RunEndsWithItsExitContinuedAndThePollTakesTheEndFirst) {
    start_run();
    DEBUG_EVENT exception = numbered_exception(5);
    fake::push_event(exception);
    await_handoff();
    ASSERT_EQ(debug_continue(0), 0);
    fake::push_event(fake::exit_process_record(fake::PROCESS_ID, 0x2A));
    expect_run_ends_with(0);
    std::vector<fake::continuation> log = fake::continuations();
    ASSERT_EQ(log.size(), 2u) << "the end of the debuggee was not continued";
    EXPECT_EQ(log[1].process_id, fake::PROCESS_ID);
    EXPECT_EQ(log[1].thread_id, fake::THREAD_ID);
    EXPECT_EQ(log[1].status, CONTINUE_HANDLED);

    DEBUG_EVENT copy;
    ASSERT_EQ(debug_poll_event(&copy), POLL_EXITED);
    EXPECT_EQ(copy.dwDebugEventCode, static_cast<DWORD>(EVENT_EXIT_PROCESS));
    EXPECT_EQ(copy.dwProcessId, fake::PROCESS_ID);
    EXPECT_EQ(copy.u.ExitProcess.dwExitCode, 0x2Au);
    EXPECT_EQ(load_debug_state(), STATE_IDLE);

    ASSERT_EQ(debug_poll_event(&copy), POLL_EXCEPTION);
    EXPECT_EQ(numbered_exception_in(copy), 5) << "the report is not the record notified";

    // Both taken, nothing is announced: the poll asks the system nothing.
    int waits = fake::event_waits();
    alignas(DEBUG_EVENT) unsigned char untouched[sizeof(DEBUG_EVENT)];
    memset(untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(debug_poll_event(reinterpret_cast<DEBUG_EVENT *>(untouched)), POLL_NOTHING);
    EXPECT_EQ(fake::event_waits(), waits);
    for (unsigned char byte : untouched)
        ASSERT_EQ(byte, 0x5A);
    EXPECT_FALSE(signalled(exception_event));
    EXPECT_FALSE(signalled(exit_event));
}

TEST_F(DebugLoop, ReportShowsTheNotifiedExceptionNotALaterEvent) {
    start_run();
    fake::push_event(numbered_exception(9));
    await_handoff();
    ASSERT_EQ(debug_continue(0), 0);
    fake::push_event(filler(0x55, 0xA5));
    fake::push_event(fake::exception_event_record(0x6BA, 0x12345678));
    ASSERT_TRUE(fake::wait_for_continuations(3, WAIT_MS));
    ASSERT_TRUE(fake::wait_until_loop_waits(WAIT_MS));

    DEBUG_EVENT copy;
    ASSERT_EQ(debug_poll_event(&copy), POLL_EXCEPTION);
    EXPECT_EQ(numbered_exception_in(copy), 9);
}

TEST_F(DebugLoop, ContIsRefusedUnlessAnExceptionIsHeld) {
    for (uint8_t state : {STATE_UNINIT, STATE_IDLE, STATE_RUNNING, STATE_SUSPENDED}) {
        SCOPED_TRACE(static_cast<int>(state));
        store_debug_state(state);
        pass_exception.store(7);
        EXPECT_EQ(report("cont"), "");
        EXPECT_EQ(debug_continue(0), 1);
        EXPECT_EQ(load_debug_state(), state);
        EXPECT_EQ(pass_exception.load(), 7u);
        EXPECT_FALSE(signalled(continue_event));
    }
}

TEST_F(DebugLoop, EventReportMessages) {
    start_run();
    EXPECT_EQ(report(), "...unknown command...\n");

    fake::push_event(fake::exception_event_record(0x80000003, 0x7C90120E));
    await_handoff();
    EXPECT_EQ(report("zzz"), "...unknown command...\nException on addr 7C90120E\n");
    EXPECT_EQ(report(), "...unknown command...\n");
    EXPECT_EQ(report("cont"), "");
    ASSERT_TRUE(fake::wait_for_continuations(1, WAIT_MS));

    fake::push_event(fake::exception_event_record(0x80000003, 0x1000));
    await_handoff();
    EXPECT_EQ(report(), "...unknown command...\nException on addr 00001000\n");
    EXPECT_EQ(report("cont"), "");
    ASSERT_TRUE(fake::wait_for_continuations(2, WAIT_MS));

    fake::push_event(fake::exit_process_record(fake::PROCESS_ID, 0x2A));
    expect_run_ends_with(0);
    EXPECT_EQ(
        report(),
        "...unknown command...\nProcess with PID 0x01F4 terminated, existing code = 0x002A\n");
    EXPECT_EQ(report(), "...unknown command...\n");
}

// A wait or a continuation that fails ends the run once, without trying again.
TEST_F(DebugLoop, InterfaceFailureGivesUpTheRun) {
    for (bool wait_fails : {true, false}) {
        SCOPED_TRACE(wait_fails ? "wait" : "continuation");
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        start_run();
        if (wait_fails) {
            fake::fail_next_wait();
        } else {
            fake::fail_continuations();
            fake::push_event(fake::simple_record(EVENT_CREATE_THREAD));
            fake::push_event(fake::simple_record(EVENT_CREATE_THREAD));
        }
        expect_run_ends_with(LOOP_INTERFACE_FAILED);
        EXPECT_EQ(fake::continuations().size(), wait_fails ? 0u : 1u);
        EXPECT_EQ(load_debug_state(), STATE_IDLE);
        EXPECT_EQ(fake::terminate_process_calls(), 1);
        EXPECT_FALSE(signalled(exit_event));
    }
}

// Every handle that the run's events hand over is closed exactly once: by the system where
// it closes them when the exits of their threads and processes are continued, by the loop
// where it closes none.
TEST_F(DebugLoop, EventHandlesAreClosedOnceWhoeverClosesThem) {
    const DWORD FIRST = fake::THREAD_ID, SECOND = 0x301;
    int objects[5];
    HANDLE file = &objects[0], process = &objects[1], first = &objects[2], second = &objects[3];
    HANDLE dll_file = &objects[4];
    enum ending { FIRST_THREAD_LAST, FIRST_THREAD_EARLIER, GIVEN_UP };
    const char *names[] = {"the first thread ends last", "the first thread ends earlier",
                           "the run is given up"};
    for (bool system_closes : {true, false}) {
        for (ending e : {FIRST_THREAD_LAST, FIRST_THREAD_EARLIER, GIVEN_UP}) {
            SCOPED_TRACE(testing::Message()
                         << (system_closes ? "Windows, " : "Wine, ") << names[e]);
            fake::reset();
            fake::set_system_closes_thread_handles(system_closes);
            ASSERT_EQ(debug_core_init(), 0);
            start_run();
            DEBUG_EVENT created = fake::simple_record(EVENT_CREATE_PROCESS);
            created.u.CreateProcessInfo.hFile = file;
            created.u.CreateProcessInfo.hProcess = process;
            created.u.CreateProcessInfo.hThread = first;
            DEBUG_EVENT thread = fake::simple_record(EVENT_CREATE_THREAD);
            thread.dwThreadId = SECOND;
            thread.u.CreateThread.hThread = second;
            DEBUG_EVENT loaded = fake::simple_record(EVENT_LOAD_DLL);
            loaded.u.LoadDll.hFile = dll_file;
            DEBUG_EVENT thread_exit = fake::simple_record(EVENT_EXIT_THREAD);
            thread_exit.dwThreadId = e == FIRST_THREAD_LAST ? SECOND : FIRST;
            DEBUG_EVENT process_exit = fake::exit_process_record(fake::PROCESS_ID, 0);
            process_exit.dwThreadId = e == FIRST_THREAD_LAST ? FIRST : SECOND;
            for (const DEBUG_EVENT &event : {created, thread, loaded, thread_exit})
                fake::push_event(event);
            ASSERT_TRUE(fake::wait_for_continuations(4, WAIT_MS));
            if (e == GIVEN_UP)
                fake::fail_next_wait();
            else
                fake::push_event(process_exit);
            expect_run_ends_with(e == GIVEN_UP ? LOOP_INTERFACE_FAILED : 0);
            EXPECT_EQ(fake::bad_closes(), 0) << "a handle was closed twice";
            EXPECT_FALSE(fake::handle_open(file));
            EXPECT_FALSE(fake::handle_open(dll_file));
            EXPECT_FALSE(fake::handle_open(process));
            EXPECT_FALSE(fake::handle_open(first));
            // Where the system closes thread handles, only a continued exit releases the
            // second thread's: a run given up has none.
            if (!system_closes || e != GIVEN_UP) {
                EXPECT_FALSE(fake::handle_open(second));
            }
        }
    }
}

TEST_F(DebugLoop, RetiredThreadOnlyDrainsItsDebuggee) {
    start_run();
    current_run.store(1);               // retires the run of loop_creation, 0
    store_debug_state(STATE_SUSPENDED); // what the console moved to since
    fake::push_event(fake::exception_event_record(0x80000003, 0x401000));
    ASSERT_TRUE(fake::wait_for_continuations(1, WAIT_MS)) << "a retired thread held an exception";
    EXPECT_EQ(fake::continuations()[0].status, CONTINUE_HANDLED); // flag still 0
    fake::push_event(fake::exit_process_record(fake::PROCESS_ID, 0));
    expect_run_ends_with(0);
    EXPECT_EQ(fake::continuations().size(), 2u);
    EXPECT_EQ(pass_exception.load(), 1u) << "the flag is 1 after every continuation";
    EXPECT_EQ(load_debug_state(), STATE_SUSPENDED);
    EXPECT_FALSE(signalled(exception_event));
    EXPECT_FALSE(signalled(exit_event));

    // Nor does it launch again.
    store_debug_state(STATE_IDLE);
    loop_result.store(NO_RESULT);
    DWORD id = 0;
    run_thread = plat_create_thread(run_loop, nullptr, &id);
    expect_run_ends_with(2);
    EXPECT_EQ(fake::launch_count(), 1);
    EXPECT_EQ(load_debug_state(), STATE_IDLE);
}

// ---- the hand-off under load: the console races the debug thread ----

const uint32_t HANDOFFS = 2000;

// Every exception is followed by an event that overwrites the received record with junk.
// One accepted "cont" releases exactly one hand-off: when exception k is reported the
// log holds the 2k continuations before it and no more; a second "cont" given before
// exception k + 1 is queued never releases it; every report is the whole record of
// exception k.
TEST_F(DebugLoop, StressEveryContReleasesExactlyOneHandOff) {
    start_run();
    for (uint32_t k = 0; k < HANDOFFS; k++) {
        fake::push_event(numbered_exception(k));
        fake::push_event(filler(0x20000u + k, static_cast<uint8_t>(0xA0 + k % 16)));
        DEBUG_EVENT copy;
        uint8_t taken = POLL_NOTHING;
        ASSERT_TRUE(spin_until([&] { return (taken = debug_poll_event(&copy)) != POLL_NOTHING; }))
            << "exception " << k << " was never handed off";
        ASSERT_EQ(taken, POLL_EXCEPTION) << "at exception " << k;
        ASSERT_EQ(numbered_exception_in(copy), static_cast<int>(k));
        ASSERT_EQ(load_debug_state(), STATE_EXCEPTION) << "at exception " << k;
        ASSERT_FALSE(signalled(continue_event)) << "a release is left over at exception " << k;
        ASSERT_EQ(fake::continuation_count(), 2u * k) << "at exception " << k;
        ASSERT_EQ(debug_continue(0), 0);
        if (k % 2 == 1)
            debug_continue(0); // accepted or not, it must not reach exception k + 1
    }
    fake::push_event(fake::exit_process_record(fake::PROCESS_ID, 0));
    expect_run_ends_with(0);

    std::vector<fake::continuation> log = fake::continuations();
    ASSERT_EQ(log.size(), 2u * HANDOFFS + 1); // and the exit
    for (uint32_t k = 0; k < HANDOFFS; k++) {
        ASSERT_EQ(log[2 * k].thread_id, 0x10000u + k);
        ASSERT_EQ(log[2 * k].status, CONTINUE_HANDLED);
        ASSERT_EQ(log[2 * k + 1].thread_id, 0x20000u + k);
        ASSERT_EQ(log[2 * k + 1].status, CONTINUE_NOT_HANDLED);
    }
}

// "cont" comes before the poll, so the poll races the debug thread while it receives the
// junk events after the exception and the next exception: each report must still be one
// whole exception record, never older than the one before it nor ahead of the run.
TEST_F(DebugLoop, StressReportsStayWholeWhileTheLoopMovesOn) {
    const uint32_t FILLERS = 3;
    start_run();
    for (uint32_t k = 0; k < HANDOFFS; k++) {
        fake::push_event(numbered_exception(k));
        for (uint32_t f = 0; f < FILLERS; f++)
            fake::push_event(filler(0x20000u + k * FILLERS + f, static_cast<uint8_t>(0x5A + f)));
    }
    int last_reported = -1;
    int reports = 0;
    for (uint32_t k = 0; k < HANDOFFS; k++) {
        size_t before = (FILLERS + 1) * k;
        ASSERT_TRUE(spin_until([&] {
            return fake::continuation_count() == before && load_debug_state() == STATE_EXCEPTION;
        })) << "exception "
            << k << " was never handed off";
        ASSERT_EQ(debug_continue(0), 0) << "at exception " << k;
        // Poll at a varying point of the debug thread's way through the next events.
        for (uint32_t pause = 0; pause < k % 64; pause++)
            std::this_thread::yield();
        DEBUG_EVENT copy;
        uint8_t taken = debug_poll_event(&copy);
        ASSERT_NE(taken, POLL_EXITED);
        if (taken == POLL_NOTHING)
            continue;
        int number = numbered_exception_in(copy);
        ASSERT_NE(number, -1) << "a report that is no whole exception record, after " << k;
        ASSERT_GT(number, last_reported);
        ASSERT_LE(number, static_cast<int>(k) + 1);
        last_reported = number;
        reports++;
    }
    EXPECT_GT(reports, 0);
    fake::push_event(fake::exit_process_record(fake::PROCESS_ID, 0));
    expect_run_ends_with(0);
    EXPECT_EQ(fake::continuations().size(), (FILLERS + 1) * HANDOFFS + 1); // and the exit
}

} // namespace
