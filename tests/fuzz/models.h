// Reference models of the console's text rules, kept deliberately plain (64-bit sums,
// string views) so that they share no structure with the code they check.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace model {

inline int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Leading '0's go as long as another character follows them.
inline std::string_view skip_zeros(std::string_view s) {
    while (s.size() > 1 && s.front() == '0')
        s.remove_prefix(1);
    return s;
}

// 0 ok, 1 empty, 2 over 10 characters, 3 not a digit, 4 above 0xFFFFFFFF.
inline uint8_t dec(std::string_view text, uint32_t &value) {
    if (text.empty())
        return 1;
    std::string_view digits = skip_zeros(text);
    if (digits.size() > 10)
        return 2;
    if (digits.size() == 10 && digits[0] >= '5' && digits[0] <= '9')
        return 4;
    uint64_t sum = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 3;
        sum = sum * 10 + static_cast<uint64_t>(c - '0');
    }
    if (sum > 0xFFFFFFFFu)
        return 4;
    value = static_cast<uint32_t>(sum);
    return 0;
}

inline uint8_t hex_digits(std::string_view digits, uint32_t &value) {
    digits = skip_zeros(digits);
    if (digits.size() > 8)
        return 2;
    uint64_t sum = 0;
    for (char c : digits) {
        if (hex_digit(c) < 0)
            return 11;
        sum = sum * 16 + static_cast<uint64_t>(hex_digit(c));
    }
    value = static_cast<uint32_t>(sum);
    return 0;
}

// "0x..." or "...h". 0 ok, 1 empty, 2 over 8 digits, 3 both, 11 bad digit, 12 neither.
inline uint8_t hex(std::string_view text, uint32_t &value) {
    if (text.empty())
        return 1;
    bool prefix = text.starts_with("0x");
    bool suffix = text.ends_with('h');
    if (text.size() >= 4 && prefix && suffix)
        return 3;
    if (text.size() >= 3 && prefix)
        return hex_digits(text.substr(2), value);
    if (text.size() < 2 || !suffix)
        return 12;
    return hex_digits(text.substr(0, text.size() - 1), value);
}

// Where the tokens of a non-empty line begin: at its first character unless that is a
// blank, and right behind every run of blanks (at the line's end for a trailing run).
// Into `starts`, which keeps its capacity from call to call.
inline void token_starts(std::string_view line, std::vector<size_t> &starts) {
    starts.clear();
    for (size_t i = 0; i <= line.size() && !line.empty(); i++) {
        bool blank_here = i < line.size() && line[i] == ' ';
        bool blank_before = i > 0 && line[i - 1] == ' ';
        if (!blank_here && (i == 0 || blank_before))
            starts.push_back(i);
    }
}

inline std::vector<size_t> token_starts(std::string_view line) {
    std::vector<size_t> starts;
    token_starts(line, starts);
    return starts;
}

inline std::string_view token_at(std::string_view line, size_t start) {
    std::string_view rest = line.substr(start);
    return rest.substr(0, rest.find(' '));
}

} // namespace model
