// Many restarts in one session: nothing leaks, nothing of an old run shows up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>

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
    run_result run = run_program({target_path("process_probe"), image}, "", 30000);
    process_figures figures;
    figures.found = run.exit_code == 0 && sscanf(run.output.c_str(), "handles=%lu working_set=%lu",
                                                 &figures.handles, &figures.working_set) == 2;
    EXPECT_TRUE(figures.found) << "the probe of " << image << ": " << run;
    return figures;
}

// A private copy of the debugger under a name of its own, so the probe finds this one.
std::string soak_copy() {
    std::string directory = make_temp_dir();
    for (const char *file : {"dbg32.exe", "disasm.dll"}) {
        std::ifstream from(win32_dir() + "\\" + file, std::ios::binary);
        std::string name = std::string(file) == "dbg32.exe" ? "dbg32_soak.exe" : file;
        std::ofstream(directory + "\\" + name, std::ios::binary) << from.rdbuf();
    }
    return directory;
}

// Sizes of the soak sessions; `make soak` raises them.
int setting(const char *name, int fallback) {
    const char *configured = getenv(name);
    return configured != nullptr ? atoi(configured) : fallback;
}

TEST(SoakE2e, HundredRestartsLeakNothing) {
    std::string directory = soak_copy();
    session debugger({quoted_path(target_path("run_forever"))}, directory + "\\dbg32_soak.exe",
                     directory);
    debugger.read_to_prompt();
    ASSERT_NE(debugger.poll_until("Exception on addr"), "");
    process_figures first;
    int restarts = setting("DBG32_SOAK_RESTARTS", 100);
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
    EXPECT_LE(last.handles, first.handles + 2)
        << "handles after the first restart: " << first.handles;
    RecordProperty("handles_first", static_cast<int>(first.handles));
    RecordProperty("handles_last", static_cast<int>(last.handles));
    printf("handles %lu -> %lu, working set %lu -> %lu\n", first.handles, last.handles,
           first.working_set, last.working_set);
}

std::string hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

// A long mixed session against a debuggee that keeps its debugger busy. Every report must
// belong to the current run: no termination (the debuggee never ends by itself) and no
// stop at the stop page of an earlier run.
class busy_session {
  public:
    explicit busy_session(session &debugger) : debugger_(debugger) {}

    void start() {
        debugger_.read_to_prompt();
        std::string stop = debugger_.poll_until("Exception on addr");
        ASSERT_NE(stop, "");
        initial_ = address_in(stop);
        begin_run();
    }

    // Quiets the run first, so that no notification of it is still on its way.
    void restart() {
        debugger_.command("stop");
        usleep(100 * 1000);
        for (int i = 0; i < 20 && poll() != 0; i++) {
        }
        old_pages_.insert(page_);
        EXPECT_EQ(debugger_.command("rest"), "");
        std::string stop = debugger_.poll_until("Exception on addr");
        ASSERT_NE(stop, "") << "no initial stop after rest";
        check_report(stop);
        begin_run();
    }

    void random_command(std::mt19937 &random) {
        uint32_t choice = random() % 100;
        uint32_t offset = random() % 20; // inside known_code, which never runs
        if (choice < 40)
            poll();
        else if (choice < 63)
            EXPECT_EQ(debugger_.command("cont"), "");
        else if (choice < 65)
            EXPECT_EQ(debugger_.command("stop"), "");
        else if (choice < 70)
            EXPECT_EQ(debugger_.command("resume"), "");
        else if (choice < 75)
            EXPECT_EQ(debugger_.command("dump " + hex8(known_) + "h 24").substr(0, 11),
                      "\r\n" + hex8(known_) + ":");
        else if (choice < 80)
            EXPECT_EQ(debugger_.command("dis " + hex8(known_) + "h 24").substr(0, 8), "argc = 3");
        else if (choice < 85)
            EXPECT_NE(debugger_.command("b " + hex8(tick_) + "h").find("\r\nFind = "),
                      std::string::npos);
        else if (choice < 90)
            EXPECT_NE(debugger_.command("d " + hex8(tick_) + "h").find("remove"),
                      std::string::npos);
        else if (choice < 95)
            EXPECT_NE(debugger_.command("b " + hex8(known_ + offset) + "h").find("Find = "),
                      std::string::npos);
        else
            EXPECT_NE(debugger_.command("d " + hex8(known_ + offset) + "h").find("remove"),
                      std::string::npos);
    }

