/* Starts a console program as a scheduler or a CI runner would: with creation flags of its
   choice (a console without a window, a new console, none at all) and with its standard
   input and output on pipes. Writes the lines given to the program's input, keeps that input
   open, and waits up to 20 s for the program to end by itself.

     start_hidden no_window|new_console|detached|inherit PROGRAM ARGUMENT LINE...

   Prints what the program wrote, as it came, then "exit code N", or "still running" (the program is then
   ended, and the exit code is 1). */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static const DWORD DEADLINE_MS = 20000;

static DWORD flags_named(const char *name) {
    if (strcmp(name, "no_window") == 0)
        return CREATE_NO_WINDOW;
    if (strcmp(name, "new_console") == 0)
        return CREATE_NEW_CONSOLE;
    if (strcmp(name, "detached") == 0)
        return DETACHED_PROCESS;
    return 0;
}

/* Copies the program's output to ours, byte for byte, until the pipe ends. */
static DWORD WINAPI copy_output(void *pipe) {
    char buffer[4096];
    DWORD count = 0;
    DWORD written = 0;
    while (ReadFile((HANDLE)pipe, buffer, sizeof buffer, &count, NULL) && count > 0)
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, count, &written, NULL);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 4)
        return 2;
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE input_read, input_write, output_read, output_write;
    if (!CreatePipe(&input_read, &input_write, &inheritable, 0) ||
        !CreatePipe(&output_read, &output_write, &inheritable, 0))
        return 2;
    SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);

    char command_line[1024];
    snprintf(command_line, sizeof command_line, "\"%s\" \"%s\"", argv[2], argv[3]);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input_read;
    startup.hStdOutput = output_write;
    startup.hStdError = output_write;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command_line, NULL, NULL, TRUE, flags_named(argv[1]), NULL, NULL,
                        &startup, &process)) {
        printf("cannot start: error %lu\n", GetLastError());
        return 2;
    }
    CloseHandle(input_read);
    CloseHandle(output_write);
    HANDLE copier = CreateThread(NULL, 0, copy_output, output_read, 0, NULL);

    for (int i = 4; i < argc; i++) {
        DWORD written = 0;
        WriteFile(input_write, argv[i], (DWORD)strlen(argv[i]), &written, NULL);
        WriteFile(input_write, "\n", 1, &written, NULL);
    }
    int result = 0;
    if (WaitForSingleObject(process.hProcess, DEADLINE_MS) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, DEADLINE_MS);
        result = 1;
    }
    WaitForSingleObject(copier, DEADLINE_MS);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (result != 0)
        printf("still running\n");
    else
        printf("exit code %lu\n", code);
    CloseHandle(input_write);
    return result;
}
