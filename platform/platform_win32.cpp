// The Win32 implementation of the platform layer.
#include "platform/platform.h"

static_assert(sizeof(DEBUG_EVENT) == 96, "the debug event record is 96 bytes");
static_assert(sizeof(STARTUPINFOA) == 68, "the start-up record is 68 bytes");

bool plat_launch_debuggee(char *command_line, STARTUPINFOA *startup, PROCESS_INFORMATION *info) {
    return CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                          nullptr, nullptr, startup, info) != 0;
}

bool plat_wait_debug_event(DEBUG_EVENT *event) {
    return WaitForDebugEvent(event, INFINITE) != 0;
}

bool plat_continue_debug_event(DWORD process_id, DWORD thread_id, uint32_t status) {
    return ContinueDebugEvent(process_id, thread_id, status) != 0;
}

bool plat_read_memory(HANDLE process, uint32_t address, void *buffer, uint32_t size,
                      uint32_t *transferred) {
    SIZE_T count = 0;
    BOOL ok = ReadProcessMemory(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)),
                                buffer, size, &count);
    *transferred = static_cast<uint32_t>(count);
    return ok != 0;
}

bool plat_write_memory(HANDLE process, uint32_t address, const void *buffer, uint32_t size,
                       uint32_t *transferred) {
    SIZE_T count = 0;
    BOOL ok = WriteProcessMemory(process, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(address)),
                                 buffer, size, &count);
    *transferred = static_cast<uint32_t>(count);
    return ok != 0;
}

void plat_terminate_process(HANDLE process, uint32_t exit_code) {
    TerminateProcess(process, exit_code);
}

HANDLE plat_create_thread(plat_thread_routine routine, void *parameter, DWORD *thread_id) {
    return CreateThread(nullptr, PLAT_THREAD_STACK, routine, parameter, 0, thread_id);
}

bool plat_terminate_thread(HANDLE thread, uint32_t exit_code) {
    return TerminateThread(thread, exit_code) != 0;
}

void plat_close_handle(HANDLE handle) {
    CloseHandle(handle);
}

bool plat_system_closes_thread_handles() {
    // Wine's debugging interface leaves these handles to the debugger.
    static const bool under_wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return !under_wine;
}

void plat_sleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void plat_yield() {
    SwitchToThread();
}

plat_process_routine plat_find_system_routine(const char *name) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return nullptr;
    return reinterpret_cast<plat_process_routine>(
        reinterpret_cast<void *>(GetProcAddress(ntdll, name)));
}

HANDLE plat_create_event() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void plat_set_event(HANDLE event) {
    SetEvent(event);
}

void plat_reset_event(HANDLE event) {
    ResetEvent(event);
}

bool plat_wait(HANDLE object, uint32_t milliseconds) {
    return WaitForSingleObject(object, milliseconds) == WAIT_OBJECT_0;
}

bool plat_get_version(uint32_t *major, uint32_t *minor) {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    // The SDK declares GetVersionExA deprecated in favour of the version helpers, which ask
    // whether the system is at least a given version. The start-up check wants the version
    // that the program is shown, as the system reports it to the program, and the helpers
    // are missing on Windows XP, so the call stays.
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
    BOOL queried = GetVersionExA(&info);
#ifdef _MSC_VER
#pragma warning(pop)
#endif
    if (!queried)
        return false;
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
    return true;
}

void *plat_load_library(const char *name) {
    return reinterpret_cast<void *>(LoadLibraryA(name));
}

