/* Writes its own command line, as the system handed it over, to the file named by its
   first argument. */
#include <string.h>
#include <windows.h>

int main(int argc, char **argv) {
    if (argc < 2)
        return 2;
    const char *line = GetCommandLineA();
    HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(file);
    return 0;
}
