// Stand-ins for the Win32 types the debugger uses, with the same field names,
// so that the platform-independent code builds natively for the unit tests.
#pragma once

#include <cstdint>

typedef uint32_t DWORD;
typedef void *HANDLE;
typedef struct host_window *HWND;

struct STARTUPINFOA {
    DWORD cb;
    uint8_t rest[64];
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

struct EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD *ExceptionRecord;
    void *ExceptionAddress;
    DWORD NumberParameters;
    uintptr_t ExceptionInformation[15];
};

struct EXCEPTION_DEBUG_INFO {
    EXCEPTION_RECORD ExceptionRecord;
    DWORD dwFirstChance;
};

struct CREATE_THREAD_DEBUG_INFO {
    HANDLE hThread;
    void *lpThreadLocalBase;
    void *lpStartAddress;
};

struct CREATE_PROCESS_DEBUG_INFO {
    HANDLE hFile;
    HANDLE hProcess;
    HANDLE hThread;
    void *lpBaseOfImage;
    DWORD dwDebugInfoFileOffset;
    DWORD nDebugInfoSize;
    void *lpThreadLocalBase;
    void *lpStartAddress;
    void *lpImageName;
    uint16_t fUnicode;
};

struct EXIT_THREAD_DEBUG_INFO {
    DWORD dwExitCode;
};

struct EXIT_PROCESS_DEBUG_INFO {
    DWORD dwExitCode;
};

struct LOAD_DLL_DEBUG_INFO {
    HANDLE hFile;
    void *lpBaseOfDll;
    DWORD dwDebugInfoFileOffset;
    DWORD nDebugInfoSize;
    void *lpImageName;
    uint16_t fUnicode;
};

struct DEBUG_EVENT {
    DWORD dwDebugEventCode;
    DWORD dwProcessId;
    DWORD dwThreadId;
    union {
        EXCEPTION_DEBUG_INFO Exception;
        CREATE_THREAD_DEBUG_INFO CreateThread;
        CREATE_PROCESS_DEBUG_INFO CreateProcessInfo;
        EXIT_THREAD_DEBUG_INFO ExitThread;
        EXIT_PROCESS_DEBUG_INFO ExitProcess;
        LOAD_DLL_DEBUG_INFO LoadDll;
    } u;
};