    int reports() const { return reports_; }

  private:
    static uint32_t address_in(const std::string &report) {
        size_t at = report.find("Exception on addr ");
        return static_cast<uint32_t>(std::stoul(report.substr(at + 18, 8), nullptr, 16));
    }

    // One empty line; returns 1 when it reported something.
    int poll() {
        std::string report = debugger_.command("");
        if (report == UNKNOWN)
            return 0;
        check_report(report);
        return 1;
    }

    void check_report(const std::string &report) {
        reports_++;
        ASSERT_EQ(report.find("terminated"), std::string::npos)
            << "an earlier run's end: " << report;
        uint32_t address = address_in(report);
        if (address != page_) {
            EXPECT_EQ(old_pages_.count(address), 0u) << "a stop of an earlier run: " << report;
        }
        EXPECT_TRUE(address == initial_ || address == tick_ || address == page_ || page_ == 0)
            << report;
    }

    // Lets the new run go and learns where it will stop.
    void begin_run() {
        page_ = 0;
        EXPECT_EQ(debugger_.command("cont"), "");
        uint32_t at = target_symbol("busy_debuggee", "stop_page");
        for (int i = 0; i < 200 * deadline_factor() && page_ == 0; i++) {
            std::string dump = debugger_.command("dump " + hex8(at) + "h 1");
            unsigned bytes[4] = {};
            std::string head = "\r\n" + hex8(at) + ": %2X %2X %2X %2X";
            if (sscanf(dump.c_str(), head.c_str(), &bytes[0], &bytes[1], &bytes[2], &bytes[3]) == 4)
                page_ = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24;
            if (page_ == 0)
                usleep(20 * 1000);
        }
        EXPECT_NE(page_, 0u) << "the debuggee did not set up its stop page within "
                             << deadline_text(4000);
        old_pages_.erase(page_); // the same page again: it can no longer tell the runs apart
    }

    session &debugger_;
    uint32_t initial_ = 0;
    uint32_t page_ = 0;
    uint32_t tick_ = target_symbol("busy_debuggee", "tick_target");
    uint32_t known_ = target_symbol("busy_debuggee", "known_code");
    std::set<uint32_t> old_pages_;
    int reports_ = 0;
};

TEST(SoakE2e, LongBusySession) {
    std::string directory = soak_copy();
    session debugger({quoted_path(target_path("busy_debuggee"))}, directory + "\\dbg32_soak.exe",
                     win32_dir() + "\\targets");
    busy_session soak(debugger);
    soak.start();
    std::mt19937 random(12345);
    int commands = setting("DBG32_SOAK_COMMANDS", 600);
    process_figures first;
    for (int i = 1; i <= commands && !HasFatalFailure(); i++) {
        if (i % 300 == 0) {
            soak.restart();
            if (!first.found)
                first = probe("dbg32_soak.exe");
        } else {
            soak.random_command(random);
        }
    }
    soak.restart();
    if (!first.found)
        first = probe("dbg32_soak.exe");
    EXPECT_EQ(debugger.command("hex 1h"), crlf("number is = 00000001\n"));
    EXPECT_EQ(debugger.count_processes("busy_debuggee"), 1);
    process_figures last = probe("dbg32_soak.exe");
    ASSERT_TRUE(first.found && last.found);
    EXPECT_LE(last.handles, first.handles + 3);
    EXPECT_LE(last.working_set, first.working_set + first.working_set / 10);
    printf("%d commands, %d reports; handles %lu -> %lu, working set %lu -> %lu\n", commands,
           soak.reports(), first.handles, last.handles, first.working_set, last.working_set);
}

} // namespace
