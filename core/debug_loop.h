// The debug thread's event loop and the console's side of the exception hand-off.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

enum poll_result : uint8_t {
    POLL_NOTHING = 0,
    POLL_EXCEPTION = 1,
    POLL_EXITED = 0xFF,
};

const uint32_t EXCEPTION_PASSED_THROUGH = 0x6BA;
const uint32_t LAUNCH_BUFFER_SIZE = 256;

// debug_loop results beyond 0 (ended), 1 (not idle) and 2 (no launch: it failed, or the run
// was retired first): the debugging interface failed mid-run, so the debuggee was ended and the
// run given up; or the console gave up on this thread, which then ended at once.
const uint8_t LOOP_INTERFACE_FAILED = 3;
const uint8_t LOOP_THREAD_BARRED = 4;

struct creation_handles;

// A debug thread serves one run, whose creation record (run_records.h) is its parameter.
DWORD PLAT_STDCALL debug_thread_proc(void *creation);
uint8_t debug_loop(const char *command_line, creation_handles *creation);

// Console side: take one pending notification (the end first), copying the record of the
// event that raised it. POLL_NOTHING leaves `copy` untouched.
uint8_t debug_poll_event(DEBUG_EVENT *copy);

// Releases the exception the debug thread holds: 0 accepted, 1 no exception held.
uint8_t debug_continue(uint32_t pass);

// The run of the debug thread that the console started last; changed by the console under the
// core lock when it retires that thread. A thread of any other run is retired: it stores no
// state, raises no notification, launches nothing and waits for no "cont"; it only lets its own
// debuggee finish. Until the console bars it from the core lock (core_lock_admit) it still takes
// that lock, to leave its waits and to set `pass_exception` after each continuation: no other
// run starts before that. A barred thread ends at its next step, touching nothing of ours.
extern std::atomic<uint32_t> current_run;
// The two flags below are written only by a debug thread that holds the core lock for its run,
// and cleared by the console when it bars a thread.
// True while the debug thread is inside the launch (which holds system locks).
extern std::atomic<bool> launch_in_progress;
// True while the debug thread is parked in a wait (for a debug event, or for "cont") in
// which it holds no lock, ours or the system's: the only place it may be ended from outside.
// It leaves the wait under the core lock, so a console holding that lock sees it stay.
extern std::atomic<bool> debug_thread_parked;
// True while "stop" holds the debuggee's threads suspended.
extern std::atomic<bool> debuggee_suspended;
