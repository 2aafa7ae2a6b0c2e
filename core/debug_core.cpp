#include "core/debug_core.h"

#include "breakpoints/bp_table.h"

std::atomic<uint8_t> debug_state{STATE_UNINIT};
STARTUPINFOA startup_info;
PROCESS_INFORMATION process_info;
std::atomic<uint32_t> pass_exception{0};
HANDLE exception_event;
HANDLE exit_event;
HANDLE continue_event;
DEBUG_EVENT last_debug_event;
plat_process_routine nt_suspend_process;
plat_process_routine nt_resume_process;
const char *target_command_line;
HANDLE debug_thread;
DWORD debug_thread_id;
creation_handles *debug_thread_creation;
std::atomic<HANDLE> debuggee_process{nullptr};

// Bit 0 holds the lock; the bits above name the run whose debug thread may take it (a run
// number modulo 2^31). One word, so that a debug thread's test of its run and its taking of the
// lock are one step: a barred thread can never hold it.
static std::atomic<uint32_t> core_lock{0};
const uint32_t CORE_LOCK_HELD = 1;

// A waiter gives the processor to any thread that is ready, whatever its priority: one that
// gave way only to its equals could keep a preempted holder of lower priority from ever
// getting back to release the lock.
void core_lock_acquire() {
    for (;;) {
        uint32_t word = core_lock.load(std::memory_order_relaxed);
        if ((word & CORE_LOCK_HELD) == 0 &&
            core_lock.compare_exchange_strong(word, word | CORE_LOCK_HELD,
                                              std::memory_order_acquire))
            return;
        plat_yield();
    }
}

bool core_lock_acquire_for_run(uint32_t run) {
    const uint32_t free_for_run = run << 1;
    for (;;) {
        uint32_t word = free_for_run;
        if (core_lock.compare_exchange_strong(word, free_for_run | CORE_LOCK_HELD,
                                              std::memory_order_acquire))
            return true;
        if ((word & ~CORE_LOCK_HELD) != free_for_run)
            return false;
        plat_yield();
    }
}

void core_lock_release() {
    core_lock.fetch_and(~CORE_LOCK_HELD, std::memory_order_release);
}

void core_lock_admit(uint32_t run) {
    core_lock.store((run << 1) | CORE_LOCK_HELD, std::memory_order_relaxed);
}

static bool version_supported(uint32_t major, uint32_t minor) {
    return major > 5 || (major == 5 && minor >= 1);
}

uint8_t debug_core_init() {
    if (load_debug_state() != STATE_UNINIT)
        return 2;
    uint32_t major = 0;
    uint32_t minor = 0;
    if (!plat_get_version(&major, &minor) || !version_supported(major, minor))
        return 1;

    nt_suspend_process = plat_find_system_routine("NtSuspendProcess");
    nt_resume_process = plat_find_system_routine("NtResumeProcess");
    exception_event = plat_create_event();
    exit_event = plat_create_event();
    continue_event = plat_create_event();
    // Nothing may ever wait on an event that does not exist: refuse to start instead.
    if (exception_event == nullptr || exit_event == nullptr || continue_event == nullptr)
        return 3;
    bp_clear();
    store_debug_state(STATE_IDLE);
    return 0;
}
