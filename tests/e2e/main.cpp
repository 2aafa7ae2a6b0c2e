// The test program's start and end. Beyond GoogleTest's own verdict, a run fails when its
// deadline factor is bad, when it ran no test (a filter that matches nothing, a build
// without tests), and when it leaves a temporary folder behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/e2e/session.h"

namespace {

// Counts the tests that ran, and removes each test's temporary folders once it is over: its
// sessions are closed by then.
class run_watch : public testing::EmptyTestEventListener {
  public:
    // Listing runs and --help end before this, and run no test on purpose.
    void OnTestProgramStart(const testing::UnitTest &) override { started = true; }
    void OnTestStart(const testing::TestInfo &) override { tests_run++; }
    void OnTestEnd(const testing::TestInfo &) override { remove_temp_dirs(); }
    bool started = false;
    int tests_run = 0;
};

} // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (deadline_factor() == 0) {
        printf("e2e_tests: DBG32_DEADLINE_FACTOR=%s is not a whole number from 1 to 1000\n",
               getenv("DBG32_DEADLINE_FACTOR"));
        return 1;
    }
    auto *watch = new run_watch; // GoogleTest owns it
    testing::UnitTest::GetInstance()->listeners().Append(watch);
    int status = RUN_ALL_TESTS();
    if (watch->started && watch->tests_run == 0) {
        printf("e2e_tests: the run failed: no test ran: the filter matches none, or the program "
               "has none\n");
        status = 1;
    }
    for (const std::string &folder : remove_temp_dirs()) {
        printf("e2e_tests: the run failed: it left %s behind\n", folder.c_str());
        status = 1;
    }
    fflush(stdout);
    return status;
}
