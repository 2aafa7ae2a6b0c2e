#include "tests/fake/fake_platform.h"

#include <pthread.h>
#include <sched.h>
#include <setjmp.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>

#include "breakpoints/bp_table.h"
#include "console/command_loop.h"
#include "console/listing.h"
#include "core/debug_core.h"
#include "core/debug_loop.h"
#include "core/run_records.h"

namespace {

using clock_type = std::chrono::steady_clock;

enum object_kind { KIND_EVENT, KIND_THREAD, KIND_PROCESS, KIND_DEBUGGEE_THREAD };

struct object_header {
    object_kind kind;
};

struct fake_event {
    object_header header{KIND_EVENT};
    bool signalled = false;
    uint64_t sets = 0; // a set releases every thread waiting then, even if reset at once
};

struct fake_thread {
    object_header header{KIND_THREAD};
    pthread_t id{};
    plat_thread_routine routine = nullptr;
    void *parameter = nullptr;
    bool ended = false;
    bool killed = false;
    int waiters = 0; // threads waiting on its handle
    jmp_buf start;
    bool held_back = false; // what it waits for does not reach it
};

struct fake_process {
    object_header header{KIND_PROCESS};
};

struct fake_debuggee_thread {
    object_header header{KIND_DEBUGGEE_THREAD};
};

// One lock and one condition for every fake object: simple, and waits are rare.
std::mutex lock;
std::condition_variable changed;

// Debuggee memory in pages that mark which of their bytes are mapped: a map of single bytes
// made every mapping and every transfer a tree walk per byte, which the fuzzers, mapping
// their window afresh for each input, paid for in every run.
// Small pages: tests also map thousands of single bytes scattered over the address space.
const uint32_t PAGE_SIZE = 64;
struct fake_page {
    uint8_t bytes[PAGE_SIZE];
    std::bitset<PAGE_SIZE> mapped;
};
std::map<uint32_t, std::unique_ptr<fake_page>> memory; // page number -> page

fake_page *find_page(uint32_t address) {
    auto it = memory.find(address / PAGE_SIZE);
    return it == memory.end() ? nullptr : it->second.get();
}

// Whether all of address .. address + size - 1 (wrapping as 32-bit addresses) is mapped.
bool all_mapped(uint32_t address, uint32_t size) {
    fake_page *page = nullptr;
    for (uint32_t i = 0; i < size; i++) {
        uint32_t at = address + i;
        if (page == nullptr || at % PAGE_SIZE == 0)
            page = find_page(at);
        if (page == nullptr || !page->mapped[at % PAGE_SIZE])
            return false;
    }
    return true;
}

// Copies `size` bytes between debuggee memory at `address` and `other`, a page's run at a
// time; false, with nothing copied, unless all of them are mapped.
bool copy_memory(uint32_t address, uint8_t *other, uint32_t size, bool into_debuggee) {
    if (!all_mapped(address, size))
        return false;
    for (uint32_t done = 0, run = 0; done < size; done += run) {
        uint32_t at = address + done;
        run = std::min(size - done, PAGE_SIZE - at % PAGE_SIZE);
        uint8_t *bytes = &find_page(at)->bytes[at % PAGE_SIZE];
        into_debuggee ? memcpy(bytes, other + done, run) : memcpy(other + done, bytes, run);
    }
    return true;
}
std::set<uint32_t> failing_reads, short_reads, failing_writes;
std::vector<fake::transfer> read_log, write_log;

bool launch_succeeds = true;
std::string last_command_line;
int launches = 0;
bool launches_held = false;
bool launch_holding = false;
int launch_kills = 0;
bool termination_reported = true;
bool events_succeed = true;
bool process_alive = false;
fake_process the_process;
fake_debuggee_thread the_first_thread;

std::deque<DEBUG_EVENT> queued_events;
bool next_wait_fails = false;
bool continuations_fail = false;
bool loop_waiting = false;
std::vector<fake::continuation> continuation_log;

uint32_t version_major = 6, version_minor = 1;
bool routines_present = true;
int suspends = 0, resumes = 0;
bool library_present = true, export_present = true, threads_succeed = true;
bool thread_kills_succeed = true;
int process_terminations = 0, thread_terminations = 0, handles_closed = 0, keys = 0;
// The one window there is: the console's, where it has one.
int console_window_object;
HWND const the_console_window = reinterpret_cast<HWND>(&console_window_object);
const console_facts PERSONS_CONSOLE = {true, the_console_window, true, 1};
console_facts console = PERSONS_CONSOLE;
bool yields_held = false, yield_holding = false;
int yield_count = 0;
int event_wait_count = 0;

// Handles as the system hands them out: open until closed once. Those of debug events are
// remembered by the thread and process they name, for the system's own closing.
std::set<HANDLE> open_handles;
int bad_close_count = 0; // closes of a handle that was closed already, or never given
bool system_closes = true;
std::map<std::pair<DWORD, DWORD>, HANDLE> event_thread_handles; // (pid, tid) -> handle
std::map<DWORD, HANDLE> event_process_handles;                  // pid -> handle
std::map<std::pair<DWORD, DWORD>, DWORD> received_codes;        // (pid, tid) -> event code

std::vector<fake_thread *> threads;
thread_local fake_thread *current_thread = nullptr;
std::deque<fake_event> events; // stable addresses

bool held_back() {
    return current_thread != nullptr && current_thread->held_back;
}

// A thread that the test ended dies at its next call into the platform.
void die_if_killed(std::unique_lock<std::mutex> &held) {
    if (current_thread == nullptr || !current_thread->killed)
        return;
    held.unlock();
    longjmp(current_thread->start, 1);
}

void *thread_start(void *parameter) {
    fake_thread *self = static_cast<fake_thread *>(parameter);
    current_thread = self;
    if (setjmp(self->start) == 0)
        self->routine(self->parameter);
    std::lock_guard<std::mutex> held(lock);
    self->ended = true;
    changed.notify_all();
    return nullptr;
}

bool range_has(const std::set<uint32_t> &marks, uint32_t address, uint32_t size) {
    auto it = marks.lower_bound(address);
    return it != marks.end() && *it - address < size;
}

int32_t PLAT_STDCALL fake_suspend(HANDLE) {
    std::lock_guard<std::mutex> held(lock);
    suspends++;
    return 0;
}

int32_t PLAT_STDCALL fake_resume(HANDLE) {
    std::lock_guard<std::mutex> held(lock);
    resumes++;
    return 0;
}

uint32_t PLAT_CDECL fake_disasm(const uint8_t *, uint32_t, uint32_t, uint8_t *result, uint32_t) {
    strcpy(reinterpret_cast<char *>(result) + DISASM_TEXT_OFFSET, "nop");
    return 1;
}

int fake_library;

template <typename Predicate>
bool wait_for(std::unique_lock<std::mutex> &held, uint32_t ms, Predicate done) {
    return changed.wait_until(held, clock_type::now() + std::chrono::milliseconds(ms), done);
}

void give_handle(HANDLE handle) {
    if (handle != nullptr)
        open_handles.insert(handle);
}

void close_given_handle(HANDLE handle) {
    if (open_handles.erase(handle) == 0)
        bad_close_count++;
}

// The handles an event hands to its debugger.
void give_event_handles(const DEBUG_EVENT &event) {
    std::pair<DWORD, DWORD> thread{event.dwProcessId, event.dwThreadId};
    received_codes[thread] = event.dwDebugEventCode;
    if (event.dwDebugEventCode == EVENT_CREATE_PROCESS) {
        const CREATE_PROCESS_DEBUG_INFO &info = event.u.CreateProcessInfo;
        give_handle(info.hFile);
        give_handle(info.hProcess);
        give_handle(info.hThread);
        if (info.hProcess != nullptr)
            event_process_handles[event.dwProcessId] = info.hProcess;
        if (info.hThread != nullptr)
            event_thread_handles[thread] = info.hThread;
    } else if (event.dwDebugEventCode == EVENT_CREATE_THREAD) {
        give_handle(event.u.CreateThread.hThread);
        if (event.u.CreateThread.hThread != nullptr)
            event_thread_handles[thread] = event.u.CreateThread.hThread;
    } else if (event.dwDebugEventCode == EVENT_LOAD_DLL) {
        give_handle(event.u.LoadDll.hFile);
    }
}

void close_thread_handle(DWORD process_id, DWORD thread_id) {
    auto handle = event_thread_handles.find({process_id, thread_id});
    if (handle != event_thread_handles.end()) {
        close_given_handle(handle->second);
        event_thread_handles.erase(handle);
    }
}

// What Windows closes when a thread's exit, or its process's, is continued: the handle of
// the thread that reported it, and for the process's exit the process's handle too. Every
// other thread's handle went when its own exit was continued.
void close_on_continue(DWORD process_id, DWORD thread_id) {
    auto received = received_codes.find({process_id, thread_id});
    if (!system_closes || received == received_codes.end())
        return;
    if (received->second == EVENT_EXIT_THREAD) {
        close_thread_handle(process_id, thread_id);
    } else if (received->second == EVENT_EXIT_PROCESS) {
        close_thread_handle(process_id, thread_id);
        auto process = event_process_handles.find(process_id);
        if (process != event_process_handles.end()) {
            close_given_handle(process->second);
            event_process_handles.erase(process);
        }
    }
    received_codes.erase(received);
}

// A thread held at a yield stands for one that runs on, out of the system's sight: killed,
// it comes back from the yield, and dies at its next call. It comes back only once its end is
// waited for, so that the kill reaches it as late as it may.
void hold_at_yield(std::unique_lock<std::mutex> &held) {
    yield_holding = true;
    changed.notify_all();
    changed.wait(held, [] {
        fake_thread *self = current_thread;
        return !yields_held || (self != nullptr && self->killed && self->waiters > 0);
    });
    yield_holding = false;
}

} // namespace

