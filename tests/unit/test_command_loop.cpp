#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "console/command_loop.h"
#include "console/listing.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"
#include "tests/unit/support/capture.h"

namespace {

const char UNKNOWN[] = "...unknown command...\n";
const char KEY_PROMPT[] = "...press any key for exit...\n";
const char TOO_LONG[] = "...command too long (over 255 characters), ignored...\n";

uint32_t PLAT_CDECL one_byte_decoder(const uint8_t *, uint32_t, uint32_t, uint8_t *result,
                                     uint32_t) {
    strcpy(reinterpret_cast<char *>(result) + DISASM_TEXT_OFFSET, "op");
    return 1;
}

class CommandLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        ASSERT_EQ(debug_core_init(), 0);
        debuggee_process.store(fake::process_handle());
        std::vector<uint8_t> bytes(0x200);
        for (size_t i = 0; i < bytes.size(); i++)
            bytes[i] = static_cast<uint8_t>(i);
        fake::map_memory(0x401000, bytes);
        disasm_fn = one_byte_decoder;
    }
    void TearDown() override { feed_stdin(""); }

    // Runs one line through the dispatcher; returns its output.
    std::string dispatch(const std::string &line, bool *goes_on) {
        memset(command_buffer, 0, sizeof command_buffer);
        memcpy(command_buffer, line.data(), line.size());
        capture_start();
        *goes_on = dispatch_command();
        return capture_end();
    }

    std::string run_loop(const std::string &input) {
        feed_stdin(input);
        capture_start();
        command_loop();
        return capture_end();
    }
};

struct dispatch_case {
    const char *line;
    std::string output;
};

std::string dump_of_401000(int lines) {
    std::string text;
    char field[16];
    for (int line = 0; line < lines; line++) {
        snprintf(field, sizeof field, "\n%08X:", 0x401000 + 16 * line);
        text += field;
        for (int i = 0; i < 16; i++) {
            snprintf(field, sizeof field, " %02X", 16 * line + i);
            text += field;
        }
    }
    return text + "\n";
}

TEST_F(CommandLoop, DispatchTable) {
    const dispatch_case cases[] = {
        // "hex " and "dec " parse from the line's 5th character, unchanged.
        {"hex 1Fh", "number is = 0000001F\n"},
        {"hex 0x1f", "number is = 0000001F\n"},
        {"hex FFFFFFFFh", "number is = FFFFFFFF\n"},
        {"hex 1F", "error \xB9"
                   "12\n"},
        {"hex ", "error \xB9"
                 "1\n"},
        {"hex  1Fh", "error \xB9"
                     "11\n"},
        {"hex 0x1Fh", "error \xB9"
                      "3\n"},
        {"hex 100000000h", "error \xB9"
                           "2\n"},
        {"dec 42", "number is = 00000042\n"},
        {"dec 0", "number is = 00000000\n"},
        {"dec 4294967295", "number is = 4294967295\n"},
        {"dec 4294967296", "error \xB9"
                           "4\n"},
        {"dec 12a", "error \xB9"
                    "3\n"},
        {"dec ", "error \xB9"
                 "1\n"},
        {"dec 99999999999", "error \xB9"
                            "2\n"},
        // Rows that print nothing on their own.
        {"thrd", ""},
        {"stop", ""},
        {"resume", ""},
        {"cont", ""},
        // "dump" needs no blank behind it; "dis " and "dump" refuse silently.
        {"dumpster 401000h", dump_of_401000(4)},
        {"dump 401000h 2", dump_of_401000(2)},
        {"dump", ""},
        {"dump ", ""},
        {"dis ", ""},
        {"dis 401000", ""},
        {"dis 401000h 1", "argc = 3\nargv[2] = 1\nargv[1] = 401000h\nargv[0] = dis\n"
                          "00401001:\top\n"},
        // "b " and "d " parse from the line's 3rd character.
        {"b ", "hexstr_to_uint   error \xB9"
               "1\n"},
        {"b 401000", "hexstr_to_uint   error \xB9"
                     "12\n"},
        {"d  401000h", "hexstr_to_uint   error \xB9"
                       "11\n"},
        {"d 401000h", "break not remove - error _255\n"},
        {"b 0h", "break not set - error _254\n"},
        // Everything else is unrecognised: case, blanks and missing blanks count.
        {"", UNKNOWN},
        {"HEX 1Fh", UNKNOWN},
        {"Exit", UNKNOWN},
        {"exit ", UNKNOWN},
        {" exit", UNKNOWN},
        {"exitx", UNKNOWN},
        {"thrd ", UNKNOWN},
        {"Thrd", UNKNOWN},
        {"dis", UNKNOWN},
        {"dum", UNKNOWN},
        {"b", UNKNOWN},
        {"d", UNKNOWN},
        {"b401000h", UNKNOWN},
        {"hex", UNKNOWN},
        {"hexadecimal", UNKNOWN},
        {"decimal", UNKNOWN},
        {" hex 1Fh", UNKNOWN},
    };
    for (const dispatch_case &c : cases) {
        SCOPED_TRACE(std::string("line '") + c.line + "'");
        bool goes_on = false;
        EXPECT_EQ(dispatch(c.line, &goes_on), c.output);
        EXPECT_TRUE(goes_on);
    }
    EXPECT_EQ(fake::suspend_calls(), 0);
    EXPECT_EQ(fake::resume_calls(), 0);
    EXPECT_TRUE(fake::writes().empty());
}

