// disasm.dll loaded the way the debugger loads it, by the Windows test program of the win32
// build (tests/disasm/dll_check.cpp), which checks its exports and listings.
#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/e2e/session.h"

namespace {

TEST(DisasmDllE2e, LoadsAndDecodesUnderWine) {
    const std::string folder = win32_dir() + "\\tests\\disasm";
    const std::string program = folder + "\\disasm_dll_check.exe";
    ASSERT_EQ(access(program.c_str(), R_OK), 0)
        << "missing " << program << ": build the win32 preset first";
    run_result run = run_program({program}, "", 60000, folder);
    ASSERT_TRUE(run.exited) << run;
    EXPECT_EQ(run.exit_code, 0) << run;
}

} // namespace