// ---- the platform layer ----

bool plat_launch_debuggee(char *command_line, STARTUPINFOA *startup, PROCESS_INFORMATION *info) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    launches++;
    last_command_line = command_line;
    if (launches_held) {
        launch_holding = true;
        changed.notify_all();
        changed.wait(held, [] {
            return !launches_held || (current_thread != nullptr && current_thread->killed);
        });
        launch_holding = false;
        if (current_thread != nullptr && current_thread->killed)
            launch_kills++;
        die_if_killed(held);
    }
    if (!launch_succeeds || startup->cb != sizeof(STARTUPINFOA))
        return false;
    info->hProcess = &the_process;
    info->hThread = &the_first_thread;
    info->dwProcessId = fake::PROCESS_ID;
    info->dwThreadId = fake::THREAD_ID;
    give_handle(info->hProcess);
    give_handle(info->hThread);
    process_alive = true;
    return true;
}

bool plat_wait_debug_event(DEBUG_EVENT *event) {
    std::unique_lock<std::mutex> held(lock);
    loop_waiting = true;
    changed.notify_all();
    changed.wait(held, [] {
        return ((!queued_events.empty() || next_wait_fails) && !held_back()) ||
               (current_thread != nullptr && current_thread->killed);
    });
    loop_waiting = false;
    die_if_killed(held);
    if (next_wait_fails) {
        next_wait_fails = false;
        return false;
    }
    *event = queued_events.front();
    queued_events.pop_front();
    give_event_handles(*event);
    if (event->dwDebugEventCode == EVENT_EXIT_PROCESS && event->dwProcessId == fake::PROCESS_ID)
        process_alive = false;
    return true;
}

