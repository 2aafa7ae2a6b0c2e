// Many restarts in one session: nothing leaks, nothing of an old run shows up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/e2e/session.h"

namespace {

const std::string UNKNOWN = crlf("...unknown command...\n");

struct process_figures {
    bool found = false;
    unsigned long handles = 0;
    unsigned long working_set = 0;
};

// Asks the probe program about the process running `image`.
process_figures probe(const std::string &image) {
    run_result run = run_wine({target_path("process_probe"), image}, "", 30000);
    process_figures figures;
    figures.found = run.exit_code == 0 &&
                    sscanf(run.output.c_str(), "handles=%lu working_set=%lu", &figures.handles,
                           &figures.working_set) == 2;
    return figures;
}

// A private copy of the debugger under a name of its own, so the probe finds this one.
std::string soak_copy() {
    char pattern[] = "/tmp/dbg32-soak-XXXXXX";
    std::string directory = mkdtemp(pattern);
    for (const char *file : {"dbg32.exe", "disasm.dll"}) {
        std::ifstream from(win32_dir() + "/" + file, std::ios::binary);
        std::string name = std::string(file) == "dbg32.exe" ? "dbg32_soak.exe" : file;
        std::ofstream(directory + "/" + name, std::ios::binary) << from.rdbuf();
    }
    return directory;
}

int rounds(int fallback) {
    const char *configured = getenv("DBG32_SOAK_ROUNDS");
    return configured != nullptr ? atoi(configured) : fallback;
}

TEST(SoakE2e, HundredRestartsLeakNothing) {
    std::string directory = soak_copy();
    session debugger({target_path("run_forever")}, directory + "/dbg32_soak.exe", directory);
    debugger.read_to_prompt();
    ASSERT_NE(debugger.poll_until("Exception on addr"), "");
    process_figures first;
    int restarts = rounds(100);
    for (int i = 0; i < restarts; i++) {
        EXPECT_EQ(debugger.command("rest"), "");
        std::string stop = debugger.poll_until("Exception on addr");
        ASSERT_NE(stop, "") << "no initial stop after restart " << i;
        EXPECT_EQ(stop.find("terminated"), std::string::npos) << stop;
        EXPECT_EQ(debugger.command("cont"), "");
        if (i % 2 == 0) {
            EXPECT_EQ(debugger.command(""), UNKNOWN);
        }
        if (i == 0) {
            first = probe("dbg32_soak.exe");
            ASSERT_TRUE(first.found);
        }
    }
    EXPECT_EQ(debugger.command("hex 1h"), crlf("number is = 00000001\n"));
    EXPECT_EQ(debugger.count_processes("run_forever"), 1);
    process_figures last = probe("dbg32_soak.exe");
    ASSERT_TRUE(last.found);
    EXPECT_LE(last.handles, first.handles + 2) << "handles after the first restart: " << first.handles;
    RecordProperty("handles_first", static_cast<int>(first.handles));
    RecordProperty("handles_last", static_cast<int>(last.handles));
    printf("handles %lu -> %lu, working set %lu -> %lu\n", first.handles, last.handles,
           first.working_set, last.working_set);
}

} // namespace
