// Calls the decoder the way the debugger does, but with the code in a heap block of exactly
// `size` bytes and the record between guard bytes that must come back untouched.
// AddressSanitizer reports a read past the block by the adapter; the packaged Zydis library is
// not instrumented, so reads inside it are caught by the length checks of the tests instead
// (an instruction longer than `size` can only come from bytes past the block).
#pragma once

#include "disasm/disasm.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

struct decode_result {
    uint32_t length = 0;
    std::string text;
    bool terminated = false;   // a NUL inside the record's text area
    bool guards_intact = true; // nothing written outside the record
};

class guarded_record {
  public:
    static constexpr size_t guard_size = 64;
    static constexpr uint8_t guard_byte = 0xA5;

    // The debugger reuses its record without clearing it: start from junk, not zeros.
    guarded_record() {
        bytes_.fill(guard_byte);
        std::fill_n(record(), disasm_record_size, uint8_t{'Z'});
    }

    uint8_t *record() { return bytes_.data() + guard_size; }

    decode_result decode(const std::vector<uint8_t> &code, uint32_t size, uint32_t address,
                         uint32_t mode = 3) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);
        if (size > 0)
            std::memcpy(exact.get(), code.data(), std::min<size_t>(size, code.size()));
        decode_result result;
        result.length = disasm_decode(exact.get(), size, address, record(), mode);
        const char *text = reinterpret_cast<const char *>(record() + disasm_text_offset);
        const size_t text_length = strnlen(text, disasm_text_capacity);
        result.terminated = text_length < disasm_text_capacity;
        result.text.assign(text, text_length);
        result.guards_intact = guards_intact();
        return result;
    }

    // All of `code`, as `size` bytes.
    decode_result decode_all(const std::vector<uint8_t> &code, uint32_t address = 0) {
        return decode(code, static_cast<uint32_t>(code.size()), address);
    }

  private:
    bool guards_intact() const {
        auto is_guard = [](uint8_t b) { return b == guard_byte; };
        const auto after = bytes_.begin() + guard_size + disasm_record_size;
        return std::all_of(bytes_.begin(), bytes_.begin() + guard_size, is_guard) &&
               std::all_of(after, bytes_.end(), is_guard);
    }

    std::array<uint8_t, guard_size + disasm_record_size + guard_size> bytes_;
};
