// Execution control: suspend, resume, restart, and ending the debug thread.
#pragma once

#include <cstdint>

// 0 suspension requested; 1 refused (not running, or no suspend routine).
uint8_t debug_stop();
// 0 resumption requested; 1 refused (not suspended, or no resume routine).
uint8_t debug_resume();
// Ends the debuggee, empties the breakpoint table, goes idle. Any state.
void debug_reset();

// Starts a debug thread for a new run, with a creation record of its own; false when there
// is no free record or no thread (debug_thread stays null).
bool debug_start_thread();
// "rest": retires the current debug thread, resets, starts a new debug thread.
void cmd_rest();
// The first step of "exit": ends the debug thread started last.
void debug_end_thread();

// Bounds on how long the console waits for the debug thread at "rest" and "exit".
const uint32_t LAUNCH_WAIT_MS = 10000;
const uint32_t RETIRE_WAIT_MS = 5000;