bool plat_continue_debug_event(DWORD process_id, DWORD thread_id, uint32_t status) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    continuation_log.push_back({process_id, thread_id, status});
    changed.notify_all();
    if (continuations_fail)
        return false;
    close_on_continue(process_id, thread_id);
    return true;
}

bool plat_read_memory(HANDLE process, uint32_t address, void *buffer, uint32_t size,
                      uint32_t *transferred) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    read_log.push_back({address, size});
    *transferred = 0;
    if (process != &the_process || range_has(failing_reads, address, size))
        return false;
    uint32_t count = range_has(short_reads, address, size) ? size - 1 : size;
    if (!copy_memory(address, static_cast<uint8_t *>(buffer), count, false))
        return false;
    *transferred = count;
    return true;
}

bool plat_write_memory(HANDLE process, uint32_t address, const void *buffer, uint32_t size,
                       uint32_t *transferred) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    write_log.push_back({address, size});
    *transferred = 0;
    if (process != &the_process || range_has(failing_writes, address, size))
        return false;
    uint8_t *bytes = static_cast<uint8_t *>(const_cast<void *>(buffer)); // only read
    if (!copy_memory(address, bytes, size, true))
        return false;
    *transferred = size;
    return true;
}

void plat_terminate_process(HANDLE process, uint32_t exit_code) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    process_terminations++;
    // Like the system, the end of a live debuggee reaches its debugger as an event.
    if (process == &the_process && process_alive && termination_reported) {
        queued_events.push_back(fake::exit_process_record(fake::PROCESS_ID, exit_code));
        changed.notify_all();
    }
}