TEST_F(CommandLoop, ExitEndsDispatchSilently) {
    bool goes_on = true;
    EXPECT_EQ(dispatch("exit", &goes_on), "");
    EXPECT_FALSE(goes_on);
    EXPECT_EQ(fake::key_waits(), 0); // the key wait belongs to the loop's end
}

// "exit" waits for a key only where a person can press one; elsewhere a script would hang.
TEST_F(CommandLoop, ExitWaitsForAKeyOnlyWhereAPersonCanPressOne) {
    struct key_case {
        const char *name;
        console_facts console;
        uint32_t major, minor;
        bool waits;
    };
    HWND window = fake::console_window();
    HWND stale = reinterpret_cast<HWND>(uintptr_t{0x10010});
    const key_case cases[] = {
        {"a console window in a user's session", {true, window, true, 1}, 6, 1, true},
        {"Windows XP, where users log on in session 0", {true, window, true, 0}, 5, 1, true},
        {"a session whose number is unknown",
         {true, window, true, PLAT_UNKNOWN_SESSION},
         6,
         1,
         true},
        {"no console", {false, nullptr, true, 1}, 6, 1, false},
        {"a console without a window", {true, nullptr, true, 1}, 6, 1, false},
        {"Windows 10 1809: a console without a window names no window",
         {true, stale, true, 1},
         10,
         0,
         false},
        {"a service's window station", {true, window, false, 0}, 5, 1, false},
        {"the services' session 0", {true, window, true, 0}, 10, 0, false},
    };
    for (const key_case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::set_console(c.console);
        fake::set_version(c.major, c.minor);
        int before = fake::key_waits();
        capture_start();
        console_exit();
        EXPECT_EQ(capture_end(), KEY_PROMPT);
        EXPECT_EQ(fake::key_waits(), before + (c.waits ? 1 : 0));
    }
}

TEST_F(CommandLoop, ShortLineIgnoresTailOfEarlierLine) {
    bool goes_on = false;
    dispatch("hex 12345678h", &goes_on);
    // The buffer still holds the old tail behind the new line's NUL.
    strcpy(command_buffer, "thrd");
    capture_start();
    EXPECT_TRUE(dispatch_command());
    EXPECT_EQ(capture_end(), "");
    strcpy(command_buffer, "exit");
    EXPECT_FALSE(dispatch_command());
}

struct loop_case {
    const char *name;
    std::string input;
    std::string output;
};

std::string padded(const char *head, char fill, size_t length, const char *tail) {
    std::string line(head);
    line.append(length - strlen(head) - strlen(tail), fill);
    return line + tail;
}

