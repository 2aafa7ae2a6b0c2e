// The listing commands "dump" and "dis " and the decoder they call.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The decoder library's Disasm: decodes the instruction at `code` (with `size` bytes
// readable), writes its text at offset 260 of the 824-byte `result`, returns its length.
typedef uint32_t(PLAT_CDECL *disasm_routine)(const uint8_t *code, uint32_t size, uint32_t address,
                                             uint8_t *result, uint32_t mode);

const uint32_t LISTING_READ_SIZE = 384;
const uint32_t DISASM_RECORD_SIZE = 824;
const uint32_t DISASM_TEXT_OFFSET = 260;
const uint32_t DISASM_MODE = 3;

extern disasm_routine disasm_fn;

void cmd_dis();
void cmd_dump();