HANDLE plat_create_thread(plat_thread_routine routine, void *parameter, DWORD *thread_id) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    if (!threads_succeed)
        return nullptr;
    fake_thread *thread = new fake_thread;
    thread->routine = routine;
    thread->parameter = parameter;
    threads.push_back(thread);
    *thread_id = static_cast<DWORD>(threads.size());
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, PLAT_THREAD_STACK * 4);
    pthread_create(&thread->id, &attributes, thread_start, thread);
    pthread_attr_destroy(&attributes);
    give_handle(thread);
    return thread;
}

// Like the system's, the kill is only queued: the thread dies at its next call into the
// platform (a wait it is blocked in ends), and a wait on its handle returns once it has died.
bool plat_terminate_thread(HANDLE handle, uint32_t) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    thread_terminations++;
    fake_thread *thread = static_cast<fake_thread *>(handle);
    if (!thread_kills_succeed || thread == nullptr || thread->header.kind != KIND_THREAD)
        return false;
    thread->killed = true;
    changed.notify_all();
    return true;
}

void plat_close_handle(HANDLE handle) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    handles_closed++;
    close_given_handle(handle);
}

bool plat_system_closes_thread_handles() {
    std::lock_guard<std::mutex> held(lock);
    return system_closes;
}

void plat_sleep(uint32_t milliseconds) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    held.unlock();
    usleep(milliseconds * 1000);
}

void plat_yield() {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    yield_count++;
    if (yields_held) {
        hold_at_yield(held);
        return;
    }
    held.unlock();
    sched_yield();
}

plat_process_routine plat_find_system_routine(const char *name) {
    std::lock_guard<std::mutex> held(lock);
    if (!routines_present)
        return nullptr;
    if (strcmp(name, "NtSuspendProcess") == 0)
        return fake_suspend;
    if (strcmp(name, "NtResumeProcess") == 0)
        return fake_resume;
    return nullptr;
}

HANDLE plat_create_event() {
    std::lock_guard<std::mutex> held(lock);
    if (!events_succeed)
        return nullptr;
    events.emplace_back();
    give_handle(&events.back());
    return &events.back();
}

void plat_set_event(HANDLE event) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    static_cast<fake_event *>(event)->signalled = true;
    static_cast<fake_event *>(event)->sets++;
    changed.notify_all();
}

void plat_reset_event(HANDLE event) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    static_cast<fake_event *>(event)->signalled = false;
}

