// Reads one command line at a time from the console's input.
#pragma once

#include <cstdint>
#include <cstdio>

const uint32_t COMMAND_LINE_MAX = 255;

enum line_read_result : uint8_t {
    LINE_READ = 0,         // a whole line of at most 255 characters is in the buffer
    LINE_TOO_LONG = 1,     // the line was read to its end and thrown away
    LINE_END_OF_INPUT = 2, // no more input; the buffer is unchanged
};

// Reads up to the next newline (consumed, not stored) into `buffer` (256 bytes) and
// NUL-terminates it. A last line without a newline still counts as a line.
line_read_result read_command_line(FILE *input, char *buffer);
