// Real 32-bit code for the decoder's differential test and benchmark: the .text sections of
// Wine's Windows DLLs, as installed (they are read as files: Wine need not run), and of our
// own Windows test programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct code_section {
    std::string path;
    uint32_t address = 0; // where the section starts in memory (image base + RVA)
    std::vector<uint8_t> bytes;
};

// Reads the .text section of a PE i386 image. On failure returns false and says why.
bool read_text_section(const std::string &path, code_section &section, std::string &error);

// The corpus files: four DLLs from Wine's folder of 32-bit Windows DLLs, `wine_dll_dir` (all
// required), and the programs of the win32 build (optional: dbg32.exe and the test programs, if
// built). Returns false with a message when a DLL is missing.
bool corpus_paths(const std::string &wine_dll_dir, const std::string &win32_dir,
                  std::vector<std::string> &paths, std::string &error);

// Reads every corpus file; false with a message at the first one that fails.
bool load_corpus(const std::string &wine_dll_dir, const std::string &win32_dir,
                 std::vector<code_section> &sections, std::string &error);
