#include "console/parsers.h"

#include <cstring>

const uint32_t SPLIT_MAX_LINE = 4096;

uint8_t split_args(char *line, int32_t *argc, char **argv) {
    size_t length = strlen(line);
    if (length == 0)
        return 0;
    if (length > SPLIT_MAX_LINE)
        return 2;

    *argc = 0;
    char *cursor = line;
    while (*cursor == ' ') // leading blanks start no token of their own
        *cursor++ = '\0';
    for (;;) {
        // A token begins here: at the line's start or right after a run of blanks.
        *argc += 1;
        if (argv[*argc - 1] == nullptr)
            return 1;
        argv[*argc - 1] = cursor;

        while (*cursor != '\0' && *cursor != ' ')
            cursor++;
        if (*cursor == '\0')
            return 0;
        while (*cursor == ' ')
            *cursor++ = '\0';
    }
}

uint8_t decstr_to_uint(const char *text, uint32_t *value) {
    if (text[0] == '\0')
        return 1;
    while (text[0] == '0' && text[1] != '\0')
        text++;

    size_t length = strlen(text);
    if (length > 10)
        return 2;
    if (length == 10 && text[0] >= '5' && text[0] <= '9')
        return 4;

    uint32_t sum = 0;
    uint32_t multiplier = 1;
    for (size_t i = length; i-- > 0;) {
        char c = text[i];
        if (c < '0' || c > '9')
            return 3;
        uint32_t next = sum + static_cast<uint32_t>(c - '0') * multiplier;
        if (next < sum)
            return 4;
        sum = next;
        multiplier *= 10;
    }
    *value = sum;
    return 0;
}

static int hex_digit_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Converts `count` digit characters; at most 8 of them, so the sum cannot overflow.
static uint8_t convert_hex_digits(const char *digits, size_t count, uint32_t *value) {
    uint32_t sum = 0;
    uint32_t multiplier = 1;
    for (size_t i = count; i-- > 0;) {
        int digit = hex_digit_value(digits[i]);
        if (digit < 0)
            return 11;
        sum += static_cast<uint32_t>(digit) * multiplier;
        multiplier *= 16;
    }
    *value = sum;
    return 0;
}

static bool has_hex_prefix(const char *text) {
    return text[0] == '0' && text[1] == 'x';
}

uint8_t hexstr_to_uint(const char *text, uint32_t *value) {
    size_t length = strlen(text);
    if (length == 0)
        return 1;
    if (length >= 4 && has_hex_prefix(text) && text[length - 1] == 'h')
        return 3;

    if (length >= 3 && has_hex_prefix(text)) {
        const char *digits = text + 2;
        while (digits[0] == '0' && digits[1] != '\0')
            digits++;
        size_t count = strlen(digits);
        if (count > 8)
            return 2;
        return convert_hex_digits(digits, count, value);
    }

    if (length < 2 || text[length - 1] != 'h')
        return 12;
    const char *digits = text;
    size_t remaining = length; // the "h" included
    while (digits[0] == '0' && remaining > 2) {
        digits++;
        remaining--;
    }
    if (remaining > 9)
        return 2;
    return convert_hex_digits(digits, remaining - 1, value);
}

char *put_hex(char *out, uint32_t value, uint32_t digits) {
    for (uint32_t i = digits; i > 0; i--, value >>= 4) {
        uint32_t nibble = value & 0xFu;
        out[i - 1] = static_cast<char>(nibble < 10 ? '0' + nibble : 'A' - 10 + nibble);
    }
    return out + digits;
}