TEST_F(CommandLoop, LoopScripts) {
    const std::string line255 = padded("dec ", '0', 255, "42");
    const std::string line256 = padded("dec ", '0', 256, "42");
    std::string nul_line255 = padded("zz", 'z', 255, "");
    nul_line255[2] = '\0';
    std::string nul_line300 = padded("hex 1Fh", 'z', 300, "");
    nul_line300[7] = '\0';
    const std::string end = std::string(">") + KEY_PROMPT;
    const loop_case cases[] = {
        {"prompt before every read", "hex 1Fh\nthrd\n\nexit\n",
         ">number is = 0000001F\n>>" + std::string(UNKNOWN) + end},
        {"nothing read after exit", "exit\nhex 1Fh\n", end},
        {"end of input ends the loop", "hex 1Fh\n", ">number is = 0000001F\n" + end},
        {"last line without newline", "hex 1Fh", ">number is = 0000001F\n" + end},
        {"empty input", "", end},
        {"255 characters are one command", line255 + "\nexit\n", ">number is = 00000042\n" + end},
        {"255 characters at the end of input", line255, ">number is = 00000042\n" + end},
        {"256 characters are refused", line256 + "\nhex 1Fh\nexit\n",
         ">" + std::string(TOO_LONG) + ">number is = 0000001F\n" + end},
        {"1000 characters are refused whole", std::string(1000, 'z') + "\nhex 1Fh\nexit\n",
         ">" + std::string(TOO_LONG) + ">number is = 0000001F\n" + end},
        {"a long last line without newline", std::string(300, 'z'),
         ">" + std::string(TOO_LONG) + end},
        {"NUL bytes", std::string("hex 1Fh\nzz\0zz\n\0\0\0\n", 18) + nul_line255 + "\nhex 2Fh\n",
         ">number is = 0000001F\n>" + std::string(UNKNOWN) + ">" + UNKNOWN + ">" + UNKNOWN +
             ">number is = 0000002F\n" + end},
        {"a long line with a NUL", nul_line300 + "\nhex 2Fh\n",
         ">" + std::string(TOO_LONG) + ">number is = 0000002F\n" + end},
    };
    for (const loop_case &c : cases) {
        SCOPED_TRACE(c.name);
        int keys_before = fake::key_waits();
        EXPECT_EQ(run_loop(c.input), c.output);
        EXPECT_EQ(fake::key_waits(), keys_before + 1);
        EXPECT_EQ(fake::terminate_thread_calls(), 0);
    }
}

// What has reached the captured stdout file itself, not stdio's buffer.
std::string written_out() {
    struct stat status;
    if (fstat(STDOUT_FILENO, &status) != 0)
        return "";
    std::string text(static_cast<size_t>(status.st_size), '\0');
    ssize_t got = pread(STDOUT_FILENO, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

TEST_F(CommandLoop, PromptIsOutBeforeEachRead) {
    // The lines arrive through a pipe, each only once the loop's latest prompt and the
    // previous command's output have left the process.
    feed_stdin("");
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    ASSERT_GE(dup2(pipe_ends[0], STDIN_FILENO), 0);
    close(pipe_ends[0]);
    clearerr(stdin);

    const std::vector<std::pair<std::string, std::string>> steps = {
        {">", "hex 1Fh\n"},
        {">number is = 0000001F\n>", "thrd\n"},
        {">number is = 0000001F\n>>", "exit\n"},
    };
    std::atomic<int> steps_seen{0};
    capture_start();
    std::thread writer([&] {
        for (const auto &step : steps) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (written_out() != step.first && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (written_out() == step.first)
                steps_seen++;
            ssize_t ignored = write(pipe_ends[1], step.second.data(), step.second.size());
            (void)ignored;
        }
        close(pipe_ends[1]);
    });
    command_loop();
    writer.join();
    std::string output = capture_end();
    EXPECT_EQ(steps_seen.load(), 3) << "output was held back while the loop waited for input";
    EXPECT_EQ(output, std::string(">number is = 0000001F\n>>") + KEY_PROMPT);
}

} // namespace
