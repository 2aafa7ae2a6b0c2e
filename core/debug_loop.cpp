#include "core/debug_loop.h"

#include <cstring>

#include "core/debug_core.h"
#include "core/run_records.h"

std::atomic<uint32_t> current_run{0};
std::atomic<bool> launch_in_progress{false};
std::atomic<bool> debuggee_suspended{false};
std::atomic<bool> debug_thread_parked{false};

// The records of the events that raised the pending notifications, kept when they were
// raised: the console reports these, whatever the debug thread has received since.
static DEBUG_EVENT notified_exception;
static DEBUG_EVENT notified_exit;

// Where a debug thread stands, as it finds out when it asks for the core lock.
enum run_standing : uint8_t {
    RUN_CURRENT, // lock held; the console's run
    RUN_RETIRED, // lock held; "rest" or "exit" has retired the run
    RUN_BARRED,  // no lock: the console has given up on this thread, which must end at once
};

// Takes the core lock for the thread of `run`, unless that thread is barred from it.
static run_standing lock_run(uint32_t run) {
    if (!core_lock_acquire_for_run(run))
        return RUN_BARRED;
    return current_run.load(std::memory_order_acquire) == run ? RUN_CURRENT : RUN_RETIRED;
}

static uint32_t flag_status() {
    return pass_exception.load(std::memory_order_acquire) != 0 ? CONTINUE_NOT_HANDLED
                                                               : CONTINUE_HANDLED;
}

// Stores a state of the run's, unless the console has retired it. False when barred.
static bool publish_state(uint32_t run, uint8_t state) {
    run_standing standing = lock_run(run);
    if (standing == RUN_BARRED)
        return false;
    if (standing == RUN_CURRENT)
        store_debug_state(state);
    core_lock_release();
    return true;
}

// The notifications signalled and not yet taken by a poll, one bit each. A poll that finds
// none asks the system nothing: under Wine each wait is a round trip to the wineserver, which
// also carries every debug event of the debuggee, so a script polling without a pause would
// slow the debuggee. The bits are only ever changed under the core lock, with the events.
enum announcement : uint8_t { ANNOUNCED_EXCEPTION = 1, ANNOUNCED_EXIT = 2 };
static std::atomic<uint8_t> announced{0};

// Under the core lock, for the current run: the state goes in before the signal, and the
// record and the announcement with it, in one step against a poll.
static void notify(uint8_t state, DEBUG_EVENT *kept, uint8_t bit, HANDLE event) {
    store_debug_state(state);
    *kept = last_debug_event;
    announced.fetch_or(bit, std::memory_order_release);
    plat_set_event(event);
}

// Tells the console that the run's debuggee has ended, unless the run is retired. False when
// barred.
static bool notify_exit(uint32_t run) {
    run_standing standing = lock_run(run);
    if (standing == RUN_BARRED)
        return false;
    if (standing == RUN_CURRENT)
        notify(STATE_IDLE, &notified_exit, ANNOUNCED_EXIT, exit_event);
    core_lock_release();
    return true;
}

// Holds the debuggee at an exception until the console says "cont"; nobody will say it to a
// retired thread, which goes on at once. False when the thread has been barred meanwhile: it
// then ends without continuing, since what woke it was another run's "cont".
static bool exception_handoff(uint32_t run) {
    run_standing standing = lock_run(run);
    if (standing == RUN_BARRED)
        return false;
    if (standing == RUN_CURRENT) {
        notify(STATE_EXCEPTION, &notified_exception, ANNOUNCED_EXCEPTION, exception_event);
        debug_thread_parked.store(true, std::memory_order_release);
    }
    core_lock_release();
    if (standing == RUN_RETIRED)
        return true;
    plat_wait(continue_event, PLAT_INFINITE);
    // Reset and the state store are one step against debug_continue, so that a second
    // "cont" can neither slip in between them nor leave the event set for the next stop.
    standing = lock_run(run);
    if (standing == RUN_BARRED)
        return false;
    debug_thread_parked.store(false, std::memory_order_release);
    plat_reset_event(continue_event);
    if (standing == RUN_CURRENT) {
        // An exception that reached us while "stop" held the debuggee suspended hands it
        // back suspended, so that "resume" is accepted again.
        bool suspended = debuggee_suspended.load(std::memory_order_acquire);
        store_debug_state(suspended ? STATE_SUSPENDED : STATE_RUNNING);
    }
    core_lock_release();
    return true;
}

