/* Runs until it is ended. It counts its rounds in `round_counter` and calls
   `tick_target` in every round. */
#include <windows.h>

#include "known_code.h"

volatile unsigned round_counter;

int main(void) {
    for (;;) {
        round_counter++;
        tick_target();
        Sleep(1);
    }
}
