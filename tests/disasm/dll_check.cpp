// Loads disasm.dll the way the debugger does (LoadLibraryA, GetProcAddress "Disasm") and
// decodes a known piece of code through it. Exits 0 when every line matches.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using disasm_fn = uint32_t(__cdecl *)(const uint8_t *, uint32_t, uint32_t, uint8_t *, uint32_t);

// The debugger's result record: 824 bytes, text at offset 260.
constexpr uint32_t record_size = 824;
constexpr uint32_t text_offset = 260;
constexpr uint32_t guard_size = 64;
constexpr uint8_t guard_byte = 0xA5;

struct expected_line {
    uint32_t length;
    const char *text;
};

// A short function, a far jump and a final 0F cut off by the end of the buffer.
const uint8_t code[] = {
    0x55,                                     // push ebp
    0x8B, 0xEC,                               // mov ebp, esp
    0x83, 0xEC, 0x08,                         // sub esp, 8
    0x8B, 0x45, 0x08,                         // mov eax, [ebp+8]
    0xF0, 0x0F, 0xC1, 0x08,                   // lock xadd [eax], ecx
    0x66, 0xB8, 0x34, 0x12,                   // mov ax, 0x1234
    0xE8, 0x10, 0x00, 0x00, 0x00,             // call, 0x10 past its end
    0xEA, 0x78, 0x56, 0x34, 0x12, 0x34, 0x12, // jmp far 0x1234:0x12345678
    0xC9,                                     // leave
    0xC2, 0x04, 0x00,                         // ret 4
    0x0F,                                     // two-byte opcode cut off
};

const expected_line expected[] = {
    {1, "push ebp"},
    {2, "mov ebp, esp"},
    {3, "sub esp, 0x08"},
    {3, "mov eax, dword ptr [ebp+0x08]"},
    {4, "lock xadd dword ptr [eax], ecx"},
    {4, "mov ax, 0x1234"},
    {5, "call +0x15"},
    {7, "jmp far 0x1234:0x12345678"},
    {1, "leave"},
    {3, "ret 0x04"},
    {1, "db 0x0F"},
};

int failures = 0;

void fail(const char *what) {
    std::printf("FAIL: %s\n", what);
    ++failures;
}

struct guarded_record {
    uint8_t bytes[guard_size + record_size + guard_size];

    guarded_record() { std::memset(bytes, guard_byte, sizeof bytes); }
    uint8_t *record() { return bytes + guard_size; }
    const char *text() { return reinterpret_cast<const char *>(record() + text_offset); }

    bool guards_intact() const {
        for (uint32_t i = 0; i < guard_size; ++i)
            if (bytes[i] != guard_byte || bytes[guard_size + record_size + i] != guard_byte)
                return false;
        return true;
    }
};

// The export table must name Disasm and nothing else, undecorated.
void check_exports(HMODULE module) {
    auto *base = reinterpret_cast<const uint8_t *>(module);
    auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0)
        return fail("disasm.dll has no export table");
    auto *exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    auto *names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        std::printf("export: %s\n", reinterpret_cast<const char *>(base + names[i]));
    if (exports->NumberOfNames != 1 ||
        std::strcmp(reinterpret_cast<const char *>(base + names[0]), "Disasm") != 0)
        fail("disasm.dll must export exactly the name Disasm");
}

void check_listing(disasm_fn disasm) {
    guarded_record r;
    uint32_t pos = 0;
    for (const expected_line &line : expected) {
        if (pos >= sizeof code)
            return fail("the code ended before the expected listing");
        const uint32_t length = disasm(code + pos, sizeof code - pos, 0, r.record(), 3);
        std::printf("%04X  %u  %s\n", static_cast<unsigned>(pos), static_cast<unsigned>(length),
                    r.text());
        if (length != line.length || std::strcmp(r.text(), line.text) != 0) {
            std::printf("      expected %u  %s\n", static_cast<unsigned>(line.length), line.text);
            fail("listing line differs");
        }
        pos += length == 0 ? 1 : length;
    }
    if (!r.guards_intact())
        fail("bytes outside the record were written");
}

void check_edge_cases(disasm_fn disasm) {
    guarded_record r;
    const uint8_t call[] = {0xE8, 0x10, 0x00, 0x00, 0x00};
    if (disasm(call, sizeof call, 0x401000, r.record(), 3) != 5 ||
        std::strcmp(r.text(), "call 0x00401015") != 0)
        fail("a known address must give an absolute call target");
    if (disasm(call, 4, 0, r.record(), 3) != 1 || std::strcmp(r.text(), "db 0xE8") != 0)
        fail("a call cut off by size must give db 0xE8");
    if (disasm(call, 0, 0, r.record(), 3) != 0 || r.text()[0] != '\0')
        fail("size 0 must give length 0 and an empty text");
    if (!r.guards_intact())
        fail("bytes outside the record were written");
}

} // namespace

int main() {
    HMODULE module = LoadLibraryA("disasm.dll");
    if (module == nullptr) {
        std::printf("FAIL: LoadLibraryA(\"disasm.dll\") failed, error %lu\n", GetLastError());
        return 1;
    }
    FARPROC proc = GetProcAddress(module, "Disasm");
    if (proc == nullptr) {
        std::printf("FAIL: disasm.dll exports no Disasm, error %lu\n", GetLastError());
        return 1;
    }
    auto disasm = reinterpret_cast<disasm_fn>(reinterpret_cast<void *>(proc));
    check_exports(module);
    check_listing(disasm);
    check_edge_cases(disasm);
    std::printf("%s\n", failures == 0 ? "disasm.dll: all checks passed" : "disasm.dll: FAILED");
    return failures == 0 ? 0 : 1;
}
