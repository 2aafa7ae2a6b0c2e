/* Starts a console program as schedulers and CI runners do: with a console that has no window
   (CREATE_NO_WINDOW), its input and output on pipes. Writes the given lines to its input,
   keeps the input open and waits up to 20 s for the program to end by itself.

     start_hidden PROGRAM ARGUMENT LINE...

   Prints what the program wrote, as it came, then "exit code N"; or "still running", and
   then the program is ended and the exit code is 1. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE input_read, input_write, output_read, output_write;
    if (argc < 3 || !CreatePipe(&input_read, &input_write, &inheritable, 0) ||
        !CreatePipe(&output_read, &output_write, &inheritable, 0))
        return 2;
    SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
    char command_line[1024];
    snprintf(command_line, sizeof command_line, "\"%s\" \"%s\"", argv[1], argv[2]);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input_read;
    startup.hStdOutput = startup.hStdError = output_write;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command_line, NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL,
                        &startup, &process))
        return 2;
    DWORD count = 0;
    for (int i = 3; i < argc; i++) {
        WriteFile(input_write, argv[i], (DWORD)strlen(argv[i]), &count, NULL);
        WriteFile(input_write, "\n", 1, &count, NULL);
    }
    int ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process.hProcess, 1);
    char buffer[4096];
    while (PeekNamedPipe(output_read, NULL, 0, NULL, &count, NULL) && count > 0 &&
           ReadFile(output_read, buffer, sizeof buffer, &count, NULL))
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, count, &count, NULL);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (ended)
        printf("exit code %lu\n", code);
    else
        printf("still running\n");
    return ended ? 0 : 1;
}