bool plat_wait(HANDLE object, uint32_t milliseconds) {
    std::unique_lock<std::mutex> held(lock);
    die_if_killed(held);
    object_header *header = static_cast<object_header *>(object);
    fake_event *event =
        header->kind != KIND_THREAD ? reinterpret_cast<fake_event *>(header) : nullptr;
    uint64_t sets_seen = event != nullptr ? event->sets : 0;
    auto done = [header, event, &sets_seen] {
        if (current_thread != nullptr && current_thread->killed)
            return true;
        if (event == nullptr)
            return reinterpret_cast<fake_thread *>(header)->ended;
        if (held_back()) {
            sets_seen = event->sets; // it has not come to its wait yet
            return false;
        }
        return event->signalled || event->sets != sets_seen;
    };
    fake_thread *thread =
        header->kind == KIND_THREAD ? reinterpret_cast<fake_thread *>(header) : nullptr;
    if (thread == nullptr)
        event_wait_count++;
    if (thread != nullptr) {
        thread->waiters++;
        changed.notify_all();
    }
    bool signalled = milliseconds == PLAT_INFINITE ? (changed.wait(held, done), true)
                                                   : wait_for(held, milliseconds, done);
    if (thread != nullptr)
        thread->waiters--;
    die_if_killed(held);
    return signalled;
}

bool plat_get_version(uint32_t *major, uint32_t *minor) {
    std::lock_guard<std::mutex> held(lock);
    *major = version_major;
    *minor = version_minor;
    return true;
}

void *plat_load_library(const char *) {
    return library_present ? &fake_library : nullptr;
}

void *plat_find_export(void *, const char *name) {
    if (!export_present || strcmp(name, "Disasm") != 0)
        return nullptr;
    return reinterpret_cast<void *>(fake_disasm);
}

void plat_console_facts(console_facts *facts) {
    std::lock_guard<std::mutex> held(lock);
    *facts = console;
}

bool plat_is_window(HWND window) {
    return window == the_console_window;
}

void plat_wait_key() {
    std::lock_guard<std::mutex> held(lock);
    keys++;
}

// ---- the test's side ----

