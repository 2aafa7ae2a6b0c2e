// Compares the decoder's instruction lengths with binutils' objdump over real 32-bit code.
// Both start at every instruction objdump lists, so one disagreement cannot shift the rest.
#include "disasm/disasm.h"
#include "tests/disasm/corpus.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr double required_agreement = 0.999;
constexpr size_t disagreements_shown = 50;

struct listed_instruction {
    uint32_t address;
    uint32_t length;
    std::string text;
};

// One objdump line: "  7bc01009:\t83 ec 0c     \tsub    esp,0xc". Other lines are skipped.
bool parse_listing_line(const std::string &line, listed_instruction &out) {
    const size_t colon = line.find(":\t");
    const size_t bytes_end = colon == std::string::npos ? colon : line.find('\t', colon + 2);
    if (bytes_end == std::string::npos)
        return false;
    char *end = nullptr;
    out.address = static_cast<uint32_t>(std::strtoul(line.c_str(), &end, 16));
    if (end != line.c_str() + colon)
        return false;
    std::istringstream bytes(line.substr(colon + 2, bytes_end - colon - 2));
    std::string byte;
    out.length = 0;
    while (bytes >> byte)
        ++out.length;
    out.text = line.substr(bytes_end + 1);
    return out.length > 0;
}

bool run_objdump(const std::string &path, std::vector<listed_instruction> &listing,
                 std::string &error) {
    // All bytes of an instruction on one line (--insn-width), zero runs listed too (-z).
    const std::string command = std::string("'") + DBG32_OBJDUMP +
                                "' -d -z -M intel --insn-width=15 -j .text '" + path + "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        error = "cannot run: " + command;
        return false;
    }
    char buffer[512];
    listed_instruction instruction;
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        if (parse_listing_line(line, instruction))
            listing.push_back(instruction);
    }
    const int status = pclose(pipe);
    if (status != 0 || listing.empty()) {
        error = "objdump failed or listed nothing: " + command;
        return false;
    }
    return true;
}

std::string hex_bytes(const uint8_t *bytes, size_t count) {
    std::string out;
    char digits[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x ", bytes[i]);
        out += digits;
    }
    return out;
}

struct tally {
    size_t compared = 0;
    size_t agreed = 0;
    std::vector<std::string> disagreements;
};

void compare_section(const code_section &section, const std::vector<listed_instruction> &listing,
                     tally &total) {
    uint8_t record[disasm_record_size];
    const char *text = reinterpret_cast<const char *>(record + disasm_text_offset);
    const uint32_t size = static_cast<uint32_t>(section.bytes.size());
    for (const listed_instruction &listed : listing) {
        const uint32_t offset = listed.address - section.address;
        if (listed.address < section.address || offset >= size)
            continue; // objdump lists the section's alignment padding too
        const uint32_t length =
            disasm_decode(section.bytes.data() + offset, size - offset, 0, record, 3);
        ++total.compared;
        if (length == listed.length) {
            ++total.agreed;
            continue;
        }
        if (total.disagreements.size() < disagreements_shown) {
            std::ostringstream line;
            line << section.path << " +0x" << std::hex << offset << std::dec << ": "
                 << hex_bytes(section.bytes.data() + offset,
                              std::min<size_t>(std::max(length, listed.length), size - offset))
                 << "| objdump " << listed.length << " '" << listed.text << "' | disasm " << length
                 << " '" << text << "'";
            total.disagreements.push_back(line.str());
        }
    }
}

TEST(DisasmDifferential, lengths_agree_with_objdump_on_real_code) {
    ASSERT_STRNE(DBG32_OBJDUMP, "") << "i686-w64-mingw32-objdump not found at configure time; "
                                       "install binutils-mingw-w64-i686 (scripts/bootstrap)";
    std::vector<code_section> sections;
    std::string error;
    ASSERT_TRUE(load_corpus(DBG32_WINE_DLL_DIR, DBG32_WIN32_DIR, sections, error)) << error;
    tally total;
    for (const code_section &section : sections) {
        std::vector<listed_instruction> listing;
        ASSERT_TRUE(run_objdump(section.path, listing, error)) << error;
        const size_t before = total.compared;
        compare_section(section, listing, total);
        std::printf("%s: %zu bytes, %zu instructions\n", section.path.c_str(), section.bytes.size(),
                    total.compared - before);
    }
    for (const std::string &line : total.disagreements)
        std::printf("disagreement: %s\n", line.c_str());
    const double agreement = total.compared ? double(total.agreed) / double(total.compared) : 0;
    std::printf("lengths agree on %zu of %zu instructions (%.4f%%)\n", total.agreed, total.compared,
                100 * agreement);
    // The four DLLs alone hold well over 100000 instructions; fewer means a broken corpus.
    EXPECT_GT(total.compared, 100000u);
    EXPECT_GE(agreement, required_agreement);
}

} // namespace
