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

static std::atomic_flag core_lock = ATOMIC_FLAG_INIT;

// A waiter gives the processor to any thread that is ready, whatever its priority: one that
// gave way only to its equals could keep a preempted holder of lower priority from ever
// getting back to release the lock.
void core_lock_acquire() {
    while (core_lock.test_and_set(std::memory_order_acquire))
        plat_yield();
}

void core_lock_release() {
    core_lock.clear(std::memory_order_release);
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
