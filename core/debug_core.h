// The debug core's shared variables, its state and its one-time start-up.
// Shared by the console thread and the debug thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

enum debug_state_value : uint8_t {
    STATE_UNINIT = 0,
    STATE_IDLE = 1,
    STATE_RUNNING = 2,
    STATE_EXCEPTION = 3,
    STATE_SUSPENDED = 4,
};

extern std::atomic<uint8_t> debug_state;
extern STARTUPINFOA startup_info;
extern PROCESS_INFORMATION process_info;
extern std::atomic<uint32_t> pass_exception;
extern HANDLE exception_event;
extern HANDLE exit_event;
extern HANDLE continue_event;
extern DEBUG_EVENT last_debug_event;
extern plat_process_routine nt_suspend_process;
extern plat_process_routine nt_resume_process;
extern const char *target_command_line;
extern HANDLE debug_thread;
extern DWORD debug_thread_id;
// The creation record of the debug thread's run (run_records.h); the console's alone.
struct creation_handles;
extern creation_handles *debug_thread_creation;
// The debuggee's process handle as the console uses it: published by the debug thread once
// the launch has returned, withdrawn by the console before it closes the run's handles.
// Null while there is none, so that a console command during a launch finds either no
// handle or the whole one.
extern std::atomic<HANDLE> debuggee_process;

// 0 ready; 1 system older than version 5.1 (or no version to be had);
// 2 already initialised; 3 the hand-off events could not be created.
uint8_t debug_core_init();

inline uint8_t load_debug_state() {
    return debug_state.load(std::memory_order_acquire);
}
inline void store_debug_state(uint8_t state) {
    debug_state.store(state, std::memory_order_release);
}
inline HANDLE load_debuggee_process() {
    return debuggee_process.load(std::memory_order_acquire);
}

// A short spin lock that makes a notification (its record copy and its signal) one step
// against the console's poll, and lets the console end a debug thread only while that
// thread holds nothing of ours. Held for a few instructions and one event call at most.
void core_lock_acquire();
void core_lock_release();
// The debug thread's way in: as core_lock_acquire, for the thread of run `run`. False, without
// the lock, once the console has admitted another run (core_lock_admit); nothing admits a run
// again once it has been passed over, so a barred thread never holds the lock.
bool core_lock_acquire_for_run(uint32_t run);
// With the lock held: from now on only the debug thread of `run` (and the console) can take it.
// The console admits each new run's thread before it starts it, and bars a thread that it
// cannot confirm gone before it lets go of the lock.
void core_lock_admit(uint32_t run);
