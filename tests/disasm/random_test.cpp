// The decoder's contract on many pseudo-random byte strings (fixed seed, so failures repeat).
#include "tests/disasm/guarded_decode.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

constexpr int iterations = 20000;

// splitmix64: tiny, and the same sequence on every platform and library.
class random_bytes {
  public:
    explicit random_bytes(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Half the bytes come from prefixes and escapes, which lead into the rarer decoder paths.
    uint8_t byte() {
        static const uint8_t interesting[] = {0x0F, 0x66, 0x67, 0xF0, 0xF2, 0xF3, 0x2E, 0x3E,
                                              0x26, 0x64, 0x65, 0xC4, 0xC5, 0x62, 0x8F, 0x38,
                                              0x3A, 0xD8, 0xDF, 0xFF, 0x9B, 0xE8, 0xEA, 0xC7};
        const uint64_t r = next();
        return (r & 1) ? static_cast<uint8_t>(r >> 8) : interesting[(r >> 8) % sizeof interesting];
    }

    std::vector<uint8_t> bytes(size_t count) {
        std::vector<uint8_t> out(count);
        for (uint8_t &b : out)
            b = byte();
        return out;
    }

  private:
    uint64_t state_;
};

std::string hex(const std::vector<uint8_t> &bytes, size_t count) {
    std::ostringstream out;
    out << std::hex;
    for (size_t i = 0; i < count; ++i)
        out << (bytes[i] < 16 ? "0" : "") << unsigned(bytes[i]) << ' ';
    return out.str();
}

bool is_plain_text(const std::string &text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return !text.empty() && text.back() != ' ' && text.front() != ' ' &&
           text.find("0X") == std::string::npos;
}

void check_one(guarded_record &r, const std::vector<uint8_t> &bytes, uint32_t size,
               uint32_t address, int &valid) {
    const decode_result result = r.decode(bytes, size, address, 3);
    SCOPED_TRACE(hex(bytes, size) + "-> " + result.text);
    ASSERT_GE(result.length, 1u);
    ASSERT_LE(result.length, std::min(size, 15u));
    ASSERT_TRUE(result.terminated);
    ASSERT_TRUE(result.guards_intact);
    ASSERT_TRUE(is_plain_text(result.text));
    if (result.length == 1 && result.text.rfind("db ", 0) == 0)
        return;
    ++valid;
    // The instruction reads only its own bytes: exactly `length` bytes decode the same...
    const decode_result exact = r.decode(bytes, result.length, address, 3);
    ASSERT_EQ(exact.length, result.length);
    ASSERT_EQ(exact.text, result.text);
    // ...and one byte fewer cuts it off.
    if (result.length > 1) {
        const decode_result cut = r.decode(bytes, result.length - 1, address, 3);
        ASSERT_EQ(cut.length, 1u);
        ASSERT_EQ(cut.text.rfind("db 0x", 0), 0u) << cut.text;
    }
}

TEST(DisasmRandom, contract_holds_for_random_bytes) {
    random_bytes rng(0xDB632);
    guarded_record r;
    int valid = 0;
    for (int i = 0; i < iterations; ++i) {
        const uint32_t size = 1 + static_cast<uint32_t>(rng.next() % 16);
        const std::vector<uint8_t> bytes = rng.bytes(size);
        const uint32_t address = (rng.next() & 1) ? 0 : static_cast<uint32_t>(rng.next());
        ASSERT_NO_FATAL_FAILURE(check_one(r, bytes, size, address, valid)) << "iteration " << i;
    }
    // Random bytes are mostly valid code; a decoder that rejects everything must not pass.
    EXPECT_GT(valid, iterations / 2);
}

} // namespace