// The file handles that events hand over are ours to close, and so is a new thread's
// handle where the system leaves it to us. Closed once the event has been continued, so
// that the debuggee does not wait for it.
static void release_event_handles(const DEBUG_EVENT &event) {
    if (event.dwDebugEventCode == EVENT_CREATE_PROCESS)
        close_if_open(event.u.CreateProcessInfo.hFile);
    else if (event.dwDebugEventCode == EVENT_LOAD_DLL)
        close_if_open(event.u.LoadDll.hFile);
    else if (event.dwDebugEventCode == EVENT_CREATE_THREAD && !plat_system_closes_thread_handles())
        close_if_open(event.u.CreateThread.hThread);
}

// Notes what the system closed when it was told that an event had been continued: the
// handle of the thread that reported an exit, and with the process's exit the process's.
static void note_system_closes(const DEBUG_EVENT &event, creation_handles *creation) {
    if (!plat_system_closes_thread_handles() ||
        creation->event.dwDebugEventCode != EVENT_CREATE_PROCESS ||
        event.dwProcessId != creation->event.dwProcessId)
        return;
    bool exited =
        event.dwDebugEventCode == EVENT_EXIT_THREAD || event.dwDebugEventCode == EVENT_EXIT_PROCESS;
    if (exited && event.dwThreadId == creation->event.dwThreadId)
        creation->thread_closed = true;
    if (event.dwDebugEventCode == EVENT_EXIT_PROCESS)
        creation->process_closed = true;
}

// What an event means for the run.
enum event_outcome : uint8_t { EVENT_SERVED, DEBUGGEE_ENDED, THREAD_BARRED };

// Acts on one event of the run's; returns the status to continue it with. The exit of the
// run's own launched process is its last event.
static uint32_t handle_event(const DEBUG_EVENT &event, creation_handles *run,
                             event_outcome *outcome) {
    switch (event.dwDebugEventCode) {
    case EVENT_EXCEPTION:
        if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_PASSED_THROUGH)
            return CONTINUE_NOT_HANDLED;
        if (!exception_handoff(run->run))
            *outcome = THREAD_BARRED;
        return flag_status();
    case EVENT_CREATE_THREAD:
    case EVENT_EXIT_THREAD:
        return CONTINUE_HANDLED;
    case EVENT_CREATE_PROCESS:
        if (event.dwProcessId == run->launched.dwProcessId)
            run->event = event;
        return flag_status();
    case EVENT_EXIT_PROCESS:
        if (event.dwProcessId == run->launched.dwProcessId) {
            *outcome = DEBUGGEE_ENDED;
            return CONTINUE_HANDLED;
        }
        return flag_status();
    default:
        return flag_status();
    }
}

// For the current run: its launch records zeroed and the launch marked under way, in one
// step against the console's retiring it. False for a run retired or barred.
static bool begin_launch(uint32_t run) {
    run_standing standing = lock_run(run);
    if (standing == RUN_BARRED)
        return false;
    if (standing == RUN_CURRENT) {
        memset(&startup_info, 0, sizeof startup_info);
        startup_info.cb = sizeof startup_info;
        memset(&process_info, 0, sizeof process_info);
        launch_in_progress.store(true, std::memory_order_release);
    }
    core_lock_release();
    return standing == RUN_CURRENT;
}

// The launch is over: a debuggee launched for the run that is still current is published.
static run_standing end_launch(const creation_handles *run, bool launched) {
    run_standing standing = lock_run(run->run);
    if (standing == RUN_BARRED)
        return standing;
    if (launched && standing == RUN_CURRENT) {
        process_info = run->launched;
        debuggee_process.store(process_info.hProcess, std::memory_order_release);
        debuggee_suspended.store(false, std::memory_order_release);
        store_debug_state(STATE_RUNNING);
    }
    launch_in_progress.store(false, std::memory_order_release);
    core_lock_release();
    return standing;
}

// The launch holds system locks: the console must not end this thread inside it, and a
// retired thread must not start one. The launch reads and fills the thread's own records, so
// that one which outlasts its run touches nothing of the next; a run still current when it
// has returned publishes them, in `process_info` and as `debuggee_process`, before the launch
// is marked over, so that a console that waited for the launch to end finds it. A debuggee
// launched for a run retired meanwhile is nobody's but this thread's, which ends it: a
// retired thread lets it finish.
static bool launch(char *launch_buffer, creation_handles *run) {
    if (!begin_launch(run->run))
        return false;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    bool launched = plat_launch_debuggee(launch_buffer, &startup, &run->launched);
    if (!launched)
        memset(&run->launched, 0, sizeof run->launched); // nothing of a failed launch is closed
    run_standing standing = end_launch(run, launched);
    if (launched && standing != RUN_CURRENT)
        plat_terminate_process(run->launched.hProcess, 0);
    return launched && standing != RUN_BARRED;
}

// A wait or a continuation that fails would fail again at once: rather than spin, end
// the run's debuggee, which can no longer be served, and give the run up.
static uint8_t give_up_run(uint32_t run, HANDLE process) {
    plat_terminate_process(process, 0);
    publish_state(run, STATE_IDLE);
    return LOOP_INTERFACE_FAILED;
}

