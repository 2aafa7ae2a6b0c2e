#include "tests/e2e/session.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using clock_type = std::chrono::steady_clock;

int64_t remaining_ms(clock_type::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    return left.count() > 0 ? left.count() : 0;
}

std::string new_token() {
    static std::atomic<int> counter{0};
    return std::to_string(getpid()) + "-" + std::to_string(counter++);
}

// Keeps the last this many bytes of a program's standard error: enough to diagnose it.
constexpr size_t errors_kept = 64 * 1024;

// Says why the child could not go on, on its standard error (the harness reads it), and ends.
[[noreturn]] void child_failed(const char *what, const std::string &name) {
    std::string message = std::string(what) + " " + name + ": " + std::strerror(errno) + "\n";
    ssize_t ignored = write(2, message.data(), message.size());
    (void)ignored;
    _exit(127);
}

// Starts `arguments` under wine with stdin, stdout and stderr on three pipes.
pid_t spawn_wine(const std::vector<std::string> &arguments, const std::string &directory,
                 const std::string &token, int *in, int *out, int *err) {
    int to_child[2], from_child[2], errors_from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0 || pipe(errors_from_child) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        dup2(errors_from_child[1], 2);
        close(to_child[1]);
        close(from_child[0]);
        close(errors_from_child[0]);
        setenv("WINEPREFIX", wine_prefix().c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("DBG32_E2E_TOKEN", token.c_str(), 1);
        if (!directory.empty() && chdir(directory.c_str()) != 0)
            child_failed("cannot enter", directory);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>("wine"));
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        execvp("wine", argv.data());
        child_failed("cannot start", "wine");
    }
    close(to_child[0]);
    close(from_child[1]);
    close(errors_from_child[1]);
    *in = to_child[1];
    *out = from_child[0];
    *err = errors_from_child[0];
    return pid;
}

} // namespace

