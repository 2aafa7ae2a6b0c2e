/* The sample program for trying the debugger: it sums squares, one call of `add_square`
   every half second, for five minutes, then ends with the low byte of the sum in `total`.
   `add_square` begins with a one-byte nop, so that after a breakpoint there is hit and
   "cont" lets the program go on behind it, the program runs on unharmed. */
#include <windows.h>

volatile unsigned long total;

void add_square(unsigned long n);

__asm__(".text\n"
        ".globl _add_square\n"
        "_add_square:\n"
        "    nop\n"
        "    jmp _add_square_body\n");

__attribute__((noinline, used)) void add_square_body(unsigned long n) {
    total += n * n;
}

int main(void) {
    for (unsigned long n = 1; n <= 600; n++) {
        add_square(n);
        Sleep(500);
    }
    return (int)(total & 0xFF);
}
