// The thin layer through which the debugger reaches the operating system.
// On Windows the types are the Win32 ones; the host build (unit tests) gets
// stand-ins with the same fields and links a fake implementation.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#define PLAT_STDCALL __stdcall
#define PLAT_CDECL __cdecl
#else
#include "platform/host_types.h"
#define PLAT_STDCALL
#define PLAT_CDECL
#endif

// Continuation statuses, named once here.
enum continue_status : uint32_t {
    CONTINUE_HANDLED = 0x00010002u,     // DBG_CONTINUE
    CONTINUE_NOT_HANDLED = 0x80010001u, // DBG_EXCEPTION_NOT_HANDLED
};

// Debug event codes of the debugging interface.
enum debug_event_code : uint32_t {
    EVENT_EXCEPTION = 1,
    EVENT_CREATE_THREAD = 2,
    EVENT_CREATE_PROCESS = 3,
    EVENT_EXIT_THREAD = 4,
    EVENT_EXIT_PROCESS = 5,
    EVENT_LOAD_DLL = 6,
    EVENT_UNLOAD_DLL = 7,
    EVENT_OUTPUT_STRING = 8,
    EVENT_RIP = 9,
};

const uint32_t PLAT_INFINITE = 0xFFFFFFFFu;
const uint32_t PLAT_THREAD_STACK = 0x100000u;

typedef DWORD(PLAT_STDCALL *plat_thread_routine)(void *parameter);
typedef int32_t(PLAT_STDCALL *plat_process_routine)(HANDLE process);

// Debugging interface. Both calls must come from the thread that launched the debuggee.
bool plat_launch_debuggee(char *command_line, STARTUPINFOA *startup, PROCESS_INFORMATION *info);
bool plat_wait_debug_event(DEBUG_EVENT *event);
bool plat_continue_debug_event(DWORD process_id, DWORD thread_id, uint32_t status);

// Debuggee memory. True when the call succeeded; `transferred` receives the count of
// bytes the system reports as moved, which callers compare with what they asked for.
bool plat_read_memory(HANDLE process, uint32_t address, void *buffer, uint32_t size,
                      uint32_t *transferred);
bool plat_write_memory(HANDLE process, uint32_t address, const void *buffer, uint32_t size,
                       uint32_t *transferred);

// Processes, threads and handles.
void plat_terminate_process(HANDLE process, uint32_t exit_code);
HANDLE plat_create_thread(plat_thread_routine routine, void *parameter, DWORD *thread_id);
// Queues the thread's end; false when the system refused, and the thread runs on.
bool plat_terminate_thread(HANDLE thread, uint32_t exit_code);
void plat_close_handle(HANDLE handle);
// Closes `handle` unless it is null (a handle an event or a run never had).
inline void close_if_open(HANDLE handle) {
    if (handle != nullptr)
        plat_close_handle(handle);
}
// Whether the system itself closes the thread and process handles that debug events hand
// over: Windows closes a thread's handle when that thread's exit event is continued, and the
// process's handle (with its remaining thread's) when the process's exit event is continued.
// Where it doesn't, the debugger closes them, or every thread of the debuggee would cost one
// handle.
bool plat_system_closes_thread_handles();
void plat_sleep(uint32_t milliseconds);
// Gives the processor to another thread that is ready to run on it, whatever its priority.
void plat_yield();

// ntdll routines found at run time; null when the system has none.
plat_process_routine plat_find_system_routine(const char *name);

// Manual-reset events, created non-signalled. A wait is true only on a signal.
HANDLE plat_create_event();
void plat_set_event(HANDLE event);
void plat_reset_event(HANDLE event);
bool plat_wait(HANDLE object, uint32_t milliseconds);

// Operating-system version; false when the query failed.
bool plat_get_version(uint32_t *major, uint32_t *minor);

// Dynamic loading.
void *plat_load_library(const char *name);
void *plat_find_export(void *module, const char *name);

// What the system tells of the console a key press would be read from. Gathered only at
// "exit": the window station's flags and the window test need the window manager (user32),
// which the program loads only then.
struct console_facts {
    bool attached;        // a console is there (none with DETACHED_PROCESS, nor under Wine
                          // with standard input on a pipe)
    HWND window;          // the console's window as the console names it: null for one created
                          // with CREATE_NO_WINDOW, which on some systems names no window instead
    bool visible_station; // the window station has visible display surfaces (not a service's);
                          // false where the window manager cannot be loaded, and not asked
                          // (false) without a console or its window
    uint32_t session_id;  // the program's session
};
const uint32_t PLAT_UNKNOWN_SESSION = 0xFFFFFFFFu;
void plat_console_facts(console_facts *facts);
// Whether `window` is an existing window (user32's IsWindow); false for null, and where the
// window manager cannot be loaded.
bool plat_is_window(HWND window);
// One key press read from the console without echo; returns at once without a console.
void plat_wait_key();
