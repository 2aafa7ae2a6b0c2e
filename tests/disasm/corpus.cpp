#include "tests/disasm/corpus.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

const char *const wine_dlls[] = {"kernelbase.dll", "ntdll.dll", "msvcrt.dll", "user32.dll"};

constexpr uint16_t machine_i386 = 0x014C;
constexpr size_t section_header_size = 40;

uint32_t read_u16(const std::vector<uint8_t> &image, size_t at) {
    return image[at] | image[at + 1] << 8;
}

uint32_t read_u32(const std::vector<uint8_t> &image, size_t at) {
    return read_u16(image, at) | read_u16(image, at + 2) << 16;
}

bool failed(std::string &error, std::string message) {
    error = std::move(message);
    return false;
}

bool read_file(const std::string &path, std::vector<uint8_t> &bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Copies the bytes of the section header at `header` into `section` if it is .text.
bool take_text(const std::vector<uint8_t> &image, size_t header, uint32_t image_base,
               code_section &section) {
    if (std::memcmp(&image[header], ".text\0\0\0", 8) != 0)
        return false;
    const uint32_t virtual_size = read_u32(image, header + 8);
    const uint32_t rva = read_u32(image, header + 12);
    const uint32_t raw_size = read_u32(image, header + 16);
    const uint32_t raw_offset = read_u32(image, header + 20);
    // The raw size is rounded up to the file alignment; the virtual size is the code's.
    const uint32_t size = virtual_size != 0 ? std::min(virtual_size, raw_size) : raw_size;
    if (raw_offset > image.size() || size > image.size() - raw_offset)
        return false;
    section.address = image_base + rva;
    section.bytes.assign(image.begin() + raw_offset, image.begin() + raw_offset + size);
    return true;
}

} // namespace

bool read_text_section(const std::string &path, code_section &section, std::string &error) {
    std::vector<uint8_t> image;
    section.path = path;
    if (!read_file(path, image))
        return failed(error, "cannot read " + path);
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return failed(error, path + " is not a PE image");
    const size_t pe = read_u32(image, 0x3C);
    if (pe > image.size() - 24 || std::memcmp(&image[pe], "PE\0\0", 4) != 0)
        return failed(error, path + " has no PE header");
    if (read_u16(image, pe + 4) != machine_i386)
        return failed(error, path + " is not an i386 image");
    const uint32_t section_count = read_u16(image, pe + 6);
    const size_t optional_header = pe + 24;
    const size_t first_section = optional_header + read_u16(image, pe + 20);
    if (optional_header + 32 > image.size() ||
        first_section + section_count * section_header_size > image.size())
        return failed(error, path + " has a truncated header");
    const uint32_t image_base = read_u32(image, optional_header + 28);
    for (uint32_t i = 0; i < section_count; ++i)
        if (take_text(image, first_section + i * section_header_size, image_base, section))
            return true;
    return failed(error, path + " has no readable .text section");
}

bool corpus_paths(const std::string &wine_dll_dir, const std::string &win32_dir,
                  std::vector<std::string> &paths, std::string &error) {
    namespace fs = std::filesystem;
    // The package wine32 installs them; scripts/bootstrap installs it on every machine.
    const std::string remedy = ": install Wine's 32-bit part (wine32) with scripts/bootstrap, "
                               "then configure the build again";
    if (!fs::is_directory(wine_dll_dir))
        return failed(error, "Wine's folder of 32-bit Windows DLLs is not there (" + wine_dll_dir +
                                 ")" + remedy);
    for (const char *dll : wine_dlls) {
        const fs::path path = fs::path(wine_dll_dir) / dll;
        if (!fs::is_regular_file(path))
            return failed(error, "missing " + path.string() + remedy);
        paths.push_back(path.string());
    }
    // The debugger and its test programs, wherever the win32 build put them.
    std::vector<std::string> programs;
    const fs::path win32(win32_dir);
    for (const fs::path &folder : {win32, win32 / "targets", win32 / "tests" / "targets"}) {
        std::error_code ignored;
        for (const auto &entry : fs::directory_iterator(folder, ignored))
            if (entry.path().extension() == ".exe" && entry.is_regular_file(ignored))
                programs.push_back(entry.path().string());
    }
    std::sort(programs.begin(), programs.end());
    paths.insert(paths.end(), programs.begin(), programs.end());
    return true;
}

bool load_corpus(const std::string &wine_dll_dir, const std::string &win32_dir,
                 std::vector<code_section> &sections, std::string &error) {
    std::vector<std::string> paths;
    if (!corpus_paths(wine_dll_dir, win32_dir, paths, error))
        return false;
    for (const std::string &path : paths) {
        code_section section;
        if (!read_text_section(path, section, error))
            return false;
        sections.push_back(std::move(section));
    }
    return true;
}