std::string read_file(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string win32_dir() {
    return DBG32_E2E_WIN32_DIR;
}
std::string wine_prefix() {
    // ctest runs each test once per prefix and names the prefix for it.
    const char *chosen = getenv("DBG32_E2E_WINEPREFIX");
    return chosen != nullptr && *chosen != '\0' ? chosen : DBG32_E2E_DEFAULT_WINEPREFIX;
}
std::string target_path(const std::string &name) {
    return win32_dir() + "/targets/" + name + ".exe";
}

uint32_t target_symbol(const std::string &target, const std::string &symbol) {
    std::istringstream lines(read_file(win32_dir() + "/targets/" + target + ".sym"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name && (name == symbol || name == "_" + symbol))
            return static_cast<uint32_t>(std::stoul(address, nullptr, 16));
    }
    ADD_FAILURE() << "no symbol " << symbol << " in " << target;
    return 0;
}

std::vector<uint8_t> target_image_bytes(const std::string &target, uint32_t address,
                                        uint32_t count) {
    std::string image = read_file(target_path(target));
    auto u16 = [&](size_t at) {
        return uint32_t(uint8_t(image[at])) | uint32_t(uint8_t(image[at + 1])) << 8;
    };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    uint32_t header = u32(0x3C);
    uint32_t sections = u16(header + 6);
    uint32_t optional_size = u16(header + 20);
    uint32_t image_base = u32(header + 24 + 28);
    uint32_t table = header + 24 + optional_size;
    for (uint32_t i = 0; i < sections; i++) {
        uint32_t entry = table + i * 40;
        uint32_t virtual_address = image_base + u32(entry + 12);
        uint32_t raw_size = u32(entry + 16);
        uint32_t raw_offset = u32(entry + 20);
        if (address >= virtual_address && address + count <= virtual_address + raw_size) {
            uint32_t at = raw_offset + (address - virtual_address);
            return std::vector<uint8_t>(image.begin() + at, image.begin() + at + count);
        }
    }
    ADD_FAILURE() << "address " << std::hex << address << " is not in " << target;
    return {};
}

std::string crlf(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

run_result run_wine(const std::vector<std::string> &arguments, const std::string &input,
                    uint32_t timeout_ms, const std::string &directory) {
    std::vector<std::string> program = arguments;
    session run(program, "-", directory);
    run.send_raw(input);
    run.close_input();
    run_result result;
    result.exit_code = run.wait_exit(timeout_ms, &result.output);
    result.exited = result.exit_code >= 0;
    result.errors = run.errors();
    return result;
}

session::session(const std::vector<std::string> &arguments, const std::string &program,
                 const std::string &directory)
    : token_(new_token()) {
    std::vector<std::string> full;
    if (program != "-")
        full.push_back(program.empty() ? win32_dir() + "/dbg32.exe" : program);
    full.insert(full.end(), arguments.begin(), arguments.end());
    pid_ =
        spawn_wine(full, directory.empty() ? win32_dir() : directory, token_, &in_, &out_, &err_);
    if (pid_ < 0)
        ADD_FAILURE() << "could not start wine";
    signal(SIGPIPE, SIG_IGN);
}

session::~session() {
    if (in_ >= 0)
        close(in_);
    if (!ended_ && pid_ > 0) {
        // Give it a moment to end by itself, then end it: only our own child, by pid.
        if (wait_exit(3000) < 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (out_ >= 0)
        close(out_);
    if (err_ >= 0)
        close(err_);
}

// Waits up to `timeout_ms` for output; standard error is read on the way, so that a program
// that writes much there never blocks. False on timeout and at the end of the output.
bool session::read_more(uint32_t timeout_ms) {
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    do {
        struct pollfd ready[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(ready, 2, static_cast<int>(remaining_ms(deadline))) <= 0)
            return false;
        if (ready[1].revents != 0)
            read_errors();
        if (ready[0].revents != 0) {
            char chunk[4096];
            ssize_t count = read(out_, chunk, sizeof chunk);
            if (count <= 0)
                return false;
            pending_.append(chunk, static_cast<size_t>(count));
            return true;
        }
    } while (remaining_ms(deadline) > 0);
    return false;
}

// Reads one chunk of standard error; at its end the pipe is closed, so that poll ignores it.
bool session::read_errors() {
    char chunk[4096];
    ssize_t count = read(err_, chunk, sizeof chunk);
    if (count <= 0) {
        close(err_);
        err_ = -1;
        return false;
    }
    errors_.append(chunk, static_cast<size_t>(count));
    if (errors_.size() > errors_kept)
        errors_.erase(0, errors_.size() - errors_kept);
    return true;
}

// Takes in what is waiting on standard error now, without waiting for more.
void session::drain_errors() {
    for (;;) {
        struct pollfd ready = {err_, POLLIN, 0};
        if (err_ < 0 || poll(&ready, 1, 0) <= 0 || !read_errors())
            return;
    }
}

// Collects the exit status if the program has ended; true when it has.
bool session::reap() {
    if (ended_)
        return true;
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    ended_ = true;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

const std::string &session::errors() {
    drain_errors();
    return errors_;
}

std::string session::describe_state() {
    // Output that has just ended usually means the program is ending: give it a moment.
    auto deadline = clock_type::now() + std::chrono::milliseconds(500);
    bool ended = reap();
    while (!ended && remaining_ms(deadline) > 0) {
        usleep(20 * 1000);
        ended = reap();
    }
    std::string text = "Wine's standard error: " + testing::PrintToString(errors());
    if (ended)
        return text + "; exit status " + std::to_string(exit_code_);
    return text + "; still running";
}

std::string session::read_to_prompt(uint32_t timeout_ms) {
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        size_t prompt = pending_.find('>');
        if (prompt != std::string::npos) {
            std::string before = pending_.substr(0, prompt);
            pending_.erase(0, prompt + 1);
            return before;
        }
        if (!read_more(static_cast<uint32_t>(remaining_ms(deadline)))) {
            std::string why = remaining_ms(deadline) > 0
                                  ? ": the output ended"
                                  : " within " + std::to_string(timeout_ms) + " ms";
            ADD_FAILURE() << "no prompt" << why
                          << "; output so far: " << testing::PrintToString(pending_) << "; "
                          << describe_state();
            std::string partial = pending_;
            pending_.clear();
            return partial;
        }
    }
}

void session::send_raw(const std::string &bytes) {
    if (in_ < 0 || bytes.empty())
        return;
    ssize_t written = write(in_, bytes.data(), bytes.size());
    if (written != static_cast<ssize_t>(bytes.size()))
        ADD_FAILURE() << "could not write to the debugger's input";
}

std::string session::command(const std::string &line, uint32_t timeout_ms) {
    send_raw(line + "\n");
    return read_to_prompt(timeout_ms);
}

std::string session::poll_until(const std::string &text, uint32_t timeout_ms) {
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (remaining_ms(deadline) > 0) {
        std::string report = command("");
        if (report.find(text) != std::string::npos)
            return report;
        usleep(50 * 1000);
    }
    return "";
}

void session::close_input() {
    if (in_ >= 0)
        close(in_);
    in_ = -1;
}

int session::wait_exit(uint32_t timeout_ms, std::string *rest) {
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (!ended_) {
        read_more(20);
        if (reap()) {
            while (read_more(50)) {
            }
        } else if (remaining_ms(deadline) == 0) {
            return -1;
        }
    }
    if (rest != nullptr) {
        *rest = pending_;
        pending_.clear();
    }
    return exit_code_;
}

int session::count_processes(const std::string &name) const {
    int count = 0;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return -1;
    std::string marker = "DBG32_E2E_TOKEN=" + token_;
    while (struct dirent *entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::string base = std::string("/proc/") + entry->d_name;
        std::string environment = read_file(base + "/environ");
        if (environment.find(marker + '\0') == std::string::npos)
            continue;
        // The program itself, not its arguments: dbg32.exe names its debuggee too.
        std::string command_line = read_file(base + "/cmdline");
        command_line = command_line.substr(0, command_line.find('\0'));
        std::string status = read_file(base + "/stat");
        bool zombie = status.find(") Z") != std::string::npos;
        if (!zombie && command_line.find(name) != std::string::npos)
            count++;
    }
    closedir(proc);
    return count;
}
