// Drives dbg32.exe through pipes, for the end-to-end tests: a Windows program that runs on
// Windows and under Wine alike.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// What every deadline here and in the tests is multiplied by: DBG32_DEADLINE_FACTOR, a whole
// number from 1 to 1000 (1 when it is not set), for slow machines; 0 when it holds anything
// else, which the test program refuses at its start.
int deadline_factor();
// A deadline for failure messages: "60000 ms", or "60000 ms (deadline factor 3)".
std::string deadline_text(uint32_t timeout_ms);

// The folder with dbg32.exe, disasm.dll and targets\, two levels above this test program
// (the win32 build folder, or the unpacked tests zip).
std::string win32_dir();
std::string target_path(const std::string &name); // WIN32_DIR\targets\NAME.exe
// A path in quotes, as a program's path must be in a command line that dbg32 launches: the
// tests' folder may have spaces in its name.
std::string quoted_path(const std::string &path);
// A new empty folder of its own in the temporary folder, removed when the test is over.
std::string make_temp_dir();
// Removes the folders that make_temp_dir made; returns those that are still there.
std::vector<std::string> remove_temp_dirs();
// Whether this runs under Wine rather than on Windows.
bool under_wine();

// The address of a symbol of a test debuggee, from the list built beside it.
uint32_t target_symbol(const std::string &target, const std::string &symbol);
// `count` bytes of a test debuggee's image at a virtual address, read from its file.
std::vector<uint8_t> target_image_bytes(const std::string &target, uint32_t address,
                                        uint32_t count);

// A whole file's bytes; empty when it cannot be read.
std::string read_file(const std::string &path);

// Bytes as text, and the console's CR LF line ends.
std::string crlf(const std::string &text);

// How a program ended, or that it outlived its deadline, and everything it wrote meanwhile.
// Printed in failure messages with how long it was waited for.
struct run_result {
    bool exited = false;
    int exit_code = -1;
    std::string output;
    uint32_t waited_ms = 0;
    uint32_t timeout_ms = 0; // before the factor
};
std::ostream &operator<<(std::ostream &out, const run_result &run);

// Runs a program to its end with standard input from `input`; a run that outlives
// `timeout_ms` is ended and reported as not exited.
run_result run_program(const std::vector<std::string> &arguments, const std::string &input,
                       uint32_t timeout_ms, const std::string &directory = "");

// How a session's program gets its console. HIDDEN is what schedulers and CI runners give:
// a console that has no window, which nobody can type into. NEW_CONSOLE is one that a person
// sees (Windows only: under Wine a piped program has no console).
enum console_kind { HIDDEN, NEW_CONSOLE };

class session {
  public:
    // Starts `program` (default: the built dbg32.exe; "-": the first argument) with the
    // arguments, in a job object of its own: whatever it started ends with the session.
    // Its standard error is this program's.
    explicit session(const std::vector<std::string> &arguments, const std::string &program = "",
                     const std::string &directory = "", console_kind console = HIDDEN);
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // Output up to the next prompt, the prompt itself consumed. Fails the test on timeout or
    // when the output ends, with the exit status in the message.
    std::string read_to_prompt(uint32_t timeout_ms = 20000);
    // Sends one line (a newline is added) and returns the output up to the next prompt.
    std::string command(const std::string &line, uint32_t timeout_ms = 20000);
    // Sends raw bytes as they are. Fails the test, and closes the input, when the program
    // has not taken them by the deadline.
    void send_raw(const std::string &bytes, uint32_t timeout_ms = 20000);
    // Sends empty lines until the report contains `text`; returns that report, or ""
    // when the deadline passes, which fails the test.
    std::string poll_until(const std::string &text, uint32_t timeout_ms = 20000);
    // Closes standard input.
    void close_input();
    // Waits for the program's end; what arrives meanwhile is in the result's output, also
    // when the deadline passes first.
    run_result wait_exit(uint32_t timeout_ms);
    // Live processes of this session whose program's file name contains `name`.
    int count_processes(const std::string &name) const;
    uint32_t pid() const { return pid_; }

  private:
    // The exit status, or that it still runs, for failure messages.
    std::string describe_state();
    bool read_more(uint32_t timeout_ms);
    bool reap();
    void *job_ = nullptr;
    void *process_ = nullptr;
    void *in_ = nullptr;
    void *out_ = nullptr;
    uint32_t pid_ = 0;
    bool ended_ = false;
    int exit_code_ = -1;
    std::string pending_;
    std::string tail_; // the last output read, for failure messages
};
