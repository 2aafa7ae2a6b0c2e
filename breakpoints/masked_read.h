// Reads debuggee memory with the bytes saved under breakpoints in place of 0xCC.
#pragma once

#include <cstdint>

// 0 done (a range running past 0xFFFFFFFF is cut there); 1 length 0;
// 2 a platform read failed; 3 a platform read moved a different count.
uint8_t read_memory_masked(uint32_t start, uint32_t length, uint8_t *buffer);
