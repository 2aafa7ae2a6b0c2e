/* The least a debugger must do: launch a program under debugging and continue each
   event at once until the program ends. Its speed is the floor for any debugger.

     min_debugger.exe [--first-stop] [--hold] "COMMAND LINE"

   Prints "first stop at XXXXXXXX" at the first exception (the system's initial
   breakpoint) and "exited with code N" when the program ends.
     --first-stop  ends the program at its first exception
     --hold        waits for a line (or the end) of standard input at the first stop and
                   again after the end, as a debugger's user would: the caller can time
                   the run from its go and read this process's figures before it goes */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#define PASSED_EXCEPTION 0x6BA

static void say(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fflush(stdout);
}

/* Breakpoints (the initial one) are ours; every other exception, 0x6BA above all, goes
   back to the program's own handlers: continuing a fault as handled would repeat it. */
static DWORD continue_status(const DEBUG_EVENT *event) {
    if (event->dwDebugEventCode != EXCEPTION_DEBUG_EVENT)
        return DBG_CONTINUE;
    DWORD code = event->u.Exception.ExceptionRecord.ExceptionCode;
    return code == EXCEPTION_BREAKPOINT ? DBG_CONTINUE : DBG_EXCEPTION_NOT_HANDLED;
}

static void wait_for_line(void) {
    char line[64];
    fgets(line, sizeof line, stdin);
}

static void close_event_file(const DEBUG_EVENT *event) {
    HANDLE file = NULL;
    if (event->dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
        file = event->u.CreateProcessInfo.hFile;
    else if (event->dwDebugEventCode == LOAD_DLL_DEBUG_EVENT)
        file = event->u.LoadDll.hFile;
    if (file != NULL)
        CloseHandle(file);
}

/* Serves the program's events until it ends; returns its exit code. */
static DWORD serve(const PROCESS_INFORMATION *process, BOOL first_stop, BOOL hold) {
    BOOL stopped = FALSE;
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, INFINITE)) {
            say("WaitForDebugEvent failed: error %lu\n", GetLastError());
            ExitProcess(3);
        }
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && !stopped) {
            stopped = TRUE;
            say("first stop at %08lX\n",
                (unsigned long)(UINT_PTR)event.u.Exception.ExceptionRecord.ExceptionAddress);
            if (first_stop)
                TerminateProcess(process->hProcess, 0);
            else if (hold)
                wait_for_line();
        }
        close_event_file(&event);
        BOOL ended = event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT &&
                     event.dwProcessId == process->dwProcessId;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continue_status(&event));
        if (ended)
            return event.u.ExitProcess.dwExitCode;
    }
}

int main(int argc, char **argv) {
    BOOL first_stop = FALSE, hold = FALSE;
    int next = 1;
    for (; next < argc && strncmp(argv[next], "--", 2) == 0; next++) {
        if (strcmp(argv[next], "--first-stop") == 0)
            first_stop = TRUE;
        else if (strcmp(argv[next], "--hold") == 0)
            hold = TRUE;
        else
            break;
    }
    if (next != argc - 1) {
        say("usage: min_debugger.exe [--first-stop] [--hold] \"COMMAND LINE\"\n");
        return 2;
    }

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, argv[next], NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL,
                        &startup, &process)) {
        say("cannot start %s: error %lu\n", argv[next], GetLastError());
        return 2;
    }
    DWORD code = serve(&process, first_stop, hold);
    say("exited with code %lu\n", code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (hold)
        wait_for_line();
    return 0;
}
