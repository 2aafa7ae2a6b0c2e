#include <cstdio>

#include "console/program_entry.h"

// The console's streams get buffers of their own, of a fixed size, whatever the system's
// library would choose for a console, a pipe or a file: the answer to a line and the next
// prompt go out in one write when the loop flushes before its read, and a line is taken from
// one read of what has arrived.
static char output_buffer[8192];
static char input_buffer[4096];

int main(int argc, char **argv) {
    setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
    return dbg32_main(argc, argv);
}
