#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/parsers.h"

namespace {

const uint32_t UNTOUCHED = 0xDEADBEEFu;
const int32_t ARGC_UNTOUCHED = -77;

// '|' in an expected line image stands for a NUL written by the splitter.
std::string image(const char *text) {
    std::string bytes(text);
    for (char &c : bytes)
        if (c == '|')
            c = '\0';
    return bytes;
}

struct split_case {
    const char *line;
    int free_slots; // slots ahead of the null end mark
    uint8_t result;
    int32_t argc;
    std::vector<size_t> token_offsets; // where each stored token begins in the line
    const char *after;                 // the line's bytes afterwards
};

const split_case split_cases[] = {
    {"dis 401000h 5", 3, 0, 3, {0, 4, 12}, "dis|401000h|5"},
    {"dis 401000h ", 3, 0, 3, {0, 4, 12}, "dis|401000h|"},
    {"dis   401000h", 3, 0, 2, {0, 6}, "dis|||401000h"},
    {"dump", 3, 0, 1, {0}, "dump"},
    {"   ", 3, 0, 1, {3}, "|||"},
    {"dis 401000h 5 x", 3, 1, 4, {0, 4, 12}, "dis|401000h|5|x"},
    {"dis 401000h 5 ", 3, 1, 4, {0, 4, 12}, "dis|401000h|5|"},
    {"", 3, 0, ARGC_UNTOUCHED, {}, ""},
    // The refused token keeps its own blanks; those in front of it became NULs.
    {"dis 401000h 5   x  y ", 3, 1, 4, {0, 4, 12}, "dis|401000h|5|||x  y "},
    {" dis", 3, 0, 1, {1}, "|dis"},
    {"  a  b ", 3, 0, 3, {2, 5, 7}, "||a||b|"},
    {"a\tb", 3, 0, 1, {0}, "a\tb"},
    {"a b", 1, 1, 2, {0}, "a|b"},
    {"a b c d e", 5, 0, 5, {0, 2, 4, 6, 8}, "a|b|c|d|e"},
    {"a", 0, 1, 1, {}, "a"},
    {" a b", 0, 1, 1, {}, "|a b"},
};

TEST(SplitArgs, Table) {
    for (const split_case &c : split_cases) {
        SCOPED_TRACE(std::string("line '") + c.line + "'");
        std::string original(c.line);
        std::vector<char> line(original.begin(), original.end());
        line.push_back('\0');
        line.push_back('#'); // past the terminating NUL: never touched

        // Distinct non-null markers in the free slots, then the end mark, then one more.
        std::vector<char> markers(8, 'm');
        std::vector<char *> argv;
        for (int i = 0; i < c.free_slots; i++)
            argv.push_back(&markers[i]);
        argv.push_back(nullptr);
        argv.push_back(&markers[7]);

        int32_t argc = ARGC_UNTOUCHED;
        EXPECT_EQ(split_args(line.data(), &argc, argv.data()), c.result);
        EXPECT_EQ(argc, c.argc);

        std::string after(line.data(), original.size());
        EXPECT_EQ(after, image(c.after));
        EXPECT_EQ(line[original.size()], '\0');
        EXPECT_EQ(line[original.size() + 1], '#');

        for (size_t i = 0; i < c.token_offsets.size(); i++)
            EXPECT_EQ(argv[i], line.data() + c.token_offsets[i]) << "token " << i;
        for (size_t i = c.token_offsets.size(); i < static_cast<size_t>(c.free_slots); i++)
            EXPECT_EQ(argv[i], &markers[i]) << "slot " << i << " is not the marker";
        EXPECT_EQ(argv[c.free_slots], nullptr) << "the end mark was overwritten";
        EXPECT_EQ(argv[c.free_slots + 1], &markers[7]) << "a slot behind the end mark changed";
    }
}

TEST(SplitArgs, LengthLimitIs4096) {
    for (size_t length : {size_t{4096}, size_t{4097}}) {
        SCOPED_TRACE(length);
        std::string text;
        while (text.size() < length)
            text += "a ";
        text.resize(length);
        std::string line = text;
        char marker = 'm';
        char *argv[] = {&marker, &marker, nullptr};
        int32_t argc = ARGC_UNTOUCHED;
        uint8_t result = split_args(line.data(), &argc, argv);
        if (length == 4096) {
            EXPECT_EQ(result, 1); // accepted: splitting starts and runs out of slots
            EXPECT_EQ(argc, 3);
            EXPECT_EQ(argv[0], line.data());
            EXPECT_EQ(argv[1], line.data() + 2);
            EXPECT_EQ(line.substr(0, 5), image("a|a|a"));
            EXPECT_EQ(line.substr(5), text.substr(5));
        } else {
            EXPECT_EQ(result, 2);
            EXPECT_EQ(argc, ARGC_UNTOUCHED);
            EXPECT_EQ(argv[0], &marker);
            EXPECT_EQ(argv[1], &marker);
            EXPECT_EQ(line, text);
        }
    }
}

struct parse_case {
    const char *text;
    uint8_t result;
    uint32_t value; // only for result 0
};

void check_parser(uint8_t (*parse)(const char *, uint32_t *),
                  const std::vector<parse_case> &cases) {
    for (const parse_case &c : cases) {
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        std::string text(c.text);
        uint32_t value = UNTOUCHED;
        EXPECT_EQ(parse(text.c_str(), &value), c.result);
        EXPECT_EQ(value, c.result == 0 ? c.value : UNTOUCHED);
        EXPECT_EQ(text, c.text);
    }
}

TEST(DecstrToUint, Table) {
    check_parser(decstr_to_uint, {
                                     {"0", 0, 0},
                                     {"000", 0, 0},
                                     {"007", 0, 7},
                                     {"09", 0, 9},
                                     {"42", 0, 42},
                                     {"1234567890", 0, 1234567890u},
                                     {"4000000000", 0, 4000000000u},
                                     {"4294967295", 0, 4294967295u},
                                     {"00000000004294967295", 0, 4294967295u},
                                     {"00000000000", 0, 0},
                                     {"4294967296", 4, 0},
                                     {"4300000000", 4, 0},
                                     {"4999999999", 4, 0},
                                     {"5000000000", 4, 0},
                                     {"9999999999", 4, 0},
                                     {"5abcdefghi", 4, 0},
                                     {"99999999999", 2, 0},
                                     {"10000000000", 2, 0},
                                     {"abcdefghijk", 2, 0},
                                     {"", 1, 0},
                                     {"12a", 3, 0},
                                     {"-1", 3, 0},
                                     {"+1", 3, 0},
                                     {" 1", 3, 0},
                                     {"1 ", 3, 0},
                                     {"0x", 3, 0},
                                     {"4abcdefghi", 3, 0},
                                 });
}

TEST(HexstrToUint, Table) {
    check_parser(hexstr_to_uint, {
                                     {"401000h", 0, 0x401000},
                                     {"0x401000", 0, 0x401000},
                                     {"0x00000000401000", 0, 0x401000},
                                     {"000000000401000h", 0, 0x401000},
                                     {"0x0", 0, 0},
                                     {"0h", 0, 0},
                                     {"00h", 0, 0},
                                     {"0x0000000000", 0, 0},
                                     {"0000000000h", 0, 0},
                                     {"1h", 0, 1},
                                     {"0x1", 0, 1},
                                     {"FFFFFFFFh", 0, 0xFFFFFFFFu},
                                     {"0xffffffff", 0, 0xFFFFFFFFu},
                                     {"aBcDeF09h", 0, 0xABCDEF09u},
                                     {"0x12345678", 0, 0x12345678u},
                                     {"100000000h", 2, 0},
                                     {"0x100000000", 2, 0},
                                     {"GGGGGGGGGh", 2, 0},
                                     {"0xGGGGGGGGG", 2, 0},
                                     {"0x401000h", 3, 0},
                                     {"0x0h", 3, 0},
                                     {"0xGh", 3, 0},
                                     {"0xh", 11, 0},
                                     {"xh", 11, 0},
                                     {"40G000h", 11, 0},
                                     {"0x1F ", 11, 0},
                                     {" 1Fh", 11, 0},
                                     {"0x1H", 11, 0},
                                     {"0x-1", 11, 0},
                                     {"gh", 11, 0},
                                     {"0x", 12, 0},
                                     {"h", 12, 0},
                                     {"1", 12, 0},
                                     {"401000", 12, 0},
                                     {"0X401000", 12, 0},
                                     {"401000H", 12, 0},
                                     {"1Fh ", 12, 0},
                                     {"", 1, 0},
                                 });
}

} // namespace