namespace fake {

bool wait_for_threads(uint32_t ms) {
    std::unique_lock<std::mutex> held(lock);
    return wait_for(held, ms, [] {
        for (fake_thread *thread : threads)
            if (!thread->ended)
                return false;
        return true;
    });
}

void reset() {
    {
        // End whatever a test left running, so that the next one starts clean.
        std::unique_lock<std::mutex> held(lock);
        for (fake_thread *thread : threads)
            thread->killed = true;
        yields_held = false;
        changed.notify_all();
    }
    if (!wait_for_threads(10000)) {
        fprintf(stderr, "fake: threads of an earlier test did not end\n");
        abort();
    }
    std::lock_guard<std::mutex> held(lock);
    for (fake_thread *thread : threads) {
        pthread_join(thread->id, nullptr);
        delete thread;
    }
    threads.clear();
    // Pages stay allocated, unmapped: the fuzzers map the same window afresh for every
    // input, and allocating its pages anew each time was a tenth of their run.
    for (auto &entry : memory)
        entry.second->mapped.reset();
    failing_reads.clear();
    short_reads.clear();
    failing_writes.clear();
    read_log.clear();
    write_log.clear();
    launch_succeeds = true;
    last_command_line.clear();
    launches = 0;
    launches_held = launch_holding = false;
    launch_kills = 0;
    termination_reported = events_succeed = true;
    process_alive = false;
    queued_events.clear();
    next_wait_fails = false;
    continuations_fail = false;
    loop_waiting = false;
    continuation_log.clear();
    version_major = 6;
    version_minor = 1;
    routines_present = true;
    suspends = resumes = 0;
    library_present = export_present = threads_succeed = thread_kills_succeed = true;
    process_terminations = thread_terminations = handles_closed = keys = 0;
    console = PERSONS_CONSOLE;
    yields_held = yield_holding = false;
    yield_count = 0;
    event_wait_count = 0;
    open_handles.clear();
    bad_close_count = 0;
    system_closes = true;
    event_thread_handles.clear();
    event_process_handles.clear();
    received_codes.clear();
    events.clear();

    debug_state.store(STATE_UNINIT);
    memset(&startup_info, 0, sizeof startup_info);
    memset(&process_info, 0, sizeof process_info);
    pass_exception.store(0);
    exception_event = exit_event = continue_event = nullptr;
    memset(&last_debug_event, 0, sizeof last_debug_event);
    nt_suspend_process = nt_resume_process = nullptr;
    target_command_line = nullptr;
    debug_thread = nullptr;
    debug_thread_id = 0;
    debug_thread_creation = nullptr;
    run_records_reset();
    debuggee_process.store(nullptr);
    current_run.store(0);
    launch_in_progress.store(false);
    debuggee_suspended.store(false);
    // A thread ended at reset may have died holding the core lock; no thread is left now.
    core_lock_admit(0);
    core_lock_release();
    memset(bp_table, 0, sizeof bp_table);
    bp_count = 0;
    memset(command_buffer, 0, sizeof command_buffer);
    disasm_fn = nullptr;
}

HANDLE process_handle() {
    return &the_process;
}

void map_memory(uint32_t address, const std::vector<uint8_t> &bytes) {
    std::lock_guard<std::mutex> held(lock);
    uint32_t size = static_cast<uint32_t>(bytes.size());
    for (uint32_t done = 0, run = 0; done < size; done += run) {
        uint32_t at = address + done;
        std::unique_ptr<fake_page> &page = memory[at / PAGE_SIZE];
        if (page == nullptr)
            page.reset(new fake_page);
        run = std::min(size - done, PAGE_SIZE - at % PAGE_SIZE);
        memcpy(&page->bytes[at % PAGE_SIZE], bytes.data() + done, run);
        uint64_t bits = run == PAGE_SIZE ? ~uint64_t{0} : (uint64_t{1} << run) - 1;
        page->mapped |= std::bitset<PAGE_SIZE>(bits << at % PAGE_SIZE);
    }
}

uint8_t memory_byte(uint32_t address) {
    uint8_t byte = 0;
    memory_bytes(address, 1, &byte);
    return byte;
}

void memory_bytes(uint32_t address, uint32_t size, uint8_t *out) {
    std::lock_guard<std::mutex> held(lock);
    if (!copy_memory(address, out, size, false))
        throw std::out_of_range("fake: no debuggee memory there");
}

void fail_reads_at(uint32_t address) {
    std::lock_guard<std::mutex> held(lock);
    failing_reads.insert(address);
}

void short_reads_at(uint32_t address) {
    std::lock_guard<std::mutex> held(lock);
    short_reads.insert(address);
}

void fail_writes_at(uint32_t address) {
    std::lock_guard<std::mutex> held(lock);
    failing_writes.insert(address);
}

const std::vector<transfer> &reads() {
    return read_log;
}
const std::vector<transfer> &writes() {
    return write_log;
}

void set_launch_result(bool succeeds) {
    std::lock_guard<std::mutex> held(lock);
    launch_succeeds = succeeds;
}

std::string launched_command_line() {
    std::lock_guard<std::mutex> held(lock);
    return last_command_line;
}

int launch_count() {
    std::lock_guard<std::mutex> held(lock);
    return launches;
}

void hold_launches(bool hold) {
    std::lock_guard<std::mutex> held(lock);
    launches_held = hold;
    changed.notify_all();
}

bool wait_until_launch_held(uint32_t ms) {
    std::unique_lock<std::mutex> held(lock);
    return wait_for(held, ms, [] { return launch_holding; });
}

int kills_inside_launch() {
    std::lock_guard<std::mutex> held(lock);
    return launch_kills;
}

void set_termination_reported(bool reported) {
    std::lock_guard<std::mutex> held(lock);
    termination_reported = reported;
}

void set_event_creation(bool succeeds) {
    std::lock_guard<std::mutex> held(lock);
    events_succeed = succeeds;
}

void push_event(const DEBUG_EVENT &event) {
    std::lock_guard<std::mutex> held(lock);
    queued_events.push_back(event);
    changed.notify_all();
}

void fail_next_wait() {
    std::lock_guard<std::mutex> held(lock);
    next_wait_fails = true;
    changed.notify_all();
}

void fail_continuations() {
    std::lock_guard<std::mutex> held(lock);
    continuations_fail = true;
}

std::vector<continuation> continuations() {
    std::lock_guard<std::mutex> held(lock);
    return continuation_log;
}

size_t continuation_count() {
    std::lock_guard<std::mutex> held(lock);
    return continuation_log.size();
}

bool wait_for_continuations(size_t count, uint32_t ms) {
    std::unique_lock<std::mutex> held(lock);
    return wait_for(held, ms, [count] { return continuation_log.size() >= count; });
}

bool wait_until_loop_waits(uint32_t ms) {
    std::unique_lock<std::mutex> held(lock);
    return wait_for(held, ms, [] { return loop_waiting && queued_events.empty(); });
}

DEBUG_EVENT exception_event_record(uint32_t code, uint32_t address) {
    DEBUG_EVENT event = simple_record(EVENT_EXCEPTION);
    event.u.Exception.ExceptionRecord.ExceptionCode = code;
    event.u.Exception.ExceptionRecord.ExceptionAddress =
        reinterpret_cast<void *>(static_cast<uintptr_t>(address));
    event.u.Exception.dwFirstChance = 1;
    return event;
}

DEBUG_EVENT exit_process_record(DWORD process_id, uint32_t exit_code) {
    DEBUG_EVENT event = simple_record(EVENT_EXIT_PROCESS);
    event.dwProcessId = process_id;
    event.u.ExitProcess.dwExitCode = exit_code;
    return event;
}

DEBUG_EVENT simple_record(uint32_t event_code) {
    DEBUG_EVENT event;
    memset(&event, 0, sizeof event);
    event.dwDebugEventCode = event_code;
    event.dwProcessId = PROCESS_ID;
    event.dwThreadId = THREAD_ID;
    return event;
}

void set_version(uint32_t major, uint32_t minor) {
    std::lock_guard<std::mutex> held(lock);
    version_major = major;
    version_minor = minor;
}

void set_system_routines_present(bool present) {
    std::lock_guard<std::mutex> held(lock);
    routines_present = present;
}

int suspend_calls() {
    std::lock_guard<std::mutex> held(lock);
    return suspends;
}

int resume_calls() {
    std::lock_guard<std::mutex> held(lock);
    return resumes;
}

void set_library_present(bool present) {
    library_present = present;
}
void set_export_present(bool present) {
    export_present = present;
}

void set_thread_creation(bool succeeds) {
    std::lock_guard<std::mutex> held(lock);
    threads_succeed = succeeds;
}

void set_thread_termination(bool succeeds) {
    std::lock_guard<std::mutex> held(lock);
    thread_kills_succeed = succeeds;
}

void hold_back(HANDLE thread, bool hold) {
    std::lock_guard<std::mutex> held(lock);
    static_cast<fake_thread *>(thread)->held_back = hold;
    changed.notify_all();
}

int terminate_process_calls() {
    std::lock_guard<std::mutex> held(lock);
    return process_terminations;
}

int terminate_thread_calls() {
    std::lock_guard<std::mutex> held(lock);
    return thread_terminations;
}

int closed_handles() {
    std::lock_guard<std::mutex> held(lock);
    return handles_closed;
}

int key_waits() {
    std::lock_guard<std::mutex> held(lock);
    return keys;
}

HWND console_window() {
    return the_console_window;
}

void set_console(const console_facts &facts) {
    std::lock_guard<std::mutex> held(lock);
    console = facts;
}

void set_system_closes_thread_handles(bool closes) {
    std::lock_guard<std::mutex> held(lock);
    system_closes = closes;
}

bool handle_open(HANDLE handle) {
    std::lock_guard<std::mutex> held(lock);
    return open_handles.count(handle) != 0;
}

int bad_closes() {
    std::lock_guard<std::mutex> held(lock);
    return bad_close_count;
}

void hold_yields(bool hold) {
    std::lock_guard<std::mutex> held(lock);
    yields_held = hold;
    changed.notify_all();
}

bool wait_until_yield_held(uint32_t ms) {
    std::unique_lock<std::mutex> held(lock);
    return wait_for(held, ms, [] { return yield_holding; });
}

int yields() {
    std::lock_guard<std::mutex> held(lock);
    return yield_count;
}

int event_waits() {
    std::lock_guard<std::mutex> held(lock);
    return event_wait_count;
}

} // namespace fake
