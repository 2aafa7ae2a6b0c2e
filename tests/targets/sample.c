/* The sample program for trying the debugger: it sums squares in `add_square`, one
   call every half second, for five minutes, then ends with the low byte of the sum. */
#include <windows.h>

volatile unsigned long total;

__attribute__((noinline)) void add_square(unsigned long n) { total += n * n; }

int main(void) {
    for (unsigned long n = 1; n <= 600; n++) {
        add_square(n);
        Sleep(500);
    }
    return (int)(total & 0xFF);
}
