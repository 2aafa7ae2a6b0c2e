// A scripted stand-in for the platform layer, for the host unit tests: debug events
// fed by the test, a fake debuggee memory that counts its transfers, events and
// threads on standard primitives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct transfer {
    uint32_t address;
    uint32_t size;
};

struct continuation {
    DWORD process_id;
    DWORD thread_id;
    uint32_t status;
};

// Puts every fake back to its start: empty memory, no events, version 6.1, routines and
// library present, launches succeed. Also clears the system's own shared variables.
void reset();

// The fake debuggee's handle, pid and tid, as a successful launch fills them in.
HANDLE process_handle();
const DWORD PROCESS_ID = 0x1F4;
const DWORD THREAD_ID = 0x200;

// Debuggee memory: readable bytes at given addresses; everything else fails to read.
void map_memory(uint32_t address, const std::vector<uint8_t> &bytes);
uint8_t memory_byte(uint32_t address);
void memory_bytes(uint32_t address, uint32_t size, uint8_t *out); // all of them mapped
void fail_reads_at(uint32_t address);  // a read covering this address fails
void short_reads_at(uint32_t address); // a read covering it moves one byte less
void fail_writes_at(uint32_t address);
const std::vector<transfer> &reads();
const std::vector<transfer> &writes();

// Launch.
void set_launch_result(bool succeeds);
std::string launched_command_line();
int launch_count();
// While held, a launch blocks inside the platform call until released (or its thread is
// terminated, which is counted: a thread must never be ended inside the launch).
void hold_launches(bool hold);
bool wait_until_launch_held(uint32_t ms);
int kills_inside_launch();

// Debug events: queued by the test, received by the loop in order.
void push_event(const DEBUG_EVENT &event);
void fail_next_wait();     // the next wait for an event fails
void fail_continuations(); // every continuation fails from now on
std::vector<continuation> continuations();
// How many continuations have been made: cheap enough to spin on, unlike a copy of the log.
size_t continuation_count();
// Waits (up to `ms`) until `count` continuations have been made; false on timeout.
bool wait_for_continuations(size_t count, uint32_t ms);
// Waits (up to `ms`) until the loop blocks for the next event with the queue empty.
bool wait_until_loop_waits(uint32_t ms);

DEBUG_EVENT exception_event_record(uint32_t code, uint32_t address);
DEBUG_EVENT exit_process_record(DWORD process_id, uint32_t exit_code);
DEBUG_EVENT simple_record(uint32_t event_code);

// Version, routines, library.
void set_version(uint32_t major, uint32_t minor);
void set_system_routines_present(bool present);
int suspend_calls();
int resume_calls();
void set_library_present(bool present);
void set_export_present(bool present);
void set_thread_creation(bool succeeds);
// When false, the system refuses to end threads: the thread runs on.
void set_thread_termination(bool succeeds);
// While held back, a thread that the fake created gets nothing it waits for (a signal, a debug
// event, a failed wait), as one the system does not run for a while; let go, it waits on.
void hold_back(HANDLE thread, bool hold);

// Process control as the system saw it.
int terminate_process_calls();
// When false, terminating the debuggee no longer reaches its debugger as an exit event.
void set_termination_reported(bool reported);
// When false, event creation fails (returns a null handle).
void set_event_creation(bool succeeds);
int terminate_thread_calls();
int closed_handles();
int key_waits();
// The console that "exit" finds; by default one with a window, in a person's session. The
// console's window is the one value that the window test finds a window.
HWND console_window();
void set_console(const console_facts &facts);

// Handles. The fake plays Windows by default, which closes a thread's handle when the exit it
// reports (its own, or its process's) is continued, and the process's handle with the
// process's exit; false plays Wine, which closes none.
void set_system_closes_thread_handles(bool closes);
// Whether a handle the fake handed out (launch, debug event, event, thread) is still open.
bool handle_open(HANDLE handle);
// Closes, by the debugger or the system, of a handle closed already or never handed out.
int bad_closes();

// Yields: while held, a thread that yields to any thread stays inside
// the call until released; or, once killed and its end waited for, it comes back from it and
// dies at its next call, as a thread that runs on for a moment after the kill.
void hold_yields(bool hold);
bool wait_until_yield_held(uint32_t ms);
int yields();      // yields to any thread
int event_waits(); // waits on an event, whatever their timeout

// Waits (up to `ms`) until every thread the fake created has ended.
bool wait_for_threads(uint32_t ms);

} // namespace fake
