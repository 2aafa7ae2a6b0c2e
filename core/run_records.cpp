#include "core/run_records.h"

#include <cstring>

enum record_use : uint8_t { RECORD_FREE, RECORD_RUNNING, RECORD_LEFT };

static creation_handles records[RUN_RECORD_COUNT];
static record_use uses[RUN_RECORD_COUNT];
static HANDLE left_threads[RUN_RECORD_COUNT]; // of the RECORD_LEFT ones

// Each handle is marked before it is closed: a thread ended in between leaves a handle open
// rather than have it closed twice.
void close_creation_handles(creation_handles *creation) {
    if (!creation->thread_closed) {
        creation->thread_closed = true;
        close_if_open(creation->event.u.CreateProcessInfo.hThread);
    }
    if (!creation->process_closed) {
        creation->process_closed = true;
        close_if_open(creation->event.u.CreateProcessInfo.hProcess);
    }
}

static uint32_t index_of(const creation_handles *record) {
    return static_cast<uint32_t>(record - records);
}

// A left thread that has ended hands its record back, with what it left open.
static void take_back_ended() {
    for (uint32_t i = 0; i < RUN_RECORD_COUNT; i++) {
        if (uses[i] != RECORD_LEFT || !plat_wait(left_threads[i], 0))
            continue;
        plat_close_handle(left_threads[i]);
        left_threads[i] = nullptr;
        run_record_release(&records[i]);
    }
}

creation_handles *run_record_take() {
    take_back_ended();
    for (uint32_t i = 0; i < RUN_RECORD_COUNT; i++) {
        if (uses[i] != RECORD_FREE)
            continue;
        uses[i] = RECORD_RUNNING;
        memset(&records[i], 0, sizeof records[i]);
        return &records[i];
    }
    return nullptr;
}

void run_record_release(creation_handles *record) {
    close_creation_handles(record);
    close_if_open(record->launched.hThread);
    close_if_open(record->launched.hProcess);
    uses[index_of(record)] = RECORD_FREE;
}

void run_record_leave(creation_handles *record, HANDLE thread) {
    uint32_t i = index_of(record);
    uses[i] = RECORD_LEFT;
    left_threads[i] = thread;
}

void run_records_reset() {
    memset(records, 0, sizeof records);
    for (uint32_t i = 0; i < RUN_RECORD_COUNT; i++) {
        uses[i] = RECORD_FREE;
        left_threads[i] = nullptr;
    }
}