void *plat_find_export(void *module, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

static bool is_modifier_key(WORD key) {
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_CAPITAL ||
           key == VK_NUMLOCK || key == VK_SCROLL || key == VK_LWIN || key == VK_RWIN;
}

// A key press that yields a character, or a cursor or function key; modifiers alone don't.
static bool is_key_press(const INPUT_RECORD &record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
        return false;
    return !is_modifier_key(record.Event.KeyEvent.wVirtualKeyCode);
}

// The console's own input, even where standard input comes from a file or a pipe.
static HANDLE open_console_input() {
    return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// The window manager's calls that the key-wait decision makes. user32 is loaded only for
// that decision, at "exit": imported, it would be loaded at every start and connect the
// program to a desktop, and in the small desktop heap of a non-interactive window station
// many starts side by side then fail (0xC0000142). It is one of the system's known DLLs, so
// the name always finds the system's own copy.
typedef BOOL(WINAPI *is_window_routine)(HWND window);
typedef HWINSTA(WINAPI *window_station_routine)();
typedef BOOL(WINAPI *object_information_routine)(HANDLE object, int index, void *information,
                                                 DWORD size, DWORD *needed);

struct window_manager {
    is_window_routine is_window;
    window_station_routine process_window_station;
    object_information_routine object_information;
};

// Null where user32 cannot be loaded: its start fails where the program cannot connect to
// its window station's desktop, which is never the desktop of a console a person types into.
static const window_manager *load_window_manager() {
    static window_manager manager;
    static bool tried = false;
    static bool found = false;
    if (!tried) {
        tried = true;
        void *user32 = plat_load_library("user32.dll");
        if (user32 != nullptr) {
            manager.is_window =
                reinterpret_cast<is_window_routine>(plat_find_export(user32, "IsWindow"));
            manager.process_window_station = reinterpret_cast<window_station_routine>(
                plat_find_export(user32, "GetProcessWindowStation"));
            manager.object_information = reinterpret_cast<object_information_routine>(
                plat_find_export(user32, "GetUserObjectInformationA"));
            found = manager.is_window != nullptr && manager.process_window_station != nullptr &&
                    manager.object_information != nullptr;
        }
    }
    return found ? &manager : nullptr;
}

// What cannot be learnt of a loaded window manager counts as what a person's console has:
// the wait stays.
static bool station_visible(const window_manager &manager) {
    USEROBJECTFLAGS flags = {};
    DWORD size = 0;
    return !manager.object_information(manager.process_window_station(), UOI_FLAGS, &flags,
                                       sizeof flags, &size) ||
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

void plat_console_facts(console_facts *facts) {
    HANDLE console = open_console_input();
    DWORD mode = 0;
    facts->attached = console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode);
    if (console != INVALID_HANDLE_VALUE)
        CloseHandle(console);
    facts->window = GetConsoleWindow();
    // Without a console window nobody can answer whatever the station, and user32 is not
    // loaded to ask: a console that names no window (CREATE_NO_WINDOW on most systems, pipes
    // under Wine) never loads it. Windows 10 1809 names a value that is no window instead;
    // user32 is then loaded here at "exit", and IsWindow rules the wait out (command_loop.cpp).
    // That is harmless: it happens once, as the program ends, and where user32 cannot start
    // there, the wait is ruled out all the same.
    const window_manager *manager =
        facts->attached && facts->window != nullptr ? load_window_manager() : nullptr;
    facts->visible_station = manager != nullptr && station_visible(*manager);
    DWORD session = 0;
    facts->session_id =
        ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : PLAT_UNKNOWN_SESSION;
}

bool plat_is_window(HWND window) {
    if (window == nullptr)
        return false;
    const window_manager *manager = load_window_manager();
    return manager != nullptr && manager->is_window(window);
}

void plat_wait_key() {
    // The key comes from the console itself, not from standard input; without a console
    // there is nothing to wait for.
    HANDLE console = open_console_input();
    if (console == INVALID_HANDLE_VALUE)
        return;
    DWORD old_mode = 0;
    if (!GetConsoleMode(console, &old_mode)) {
        CloseHandle(console);
        return;
    }
    SetConsoleMode(console, 0); // no echo, no line editing
    FlushConsoleInputBuffer(console);
    INPUT_RECORD record;
    DWORD count = 0;
    while (ReadConsoleInputA(console, &record, 1, &count) && count == 1) {
        if (is_key_press(record))
            break;
    }
    SetConsoleMode(console, old_mode);
    CloseHandle(console);
}
