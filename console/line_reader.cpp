#include "console/line_reader.h"

line_read_result read_command_line(FILE *input, char *buffer) {
    uint32_t length = 0;
    bool too_long = false;
    int c = getc(input);
    if (c == EOF)
        return LINE_END_OF_INPUT;
    // Characters are stored until the buffer is full; a longer line is still read to its
    // end, so that its tail never comes back as a command of its own.
    while (c != EOF && c != '\n') {
        if (length < COMMAND_LINE_MAX)
            buffer[length++] = static_cast<char>(c);
        else
            too_long = true;
        c = getc(input);
    }
    buffer[length] = '\0';
    return too_long ? LINE_TOO_LONG : LINE_READ;
}
