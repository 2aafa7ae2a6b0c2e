// The decoder behind disasm.dll: one x86 instruction (32-bit code) to Intel-syntax text.
#pragma once

#include <cstdint>

// The debugger calls the DLL with the C calling convention; on i386 Windows every argument
// and the result are 32 bits wide.
#if defined(_WIN32) && !defined(_WIN64)
#define DISASM_CALL __cdecl
#else
#define DISASM_CALL
#endif

// The caller's result record: its size and where the NUL-terminated text goes.
inline constexpr uint32_t disasm_record_size = 824;
inline constexpr uint32_t disasm_text_offset = 260;
inline constexpr uint32_t disasm_text_capacity = disasm_record_size - disasm_text_offset;

// Decodes the instruction at `code`, of which `size` bytes are readable, and writes its text
// into `record` at disasm_text_offset. `address` 0 means "unknown": branch targets are then
// shown relative to the instruction. `mode` is ignored: all code is 32-bit.
// Returns the instruction's length, 1 for bytes that form no instruction within `size`
// (text "db 0x.."), and 0 only when `size` is 0. Exported from disasm.dll as "Disasm".
extern "C" uint32_t DISASM_CALL disasm_decode(const uint8_t *code, uint32_t size, uint32_t address,
                                              uint8_t *record, uint32_t mode);
