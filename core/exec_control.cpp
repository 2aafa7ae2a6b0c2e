#include "core/exec_control.h"

#include "breakpoints/bp_table.h"
#include "core/debug_core.h"
#include "core/debug_loop.h"
#include "core/run_records.h"

// A test of the state and the store after it, as one step against the debug thread.
static bool move_state(uint8_t from, uint8_t to) {
    uint8_t expected = from;
    return debug_state.compare_exchange_strong(expected, to, std::memory_order_acq_rel,
                                               std::memory_order_acquire);
}

uint8_t debug_stop() {
    if (nt_suspend_process == nullptr)
        return 1;
    if (!move_state(STATE_RUNNING, STATE_SUSPENDED))
        return 1;
    debuggee_suspended.store(true, std::memory_order_release);
    nt_suspend_process(load_debuggee_process());
    return 0;
}

uint8_t debug_resume() {
    if (nt_resume_process == nullptr)
        return 1;
    if (!move_state(STATE_SUSPENDED, STATE_RUNNING))
        return 1;
    debuggee_suspended.store(false, std::memory_order_release);
    nt_resume_process(load_debuggee_process());
    return 0;
}

void debug_reset() {
    HANDLE process = load_debuggee_process();
    if (process != nullptr)
        plat_terminate_process(process, 0);
    bp_clear();
    debuggee_suspended.store(false, std::memory_order_release);
    store_debug_state(STATE_IDLE);
}

// From here on the current debug thread is retired (debug_loop.h): it stores no state, raises
// no notification and starts no launch; a launch already under way is let finish (bounded),
// since ending a thread inside it could leave system locks held.
static void quiesce_debug_thread() {
    core_lock_acquire();
    current_run.fetch_add(1, std::memory_order_release);
    core_lock_release();
    for (uint32_t waited = 0;
         launch_in_progress.load(std::memory_order_acquire) && waited < LAUNCH_WAIT_MS;
         waited += 10)
        plat_sleep(10);
}

// Ends the thread where it is parked in a wait, holding nothing; a thread still starting,
// launching or serving an event is given time (bounded) to get there or to end by itself.
// True once the thread is known to be gone.
static bool terminate_debug_thread() {
    for (uint32_t waited = 0;; waited += 10) {
        core_lock_acquire();
        bool parked = debug_thread_parked.load(std::memory_order_acquire);
        if (parked || waited >= LAUNCH_WAIT_MS) {
            // The kill is only queued: until the thread has ended it may still run on, out of
            // a wait that has just returned, take the lock and die holding it. The lock stays
            // ours until then; a dying thread never needs it. A thread not seen to end (the kill
            // failed, or it is slow to die) is barred from the lock before we let go of it: it
            // can then neither die holding it nor act in a later run, and its flags are not ours.
            bool gone =
                plat_terminate_thread(debug_thread, 0) && plat_wait(debug_thread, RETIRE_WAIT_MS);
            debug_thread_parked.store(false, std::memory_order_release);
            if (!gone) {
                launch_in_progress.store(false, std::memory_order_release);
                core_lock_admit(current_run.load(std::memory_order_acquire));
            }
            core_lock_release();
            return gone;
        }
        core_lock_release();
        if (plat_wait(debug_thread, 10))
            return true;
    }
}

static void forget_debug_thread() {
    plat_close_handle(debug_thread);
    debug_thread = nullptr;
    debug_thread_creation = nullptr;
}

// The new thread's run is the current one: only it may take the core lock from now on. With
// every record held by a thread that may still run, no run starts; "rest" says nothing of it,
// as of a thread that could not be created, and the next "rest" tries again.
bool debug_start_thread() {
    creation_handles *creation = run_record_take();
    if (creation == nullptr)
        return false;
    creation->run = current_run.load(std::memory_order_acquire);
    core_lock_acquire();
    core_lock_admit(creation->run);
    core_lock_release();
    debug_thread = plat_create_thread(debug_thread_proc, creation, &debug_thread_id);
    if (debug_thread == nullptr) {
        run_record_release(creation);
        return false;
    }
    debug_thread_creation = creation;
    return true;
}

// The console lets go of the ended run's debuggee before its record, which owns the launch's
// handles, can be freed: no console command can find them any more.
static void withdraw_debuggee() {
    debuggee_process.store(nullptr, std::memory_order_release);
    process_info.hThread = nullptr;
    process_info.hProcess = nullptr;
}

// The retired thread lets its terminated debuggee finish: release it from a stop, then wait
// for it to see the end; end it ourselves only if it does not. The record of an ended thread is
// freed with the handles it left open. One that is not known to be gone keeps its run's record,
// and closes its creation handles itself if it ever gets there.
static void retire_debug_thread() {
    plat_set_event(continue_event);
    if (plat_wait(debug_thread, RETIRE_WAIT_MS) || terminate_debug_thread()) {
        run_record_release(debug_thread_creation);
        forget_debug_thread();
    } else {
        run_record_leave(debug_thread_creation, debug_thread);
        debug_thread = nullptr;
        debug_thread_creation = nullptr;
    }
    plat_reset_event(continue_event);
}

void cmd_rest() {
    bool had_thread = debug_thread != nullptr;
    if (had_thread)
        quiesce_debug_thread();
    debug_reset();
    withdraw_debuggee();
    if (had_thread)
        retire_debug_thread();
    debug_start_thread();
}

void debug_end_thread() {
    if (debug_thread == nullptr)
        return;
    quiesce_debug_thread();
    terminate_debug_thread();
    forget_debug_thread();
}