// The wait for the next event, parked: the one place besides the wait for "cont" where the
// console may end this thread. The event is received into the thread's own `event`, and
// becomes `last_debug_event` only for the current run. False when barred, whatever the wait
// brought.
static bool wait_debug_event_parked(uint32_t run, DEBUG_EVENT *event, bool *received) {
    if (lock_run(run) == RUN_BARRED)
        return false;
    debug_thread_parked.store(true, std::memory_order_release);
    core_lock_release();
    *received = plat_wait_debug_event(event);
    run_standing standing = lock_run(run);
    if (standing == RUN_BARRED)
        return false;
    debug_thread_parked.store(false, std::memory_order_release);
    if (*received && standing == RUN_CURRENT)
        last_debug_event = *event;
    core_lock_release();
    return true;
}

// After each continuation; false when barred.
static bool set_pass_flag(uint32_t run) {
    if (lock_run(run) == RUN_BARRED)
        return false;
    pass_exception.store(1, std::memory_order_release);
    core_lock_release();
    return true;
}

// Serves the launched debuggee's events until it ends. Its exit is continued too, once the
// console has been told: the process finishes only then, and that ends the debugging session.
// A barred thread stops where it finds out, and continues nothing more.
static uint8_t run_events(creation_handles *run) {
    DEBUG_EVENT event;
    for (;;) {
        bool received = false;
        if (!wait_debug_event_parked(run->run, &event, &received))
            return LOOP_THREAD_BARRED;
        if (!received)
            return give_up_run(run->run, run->launched.hProcess);
        event_outcome outcome = EVENT_SERVED;
        uint32_t status = handle_event(event, run, &outcome);
        if (outcome == THREAD_BARRED)
            return LOOP_THREAD_BARRED;
        bool ended = outcome == DEBUGGEE_ENDED;
        if (ended && !notify_exit(run->run))
            return LOOP_THREAD_BARRED;
        if (!plat_continue_debug_event(event.dwProcessId, event.dwThreadId, status)) {
            // Two returns: "ended ? 0 : ..." would be an int narrowed to the result.
            if (ended)
                return 0;
            return give_up_run(run->run, run->launched.hProcess);
        }
        release_event_handles(event);
        note_system_closes(event, run);
        if (!set_pass_flag(run->run))
            return LOOP_THREAD_BARRED;
        if (ended)
            return 0;
    }
}

uint8_t debug_loop(const char *command_line, creation_handles *creation) {
    if (load_debug_state() != STATE_IDLE)
        return 1;
    char launch_buffer[LAUNCH_BUFFER_SIZE];
    size_t length = strnlen(command_line, LAUNCH_BUFFER_SIZE - 1);
    memcpy(launch_buffer, command_line, length);
    launch_buffer[length] = '\0';

    uint32_t run = creation->run;
    memset(creation, 0, sizeof *creation);
    creation->run = run;
    if (!launch(launch_buffer, creation))
        return 2;

    // The creation event's handles that the system has not closed are closed when the run
    // ends, which is all of them where the system closes none.
    uint8_t result = run_events(creation);
    close_creation_handles(creation);
    return result;
}

DWORD PLAT_STDCALL debug_thread_proc(void *creation) {
    return debug_loop(target_command_line, static_cast<creation_handles *>(creation)) == 0 ? 0 : 1;
}

// Under the core lock: takes the notification if it was announced and its event is still
// signalled. The bit goes either way, so that one whose event is gone is not asked again.
static bool take_notification(uint8_t bit, HANDLE event, const DEBUG_EVENT &kept,
                              DEBUG_EVENT *copy) {
    if ((announced.load(std::memory_order_acquire) & bit) == 0)
        return false;
    announced.fetch_and(static_cast<uint8_t>(~bit), std::memory_order_acq_rel);
    if (!plat_wait(event, 0))
        return false;
    *copy = kept;
    plat_reset_event(event);
    return true;
}

uint8_t debug_poll_event(DEBUG_EVENT *copy) {
    uint8_t result = POLL_NOTHING;
    core_lock_acquire();
    if (take_notification(ANNOUNCED_EXIT, exit_event, notified_exit, copy))
        result = POLL_EXITED;
    else if (take_notification(ANNOUNCED_EXCEPTION, exception_event, notified_exception, copy))
        result = POLL_EXCEPTION;
    core_lock_release();
    return result;
}

uint8_t debug_continue(uint32_t pass) {
    uint8_t result = 1;
    core_lock_acquire();
    if (load_debug_state() == STATE_EXCEPTION) {
        pass_exception.store(pass, std::memory_order_release);
        plat_set_event(continue_event);
        result = 0;
    }
    core_lock_release();
    return result;
}
