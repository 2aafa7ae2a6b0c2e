/* Presses a key at the console of another process, as a person at its window would:

     press_key PID

   Exit code 0 when the key went into that console's input, 1 when it has none. */
#include <windows.h>

#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    FreeConsole();
    if (!AttachConsole((DWORD)strtoul(argv[1], NULL, 10)))
        return 1;
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    INPUT_RECORD keys[2];
    memset(keys, 0, sizeof keys);
    for (int i = 0; i < 2; i++) {
        keys[i].EventType = KEY_EVENT;
        keys[i].Event.KeyEvent.bKeyDown = i == 0;
        keys[i].Event.KeyEvent.wRepeatCount = 1;
        keys[i].Event.KeyEvent.wVirtualKeyCode = 'X';
        keys[i].Event.KeyEvent.uChar.AsciiChar = 'x';
    }
    DWORD written = 0;
    return input != INVALID_HANDLE_VALUE && WriteConsoleInputA(input, keys, 2, &written) &&
                   written == 2
               ? 0
               : 1;
}
