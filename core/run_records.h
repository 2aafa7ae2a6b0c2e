// The records of the runs, one for each debug thread that may still be running: the run's
// number, its launch and its creation event. A run's thread fills its own record and closes
// the creation event's handles; the launch's handles are the record's, closed when the record
// is freed. A thread that "rest" could not confirm gone keeps its record until it has ended, so
// that it can never touch the record, nor close the handles, of the run started after it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The launched process's creation event, and which of its handles the system has closed
// since: where it closes thread handles, it closes the first thread's when that thread's exit
// is continued, and the process's (with its remaining thread's) when the process's exit is.
struct creation_handles {
    DEBUG_EVENT event; // zero until the creation event has come
    bool thread_closed;
    bool process_closed;
    uint32_t run;                 // given by the console with the record
    PROCESS_INFORMATION launched; // zero until the launch has succeeded
};

// The current run and the runs whose threads were left to end by themselves.
const uint32_t RUN_RECORD_COUNT = 8;

// The console's side; the console thread alone calls these.
// A zeroed record for a new run. First takes back the records of left threads that have
// ended since. Null while every record belongs to a thread that may still run.
creation_handles *run_record_take();
// The record's thread is known to be gone: closes the launch's handles and the creation
// handles that neither the system nor that thread has closed, and frees the record.
void run_record_release(creation_handles *record);
// The record's thread could not be confirmed gone: the record stays its own until `thread`
// (a handle the records now own) shows that it has ended.
void run_record_leave(creation_handles *record, HANDLE thread);
// Puts every record back to free, forgetting left threads (for the tests' reset).
void run_records_reset();

// The creation event's handles that the system has not closed, closed once each.
void close_creation_handles(creation_handles *creation);
