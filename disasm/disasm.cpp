#include "disasm/disasm.h"

#include <Zydis/Zydis.h>

#include <cstring>

namespace {

constexpr uint32_t max_instruction_length = 15;

// The console reads numbers back with a lowercase "0x" prefix; the formatter copies the string.
// Every memory operand shows its size: left to the formatter, an instruction with one visible
// operand omits it, and "inc [eax]" could then be a byte or a dword.
bool set_properties(ZydisFormatter &formatter) {
    return ZYAN_SUCCESS(ZydisFormatterSetProperty(&formatter, ZYDIS_FORMATTER_PROP_HEX_PREFIX,
                                                  reinterpret_cast<ZyanUPointer>("0x"))) &&
           ZYAN_SUCCESS(
               ZydisFormatterSetProperty(&formatter, ZYDIS_FORMATTER_PROP_FORCE_SIZE, ZYAN_TRUE));
}

// Decoder and formatter are set up once and only read afterwards.
struct zydis_state {
    ZydisDecoder decoder;
    ZydisFormatter formatter;
    bool ready;

    // Built in place: the formatter keeps pointers into itself (its number prefixes), so
    // it must never be copied.
    zydis_state() {
        ready = ZYAN_SUCCESS(ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LEGACY_32,
                                              ZYDIS_STACK_WIDTH_32)) &&
                ZYAN_SUCCESS(ZydisFormatterInit(&formatter, ZYDIS_FORMATTER_STYLE_INTEL)) &&
                set_properties(formatter);
    }
};

const zydis_state &zydis() {
    static const zydis_state state;
    return state;
}

// "db 0x0F": what the console shows for a byte that starts no instruction.
uint32_t write_data_byte(uint8_t byte, char *text) {
    static const char digits[] = "0123456789ABCDEF";
    std::memcpy(text, "db 0x", 5);
    text[5] = digits[byte >> 4];
    text[6] = digits[byte & 0x0F];
    text[7] = '\0';
    return 1;
}

void trim_trailing_blanks(char *text) {
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ')
        --length;
    text[length] = '\0';
}

// Only the visible operands are decoded: the formatter needs no more, and it is faster.
bool decode(const ZydisDecoder &decoder, const uint8_t *code, uint32_t size,
            ZydisDecodedInstruction &instruction, ZydisDecodedOperand *operands) {
    const uint32_t readable = size < max_instruction_length ? size : max_instruction_length;
    ZydisDecoderContext context;
    return ZYAN_SUCCESS(
               ZydisDecoderDecodeInstruction(&decoder, &context, code, readable, &instruction)) &&
           ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&decoder, &context, &instruction, operands,
                                                   instruction.operand_count_visible));
}

bool format(const ZydisFormatter &formatter, const ZydisDecodedInstruction &instruction,
            const ZydisDecodedOperand *operands, uint32_t address, char *text) {
    const ZyanU64 runtime_address = address == 0 ? ZYDIS_RUNTIME_ADDRESS_NONE : address;
    return ZYAN_SUCCESS(ZydisFormatterFormatInstruction(
        &formatter, &instruction, operands, instruction.operand_count_visible, text,
        disasm_text_capacity, runtime_address, nullptr));
}

} // namespace

extern "C" uint32_t DISASM_CALL disasm_decode(const uint8_t *code, uint32_t size, uint32_t address,
                                              uint8_t *record, uint32_t /*mode*/) {
    if (record == nullptr)
        return 0;
    char *text = reinterpret_cast<char *>(record + disasm_text_offset);
    if (size == 0 || code == nullptr) {
        text[0] = '\0';
        return 0;
    }
    const zydis_state &state = zydis();
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT_VISIBLE];
    if (!state.ready || !decode(state.decoder, code, size, instruction, operands) ||
        !format(state.formatter, instruction, operands, address, text))
        return write_data_byte(code[0], text);
    trim_trailing_blanks(text);
    return instruction.length;
}
