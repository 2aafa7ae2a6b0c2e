/* Keeps its debugger busy: every round it creates and ends a thread, loads and unloads a
   library, writes a debug string and raises exception 0x6BA, which its own handler
   survives. Every 25th round it stops at an int3 in a page of its own, whose address
   depends on its process id (`stop_page`), so that a stop can be told from the stops of
   earlier runs. */
#include <windows.h>

#include "known_code.h"

volatile unsigned round_counter;
volatile unsigned stop_page;

static LONG CALLBACK on_exception(EXCEPTION_POINTERS *info) {
    if (info->ExceptionRecord->ExceptionCode == 0x6BA)
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}

static DWORD WINAPI short_thread(LPVOID parameter) {
    (void)parameter;
    return 0;
}

static void (*make_stop_page(void))(void) {
    DWORD slot = (GetCurrentProcessId() >> 2) & 0xFF;
    void *wanted = (void *)(0x20000000u + slot * 0x10000u);
    unsigned char *page =
        VirtualAlloc(wanted, 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (page == NULL)
        page = VirtualAlloc(NULL, 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    page[0] = 0xCC; /* int3 */
    page[1] = 0xC3; /* ret */
    stop_page = (unsigned)(ULONG_PTR)page;
    return (void (*)(void))(void *)page;
}

int main(void) {
    AddVectoredExceptionHandler(1, on_exception);
    void (*stop_here)(void) = make_stop_page();
    for (;;) {
        round_counter++;
        tick_target();
        HANDLE thread = CreateThread(NULL, 0, short_thread, NULL, 0, NULL);
        if (thread != NULL) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        HMODULE library = LoadLibraryA("no_disasm_export.dll");
        if (library != NULL)
            FreeLibrary(library);
        OutputDebugStringA("busy\n");
        RaiseException(0x6BA, 0, 0, NULL);
        if (round_counter % 25 == 0)
            stop_here();
        Sleep(1);
    }
}
