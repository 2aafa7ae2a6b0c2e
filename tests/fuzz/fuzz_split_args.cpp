// split_args on arbitrary lines and token arrays with 0 to 5 free slots (the callers use
// 3), against the token rules: slots, argc, result code and the NULs written.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/parsers.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/models.h"

namespace {

const size_t MAX_LINE = 5000;
const size_t SPLIT_LIMIT = 4096;
const int32_t ARGC_UNTOUCHED = -7;

// Distinct non-null marks for the free slots, and one for a slot behind the end mark.
char marks[8];

} // namespace

// Input: a header byte, then the line up to the first NUL. The header gives the number
// of free slots, and its top bit stretches the line by repetition to 4093..4100 bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    uint8_t header = data[0];
    size_t free_slots = header % 6;
    // Kept from input to input, with their capacity: fresh ones cost each run a few
    // allocations of up to 8 KiB, which AddressSanitizer fills and takes from new pages.
    static std::string line, stretched;
    static std::vector<char *> argv;
    static std::vector<size_t> starts;
    line.clear();
    for (size_t i = 1; i < size && data[i] != 0 && line.size() < MAX_LINE; i++)
        line.push_back(static_cast<char>(data[i]));
    if ((header & 0x80) && !line.empty()) {
        size_t target = 4093 + ((header >> 3) & 7);
        stretched.clear();
        while (stretched.size() < target)
            stretched += line;
        stretched.resize(target);
        line = stretched;
    }
    size_t n = line.size();

    std::unique_ptr<char[]> buffer(new char[n + 1]);
    memcpy(buffer.get(), line.c_str(), n + 1);
    argv.assign(free_slots + 2, nullptr);
    for (size_t i = 0; i < free_slots; i++)
        argv[i] = &marks[i];
    argv[free_slots] = nullptr;
    argv[free_slots + 1] = &marks[7];
    int32_t argc = ARGC_UNTOUCHED;

    uint8_t code = split_args(buffer.get(), &argc, argv.data());

    // The model: which tokens are stored, and up to where blanks become NULs.
    uint8_t expected_code = 0;
    int32_t expected_argc = ARGC_UNTOUCHED;
    starts.clear();
    size_t nul_limit = 0; // blanks before this offset are overwritten
    if (n > SPLIT_LIMIT) {
        expected_code = 2;
    } else if (n > 0) {
        model::token_starts(line, starts);
        nul_limit = n;
        expected_argc = static_cast<int32_t>(starts.size());
        if (starts.size() > free_slots) {
            expected_code = 1;
            expected_argc = static_cast<int32_t>(free_slots + 1);
            nul_limit = starts[free_slots];
            starts.resize(free_slots);
        }
    }
    FUZZ_CHECK(code == expected_code, "length %zu, %zu slots: code %d, model %d", n, free_slots,
               code, expected_code);
    FUZZ_CHECK(argc == expected_argc, "argc %d, model %d", argc, expected_argc);
    for (size_t i = 0; i < free_slots; i++) {
        char *expected = i < starts.size() ? buffer.get() + starts[i] : &marks[i];
        FUZZ_CHECK(argv[i] == expected, "slot %zu: %p, model %p (line at %p)", i,
                   static_cast<void *>(argv[i]), static_cast<void *>(expected),
                   static_cast<void *>(buffer.get()));
    }
    FUZZ_CHECK(argv[free_slots] == nullptr, "the end mark was overwritten");
    FUZZ_CHECK(argv[free_slots + 1] == &marks[7], "a slot behind the end mark was written");
    for (size_t i = 0; i <= n; i++) {
        char expected = i < nul_limit && line[i] == ' ' ? '\0' : line.c_str()[i];
        FUZZ_CHECK(buffer[i] == expected, "line byte %zu: %02X, model %02X", i,
                   static_cast<uint8_t>(buffer[i]), static_cast<uint8_t>(expected));
    }
    return 0;
}
