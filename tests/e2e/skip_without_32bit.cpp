// Every test program that links the harness runs its tests under Wine, which needs a machine
// whose kernel runs 32-bit programs. Where the project's probe says this one cannot, all tests
// of the program are skipped at once, with the reason, before any of them starts Wine.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class needs_32bit_programs : public testing::Environment {
  public:
    void SetUp() override {
        const std::string command = std::string("'") + DBG32_E2E_CHECK_32BIT + "' --quiet";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(status != -1 && WIFEXITED(status)) << "could not run " << command;
        // 1 is the probed refusal. Anything else but 0 is a broken probe, which must fail
        // loudly rather than hide the tests.
        if (WEXITSTATUS(status) == 1)
            GTEST_SKIP() << DBG32_E2E_SKIP_REASON;
        ASSERT_EQ(WEXITSTATUS(status), 0) << command << " failed";
    }
};

[[maybe_unused]] const testing::Environment *const needs_32bit =
    testing::AddGlobalTestEnvironment(new needs_32bit_programs);

} // namespace
