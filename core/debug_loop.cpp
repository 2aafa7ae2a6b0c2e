#include "core/debug_loop.h"

#include <cstring>

#include "core/debug_core.h"
#include "core/run_records.h"

std::atomic<bool> debug_thread_retired{false};
std::atomic<bool> launch_in_progress{false};
std::atomic<bool> debuggee_suspended{false};
std::atomic<bool> debug_thread_parked{false};

// The records of the events that raised the pending notifications, kept when they were
// raised: the console reports these, whatever the debug thread has received since.
static DEBUG_EVENT notified_exception;
static DEBUG_EVENT notified_exit;

static bool retired() {
    return debug_thread_retired.load(std::memory_order_acquire);
}

static uint32_t flag_status() {
    return pass_exception.load(std::memory_order_acquire) != 0 ? CONTINUE_NOT_HANDLED
                                                               : CONTINUE_HANDLED;
}

// Stores a state of the debug thread's, unless the console has retired it.
static void publish_state(uint8_t state) {
    core_lock_acquire();
    if (!retired())
        store_debug_state(state);
    core_lock_release();
}

// The notifications signalled and not yet taken by a poll, one bit each. A poll that finds
// none asks the system nothing: under Wine each wait is a round trip to the wineserver, which
// also carries every debug event of the debuggee, so a script polling without a pause would
// slow the debuggee. The bits are only ever changed under the core lock, with the events.
enum announcement : uint8_t { ANNOUNCED_EXCEPTION = 1, ANNOUNCED_EXIT = 2 };
static std::atomic<uint8_t> announced{0};

// The state goes in before the signal, and the record and the announcement with it, in one
// step against a poll.
static void notify(uint8_t state, DEBUG_EVENT *kept, uint8_t bit, HANDLE event) {
    core_lock_acquire();
    if (!retired()) {
        store_debug_state(state);
        *kept = last_debug_event;
        announced.fetch_or(bit, std::memory_order_release);
        plat_set_event(event);
    }
    core_lock_release();
}

// Holds the debuggee at an exception until the console says "cont".
static void exception_handoff() {
    notify(STATE_EXCEPTION, &notified_exception, ANNOUNCED_EXCEPTION, exception_event);
    debug_thread_parked.store(true, std::memory_order_release);
    plat_wait(continue_event, PLAT_INFINITE);
    // Reset and the state store are one step against debug_continue, so that a second
    // "cont" can neither slip in between them nor leave the event set for the next stop.
    core_lock_acquire();
    debug_thread_parked.store(false, std::memory_order_release);
    plat_reset_event(continue_event);
    if (!retired()) {
        // An exception that reached us while "stop" held the debuggee suspended hands it
        // back suspended, so that "resume" is accepted again.
        bool suspended = debuggee_suspended.load(std::memory_order_acquire);
        store_debug_state(suspended ? STATE_SUSPENDED : STATE_RUNNING);
    }
    core_lock_release();
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

// Acts on one event; returns the status to continue it with. Sets `ended` on the
// exit of the launched process, the last event of the run.
static uint32_t handle_event(const DEBUG_EVENT &event, DEBUG_EVENT *creation, bool *ended) {
    switch (event.dwDebugEventCode) {
    case EVENT_EXCEPTION:
        if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_PASSED_THROUGH)
            return CONTINUE_NOT_HANDLED;
        if (retired()) // nobody will say "cont" to a retired thread
            return flag_status();
        exception_handoff();
        return flag_status();
    case EVENT_CREATE_THREAD:
    case EVENT_EXIT_THREAD:
        return CONTINUE_HANDLED;
    case EVENT_CREATE_PROCESS:
        if (event.dwProcessId == process_info.dwProcessId)
            *creation = event;
        return flag_status();
    case EVENT_EXIT_PROCESS:
        if (event.dwProcessId == process_info.dwProcessId) {
            *ended = true;
            return CONTINUE_HANDLED;
        }
        return flag_status();
    default:
        return flag_status();
    }
}

// The launch holds system locks: the console must not end this thread inside it, and a
// retired thread must not start one. The launch records belong to this thread: the console
// reads them only once this thread has ended, and reaches the debuggee through
// `debuggee_process`, published once the launch has returned and before the launch is marked
// over, so that a console that waited for the launch to end finds it.
static bool launch(char *launch_buffer) {
    core_lock_acquire();
    bool allowed = !retired();
    if (allowed) {
        memset(&startup_info, 0, sizeof startup_info);
        startup_info.cb = sizeof startup_info;
        process_info.hProcess = nullptr;
        process_info.hThread = nullptr;
        process_info.dwProcessId = 0;
        process_info.dwThreadId = 0;
        launch_in_progress.store(true, std::memory_order_release);
    }
    core_lock_release();
    if (!allowed)
        return false;
    bool launched = plat_launch_debuggee(launch_buffer, &startup_info, &process_info);
    if (launched)
        debuggee_process.store(process_info.hProcess, std::memory_order_release);
    launch_in_progress.store(false, std::memory_order_release);
    return launched;
}

// A wait or a continuation that fails would fail again at once: rather than spin, end
// the debuggee, which can no longer be served, and give the run up.
static uint8_t give_up_run() {
    plat_terminate_process(process_info.hProcess, 0);
    publish_state(STATE_IDLE);
    return LOOP_INTERFACE_FAILED;
}

// The wait for the next event, parked: the one place besides the wait for "cont" where the
// console may end this thread.
static bool wait_debug_event_parked() {
    debug_thread_parked.store(true, std::memory_order_release);
    bool received = plat_wait_debug_event(&last_debug_event);
    core_lock_acquire();
    debug_thread_parked.store(false, std::memory_order_release);
    core_lock_release();
    return received;
}

// Serves the launched debuggee's events until it ends. Its exit is continued too, once the
// console has been told: the process finishes only then, and that ends the debugging session.
static uint8_t run_events(creation_handles *creation) {
    for (;;) {
        if (!wait_debug_event_parked())
            return give_up_run();
        bool ended = false;
        uint32_t status = handle_event(last_debug_event, &creation->event, &ended);
        if (ended)
            notify(STATE_IDLE, &notified_exit, ANNOUNCED_EXIT, exit_event);
        if (!plat_continue_debug_event(last_debug_event.dwProcessId, last_debug_event.dwThreadId,
                                       status)) {
            // Two returns: "ended ? 0 : ..." would be an int narrowed to the result.
            if (ended)
                return 0;
            return give_up_run();
        }
        release_event_handles(last_debug_event);
        note_system_closes(last_debug_event, creation);
        pass_exception.store(1, std::memory_order_release);
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

    memset(creation, 0, sizeof *creation);
    if (!launch(launch_buffer))
        return 2;
    debuggee_suspended.store(false, std::memory_order_release);
    publish_state(STATE_RUNNING);

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
