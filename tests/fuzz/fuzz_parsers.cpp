// hexstr_to_uint and decstr_to_uint on arbitrary text, against the models in models.h.
#include <cstring>
#include <memory>

#include "console/parsers.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/models.h"

namespace {

const size_t MAX_TEXT = 40;

typedef uint8_t (*parser)(const char *, uint32_t *);
typedef uint8_t (*model_parser)(std::string_view, uint32_t &);

void check(const char *name, parser parse, model_parser reference, std::string_view text) {
    // An exact-size copy, so that AddressSanitizer sees any read past the NUL.
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';

    const uint32_t untouched = 0xA5C3F00Fu ^ static_cast<uint32_t>(text.size());
    uint32_t value = untouched;
    uint32_t expected = untouched;
    uint8_t code = parse(copy.get(), &value);
    uint8_t expected_code = reference(text, expected);
    FUZZ_CHECK(code == expected_code, "%s(\"%s\"): code %d, model %d", name, copy.get(), code,
               expected_code);
    FUZZ_CHECK(value == expected, "%s(\"%s\"): value %08X, model %08X", name, copy.get(), value,
               expected);
    FUZZ_CHECK(memcmp(copy.get(), text.data(), text.size()) == 0, "%s changed its text", name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    size_t length = 0;
    while (length < size && length < MAX_TEXT && data[length] != 0)
        length++;
    std::string_view text(reinterpret_cast<const char *>(data), length);
    check("hexstr_to_uint", hexstr_to_uint, model::hex, text);
    check("decstr_to_uint", decstr_to_uint, model::dec, text);
    return 0;
}
