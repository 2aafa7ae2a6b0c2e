// The decoder's contract on known instructions: lengths, texts, addresses and bad input.
#include "tests/disasm/guarded_decode.h"

#include <gtest/gtest.h>

namespace {

struct known_instruction {
    std::vector<uint8_t> bytes;
    uint32_t length;
    const char *text;
};

void expect_decodes_to(const known_instruction &known, uint32_t address = 0) {
    guarded_record r;
    const decode_result result = r.decode_all(known.bytes, address);
    EXPECT_EQ(result.length, known.length) << known.text;
    EXPECT_EQ(result.text, known.text);
    EXPECT_TRUE(result.terminated);
    EXPECT_TRUE(result.guards_intact);
}

TEST(DisasmKnown, common_integer_instructions) {
    const known_instruction table[] = {
        {{0x55}, 1, "push ebp"},
        {{0x89, 0xE5}, 2, "mov ebp, esp"},
        {{0x8B, 0xEC}, 2, "mov ebp, esp"},
        {{0x83, 0xEC, 0x18}, 3, "sub esp, 0x18"},
        {{0x8B, 0x45, 0xF8}, 3, "mov eax, dword ptr [ebp-0x08]"},
        {{0xC7, 0x44, 0x24, 0x04, 0xFF, 0xFF, 0xFF, 0xFF},
         8,
         "mov dword ptr [esp+0x04], 0xFFFFFFFF"},
        {{0x8B, 0x04, 0x85, 0xE0, 0x10, 0x40, 0x00}, 7, "mov eax, dword ptr [eax*4+0x4010E0]"},
        {{0xB8, 0x78, 0x56, 0x34, 0x12}, 5, "mov eax, 0x12345678"},
        {{0xC2, 0x08, 0x00}, 3, "ret 0x08"},
        {{0x0F, 0x1F, 0x44, 0x00, 0x00}, 5, "nop dword ptr [eax+eax*1], eax"},
    };
    for (const known_instruction &known : table)
        expect_decodes_to(known);
}

TEST(DisasmKnown, prefixes) {
    const known_instruction table[] = {
        {{0xF0, 0x0F, 0xC1, 0x0A}, 4, "lock xadd dword ptr [edx], ecx"},
        {{0xF3, 0xA4}, 2, "rep movsb"},
        {{0xF3, 0xAB}, 2, "rep stosd"},
        {{0x66, 0xB8, 0x34, 0x12}, 4, "mov ax, 0x1234"},
        {{0x66, 0x89, 0x45, 0xFC}, 4, "mov word ptr [ebp-0x04], ax"},
        {{0x64, 0xA1, 0x18, 0x00, 0x00, 0x00}, 6, "mov eax, dword ptr fs:[0x00000018]"},
    };
    for (const known_instruction &known : table)
        expect_decodes_to(known);
}

TEST(DisasmKnown, vector_extensions) {
    const known_instruction table[] = {
        {{0x0F, 0x58, 0xC1}, 3, "addps xmm0, xmm1"},
        {{0x66, 0x0F, 0x6F, 0x45, 0x10}, 5, "movdqa xmm0, xmmword ptr [ebp+0x10]"},
        {{0xC5, 0xF4, 0x58, 0xC2}, 4, "vaddps ymm0, ymm1, ymm2"},
        {{0xC4, 0xE2, 0x7D, 0x18, 0xC0}, 5, "vbroadcastss ymm0, xmm0"},
    };
    for (const known_instruction &known : table)
        expect_decodes_to(known);
}

// Instructions that differ only in the size of their one memory operand read differently.
TEST(DisasmKnown, memory_operands_show_their_size) {
    const known_instruction table[] = {
        {{0xFE, 0x00}, 2, "inc byte ptr [eax]"},
        {{0xFF, 0x00}, 2, "inc dword ptr [eax]"},
        {{0xD9, 0x1C, 0x24}, 3, "fstp dword ptr [esp]"},
        {{0xDD, 0x1C, 0x24}, 3, "fstp qword ptr [esp]"},
        {{0xDB, 0x3C, 0x24}, 3, "fstp tbyte ptr [esp]"},
        {{0xFF, 0x30}, 2, "push dword ptr [eax]"},
        {{0x66, 0xFF, 0x30}, 3, "push word ptr [eax]"},
        {{0x8D, 0x76, 0x00}, 3, "lea esi, [esi]"}, // an address, not a memory access
    };
    for (const known_instruction &known : table)
        expect_decodes_to(known);
}

TEST(DisasmBranches, unknown_address_gives_targets_relative_to_the_instruction) {
    expect_decodes_to({{0xE8, 0x10, 0x00, 0x00, 0x00}, 5, "call +0x15"});
    expect_decodes_to({{0xEB, 0xFE}, 2, "jmp +0x00"});
    expect_decodes_to({{0x74, 0x05}, 2, "jz +0x07"});
}

TEST(DisasmBranches, known_address_gives_absolute_targets) {
    expect_decodes_to({{0xE8, 0x10, 0x00, 0x00, 0x00}, 5, "call 0x00401015"}, 0x401000);
    expect_decodes_to({{0xEB, 0xFE}, 2, "jmp 0x00401000"}, 0x401000);
    expect_decodes_to({{0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, 5, "call 0x77000000"}, 0x77000000);
}

TEST(DisasmBranches, far_jump_and_call_show_selector_and_offset) {
    expect_decodes_to({{0xEA, 0x78, 0x56, 0x34, 0x12, 0x34, 0x12}, 7, "jmp far 0x1234:0x12345678"});
    expect_decodes_to(
        {{0x9A, 0x00, 0x10, 0x40, 0x00, 0x1B, 0x00}, 7, "call far 0x001B:0x00401000"});
}

TEST(DisasmContract, every_mode_decodes_32_bit_code) {
    // In 16-bit code B8 would take a 2-byte immediate.
    const std::vector<uint8_t> bytes = {0xB8, 0x78, 0x56, 0x34, 0x12};
    for (uint32_t mode : {0u, 1u, 2u, 3u, 16u, 64u, 0xFFFFFFFFu}) {
        guarded_record r;
        const decode_result result = r.decode(bytes, 5, 0, mode);
        EXPECT_EQ(result.length, 5u) << "mode " << mode;
        EXPECT_EQ(result.text, "mov eax, 0x12345678") << "mode " << mode;
    }
}

TEST(DisasmContract, size_zero_gives_length_zero_and_empty_text) {
    guarded_record r;
    const decode_result result = r.decode({}, 0, 0);
    EXPECT_EQ(result.length, 0u);
    EXPECT_EQ(result.text, "");
    EXPECT_TRUE(result.guards_intact);
}

TEST(DisasmContract, invalid_bytes_give_one_data_byte) {
    const known_instruction table[] = {
        {{0x0F}, 1, "db 0x0F"},             // escape byte alone
        {{0x0F, 0x04}, 1, "db 0x0F"},       // undefined two-byte opcode
        {{0xFF, 0xFF}, 1, "db 0xFF"},       // FF /7 is undefined
        {{0xF0, 0x90}, 1, "db 0xF0"},       // lock on a non-lockable instruction
        {{0xC4}, 1, "db 0xC4"},             // VEX prefix alone
        {{0x8D, 0xC0}, 1, "db 0x8D"},       // lea with a register source
        {{0x66, 0x66, 0x66}, 1, "db 0x66"}, // prefixes only
    };
    for (const known_instruction &known : table)
        expect_decodes_to(known);
}

TEST(DisasmContract, instruction_cut_off_by_size_gives_one_data_byte) {
    const std::vector<uint8_t> call = {0xE8, 0x10, 0x00, 0x00, 0x00};
    for (uint32_t size = 1; size < call.size(); ++size) {
        guarded_record r;
        const decode_result result = r.decode(call, size, 0);
        EXPECT_EQ(result.length, 1u) << "size " << size;
        EXPECT_EQ(result.text, "db 0xE8") << "size " << size;
    }
}

TEST(DisasmContract, fifteen_bytes_is_the_longest_instruction) {
    std::vector<uint8_t> bytes(14, 0x3E); // 14 redundant DS prefixes, then nop
    bytes.push_back(0x90);
    guarded_record r;
    EXPECT_EQ(r.decode_all(bytes).length, 15u);
    bytes.insert(bytes.begin(), 0x3E); // 16 bytes: too long for any instruction
    const decode_result result = r.decode_all(bytes);
    EXPECT_EQ(result.length, 1u);
    EXPECT_EQ(result.text, "db 0x3E");
}

} // namespace
