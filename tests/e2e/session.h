// Drives dbg32.exe under Wine through pipes, for the end-to-end tests.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Where the Windows build and the private Wine prefix are (set by the build).
std::string win32_dir();
std::string wine_prefix();
std::string target_path(const std::string &name); // build/win32/targets/NAME.exe

// The address of a symbol of a test debuggee, from the list built beside it.
uint32_t target_symbol(const std::string &target, const std::string &symbol);
// `count` bytes of a test debuggee's image at a virtual address, read from its file.
std::vector<uint8_t> target_image_bytes(const std::string &target, uint32_t address,
                                        uint32_t count);

// A whole file's bytes; empty when it cannot be read.
std::string read_file(const std::string &path);

// Bytes as text, and the console's CR LF line ends.
std::string crlf(const std::string &text);

struct run_result {
    bool exited = false;
    int exit_code = -1;
    std::string output;
    std::string errors; // what Wine and the program wrote on standard error
};

// Runs a Windows program under Wine to its end with stdin from `input`; a run that
// outlives `timeout_ms` is killed and reported as not exited.
run_result run_wine(const std::vector<std::string> &arguments, const std::string &input,
                    uint32_t timeout_ms, const std::string &directory = "");

class session {
  public:
    // Starts `program` (default: the built dbg32.exe) with the arguments; each session has
    // a token in its environment that marks the processes it started.
    explicit session(const std::vector<std::string> &arguments, const std::string &program = "",
                     const std::string &directory = "");
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // Output up to the next prompt, the prompt itself consumed. Fails the test on timeout or
    // when the output ends, with Wine's standard error and the exit status in the message.
    std::string read_to_prompt(uint32_t timeout_ms = 20000);
    // Sends one line (a newline is added) and returns the output up to the next prompt.
    std::string command(const std::string &line, uint32_t timeout_ms = 20000);
    // Sends raw bytes as they are.
    void send_raw(const std::string &bytes);
    // Sends empty lines until the report contains `text`; returns that report, or ""
    // when the deadline passes.
    std::string poll_until(const std::string &text, uint32_t timeout_ms = 20000);
    // Closes standard input.
    void close_input();
    // Everything that arrives until the program ends; its exit code, or -1 on timeout.
    int wait_exit(uint32_t timeout_ms, std::string *rest = nullptr);
    // Live processes of this session whose command line contains `name`.
    int count_processes(const std::string &name) const;
    pid_t pid() const { return pid_; }
    // What arrived on standard error so far (kept apart from the output, which tests
    // compare byte for byte).
    const std::string &errors();

  private:
    // Standard error and the exit status (or that it still runs), for failure messages.
    std::string describe_state();
    bool read_more(uint32_t timeout_ms);
    bool read_errors();
    void drain_errors();
    bool reap();
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool ended_ = false;
    int exit_code_ = -1;
    std::string token_;
    std::string pending_;
    std::string errors_;
};
