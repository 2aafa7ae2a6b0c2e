#include "tests/e2e/session.h"

#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// Milliseconds left until `deadline` (a GetTickCount value), 0 once it has passed.
uint32_t remaining_ms(DWORD deadline) {
    LONG left = static_cast<LONG>(deadline - GetTickCount());
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

uint32_t scaled(uint32_t timeout_ms) {
    return timeout_ms * static_cast<uint32_t>(deadline_factor());
}

// One argument as the C run time splits command lines: quoted where it must be, with the
// backslashes before a quote doubled.
std::string quote_argument(const std::string &argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            backslashes++;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(backslashes * 2, '\\') + "\"";
}

// An anonymous pipe whose `child_end` (0 read, 1 write) the child inherits.
bool make_pipe(HANDLE ends[2], int child_end) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    return CreatePipe(&ends[0], &ends[1], &inheritable, 0) &&
           SetHandleInformation(ends[1 - child_end], HANDLE_FLAG_INHERIT, 0);
}

// The child's standard input: its end to read (ends[0], inherited) and ours to write
// (ends[1]). Anonymous pipes have no timed write, and a write larger than the pipe's quota
// waits for the reader. So this is a named pipe (what anonymous pipes are made of) whose end
// of ours does overlapped writes: those can be waited for with a deadline and cancelled.
bool make_input_pipe(HANDLE ends[2]) {
    static unsigned counter = 0;
    std::string name = "\\\\.\\pipe\\dbg32-e2e-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(counter++);
    ends[1] = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    ends[0] = CreateFileA(name.c_str(), GENERIC_READ, 0, &inheritable, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    return ends[0] != INVALID_HANDLE_VALUE && ends[1] != INVALID_HANDLE_VALUE;
}

std::vector<std::string> &temp_dirs() {
    static std::vector<std::string> made;
    return made;
}

// Removes a folder with everything in it; true when it is gone.
bool remove_tree(const std::string &folder) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry)) {
        std::string name = entry.cFileName, path = folder + "\\" + name;
        if (name == "." || name == "..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            remove_tree(path);
        else
            DeleteFileA(path.c_str());
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return RemoveDirectoryA(folder.c_str()) ||
           GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

} // namespace

int deadline_factor() {
    static const int factor = [] {
        const char *text = getenv("DBG32_DEADLINE_FACTOR");
        if (text == nullptr)
            return 1;
        char *end = nullptr;
        long value = strtol(text, &end, 10);
        bool whole = *text >= '0' && *text <= '9' && *end == '\0';
        return whole && value >= 1 && value <= 1000 ? static_cast<int>(value) : 0;
    }();
    return factor;
}

std::string deadline_text(uint32_t timeout_ms) {
    std::string text = std::to_string(scaled(timeout_ms)) + " ms";
    if (deadline_factor() != 1)
        text += " (deadline factor " + std::to_string(deadline_factor()) + ")";
    return text;
}

std::ostream &operator<<(std::ostream &out, const run_result &run) {
    if (run.exited)
        out << "exit code " << run.exit_code << " after " << run.waited_ms << " ms";
    else
        out << "still running after " << deadline_text(run.timeout_ms);
    return out << "; output: " << testing::PrintToString(run.output);
}

std::string read_file(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string win32_dir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length < MAX_PATH ? length : 0);
    std::string above = program.substr(0, program.find_last_of('\\')) + "\\..\\..";
    char full[MAX_PATH];
    length = GetFullPathNameA(above.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : above;
}

std::string target_path(const std::string &name) {
    return win32_dir() + "\\targets\\" + name + ".exe";
}

std::string quoted_path(const std::string &path) {
    return "\"" + path + "\"";
}

std::string make_temp_dir() {
    char base[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (int attempt = 0; length > 0 && length < MAX_PATH && attempt < 100; attempt++) {
        std::string folder = std::string(base) + "dbg32-e2e-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter++);
        if (CreateDirectoryA(folder.c_str(), nullptr)) {
            temp_dirs().push_back(folder);
            return folder;
        }
    }
    ADD_FAILURE() << "cannot make a temporary folder";
    return "";
}

std::vector<std::string> remove_temp_dirs() {
    // A process that has just ended may still hold a file in one for a moment.
    std::vector<std::string> &left = temp_dirs();
    DWORD deadline = GetTickCount() + scaled(5000);
    for (;;) {
        left.erase(std::remove_if(left.begin(), left.end(), remove_tree), left.end());
        if (left.empty() || remaining_ms(deadline) == 0)
            return left;
        Sleep(100);
    }
}

bool under_wine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

uint32_t target_symbol(const std::string &target, const std::string &symbol) {
    std::istringstream lines(read_file(win32_dir() + "\\targets\\" + target + ".sym"));
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
    bool cut_short = false;
    // A little-endian field of the file; past its end: 0, and the image is cut short.
    auto field = [&](uint64_t at, int size) {
        uint32_t value = 0;
        if (at + size > image.size())
            cut_short = true;
        else
            for (int i = size - 1; i >= 0; i--)
                value = value << 8 | uint8_t(image[at + i]);
        return value;
    };
    uint64_t header = field(0x3C, 4);
    uint32_t sections = field(header + 6, 2);
    uint64_t table = header + 24 + field(header + 20, 2);
    uint64_t image_base = field(header + 24 + 28, 4);
    uint64_t first = address, end = first + count;
    for (uint32_t i = 0; i < sections && !cut_short; i++) {
        uint64_t entry = table + i * 40;
        uint64_t start = image_base + field(entry + 12, 4);
        uint64_t raw_size = field(entry + 16, 4);
        uint64_t raw_offset = field(entry + 20, 4);
        if (cut_short || first < start || end > start + raw_size)
            continue; // (its fields may have run past the file's end)
        uint64_t at = raw_offset + (first - start);
        if (at + count <= image.size())
            return std::vector<uint8_t>(image.begin() + at, image.begin() + at + count);
        cut_short = true; // the section's bytes run past the file's end
    }
    if (cut_short)
        ADD_FAILURE() << "the image of " << target << " is cut short (" << image.size()
                      << " bytes) before address " << std::hex << address;
    else
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

run_result run_program(const std::vector<std::string> &arguments, const std::string &input,
                       uint32_t timeout_ms, const std::string &directory) {
    session run(arguments, "-", directory);
    run.send_raw(input);
    run.close_input();
    return run.wait_exit(timeout_ms);
}

session::session(const std::vector<std::string> &arguments, const std::string &program,
                 const std::string &directory, console_kind console) {
    std::string command_line;
    if (program != "-")
        command_line = quote_argument(program.empty() ? win32_dir() + "\\dbg32.exe" : program);
    for (const std::string &argument : arguments) {
        if (!command_line.empty())
            command_line += ' ';
        command_line += quote_argument(argument);
    }
    // Everything the program starts ends with the job, when the session closes it.
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    HANDLE input[2] = {}, output[2] = {}, errors = nullptr;
    HANDLE self = GetCurrentProcess();
    if (job_ == nullptr ||
        !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !make_input_pipe(input) || !make_pipe(output, 1) ||
        !DuplicateHandle(self, GetStdHandle(STD_ERROR_HANDLE), self, &errors, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        ADD_FAILURE() << "cannot set up a session: error " << GetLastError();
        return;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input[0];
    startup.hStdOutput = output[1];
    startup.hStdError = errors;
    PROCESS_INFORMATION started = {};
    DWORD flags = CREATE_SUSPENDED | (console == HIDDEN ? CREATE_NO_WINDOW : CREATE_NEW_CONSOLE);
    std::string folder = directory.empty() ? win32_dir() : directory;
    if (CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, TRUE, flags, nullptr,
                       folder.c_str(), &startup, &started)) {
        process_ = started.hProcess;
        pid_ = started.dwProcessId;
        if (!AssignProcessToJobObject(job_, process_))
            ADD_FAILURE() << "cannot put the program in a job: error " << GetLastError();
        ResumeThread(started.hThread);
        CloseHandle(started.hThread);
    } else {
        ADD_FAILURE() << "cannot start " << command_line << ": error " << GetLastError();
        ended_ = true;
    }
    CloseHandle(input[0]);
    CloseHandle(output[1]);
    CloseHandle(errors);
    in_ = input[1];
    out_ = output[0];
}

session::~session() {
    close_input();
    // Give it a moment to end by itself; closing the job ends whatever is left.
    if (process_ != nullptr && !ended_)
        wait_exit(3000);
    for (HANDLE handle : {job_, process_, out_})
        if (handle != nullptr)
            CloseHandle(handle);
}

// Waits up to `timeout_ms` for output. False on timeout and at the end of the output.
// Anonymous pipes have no timed read: a read starts only once bytes are there.
bool session::read_more(uint32_t timeout_ms) {
    DWORD deadline = GetTickCount() + timeout_ms;
    for (;;) {
        DWORD ready = 0;
        if (out_ == nullptr || !PeekNamedPipe(out_, nullptr, 0, nullptr, &ready, nullptr))
            return false;
        if (ready > 0) {
            char chunk[4096];
            DWORD count = 0;
            if (!ReadFile(out_, chunk, ready < sizeof chunk ? ready : sizeof chunk, &count,
                          nullptr) ||
                count == 0)
                return false;
            pending_.append(chunk, count);
            tail_.append(chunk, count);
            if (tail_.size() > 2000)
                tail_.erase(0, tail_.size() - 1000);
            return true;
        }
        if (remaining_ms(deadline) == 0)
            return false;
        Sleep(1);
    }
}

// Collects the exit status if the program has ended; true when it has.
bool session::reap() {
    if (ended_)
        return true;
    DWORD code = 0;
    if (process_ == nullptr || WaitForSingleObject(process_, 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_, &code))
        return false;
    ended_ = true;
    exit_code_ = static_cast<int>(code);
    return true;
}

std::string session::describe_state() {
    // Output that has just ended usually means the program is ending: give it a moment.
    DWORD deadline = GetTickCount() + scaled(500);
    bool ended = reap();
    while (!ended && remaining_ms(deadline) > 0) {
        Sleep(20);
        ended = reap();
    }
    return ended ? "exit status " + std::to_string(exit_code_) : "still running";
}

std::string session::read_to_prompt(uint32_t timeout_ms) {
    DWORD start = GetTickCount(), deadline = start + scaled(timeout_ms);
    for (;;) {
        size_t prompt = pending_.find('>');
        if (prompt != std::string::npos) {
            std::string before = pending_.substr(0, prompt);
            pending_.erase(0, prompt + 1);
            return before;
        }
        if (!read_more(remaining_ms(deadline))) {
            std::string why =
                remaining_ms(deadline) > 0
                    ? ": the output ended after " + std::to_string(GetTickCount() - start) + " ms"
                    : " within " + deadline_text(timeout_ms);
            ADD_FAILURE() << "no prompt" << why
                          << "; output so far: " << testing::PrintToString(pending_) << "; "
                          << describe_state();
            std::string partial = pending_;
            pending_.clear();
            return partial;
        }
    }
}

void session::send_raw(const std::string &bytes, uint32_t timeout_ms) {
    if (in_ == nullptr || bytes.empty())
        return;
    OVERLAPPED write = {};
    write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD size = static_cast<DWORD>(bytes.size()), written = 0;
    bool started =
        write.hEvent != nullptr &&
        (WriteFile(in_, bytes.data(), size, nullptr, &write) || GetLastError() == ERROR_IO_PENDING);
    bool late = started && WaitForSingleObject(write.hEvent, scaled(timeout_ms)) != WAIT_OBJECT_0;
    if (late)
        CancelIo(in_);
    // Cancelled or not, the write must be over before its bytes and OVERLAPPED go.
    bool sent = started && GetOverlappedResult(in_, &write, &written, TRUE) && written == size;
    DWORD error = GetLastError();
    if (write.hEvent != nullptr)
        CloseHandle(write.hEvent);
    if (sent)
        return;
    ADD_FAILURE() << (late ? "the program took no input within " + deadline_text(timeout_ms)
                           : "could not write to the program's input: error " +
                                 std::to_string(error))
                  << "; its last output: " << testing::PrintToString(tail_) << "; "
                  << describe_state();
    close_input(); // out of step now: later writes would only wait again
}

std::string session::command(const std::string &line, uint32_t timeout_ms) {
    send_raw(line + "\n", timeout_ms);
    return read_to_prompt(timeout_ms);
}

std::string session::poll_until(const std::string &text, uint32_t timeout_ms) {
    DWORD start = GetTickCount(), deadline = start + scaled(timeout_ms);
    std::string report;
    while (remaining_ms(deadline) > 0 && !ended_) {
        report = command("");
        if (report.find(text) != std::string::npos)
            return report;
        Sleep(50);
    }
    ADD_FAILURE() << "no report with " << testing::PrintToString(text) << " after "
                  << GetTickCount() - start << " ms of " << deadline_text(timeout_ms)
                  << "; the last one: " << testing::PrintToString(report) << "; "
                  << describe_state();
    return "";
}

void session::close_input() {
    if (in_ != nullptr)
        CloseHandle(in_);
    in_ = nullptr;
}

run_result session::wait_exit(uint32_t timeout_ms) {
    DWORD start = GetTickCount(), deadline = start + scaled(timeout_ms);
    while (!reap() && remaining_ms(deadline) > 0)
        read_more(20);
    while (ended_ && read_more(50)) {
    }
    run_result result;
    result.exited = ended_;
    result.exit_code = ended_ ? exit_code_ : -1;
    result.output.swap(pending_);
    result.waited_ms = GetTickCount() - start;
    result.timeout_ms = timeout_ms;
    return result;
}

int session::count_processes(const std::string &name) const {
    // The job's live processes, named from a snapshot of the system's. The list's array is
    // declared with one element: it is read through a pointer into a buffer of our own.
    ULONG_PTR buffer[2 + 256] = {};
    auto *list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST *>(buffer);
    list->NumberOfAssignedProcesses = 256;
    if (!QueryInformationJobObject(job_, JobObjectBasicProcessIdList, buffer, sizeof buffer,
                                   nullptr))
        return -1;
    const ULONG_PTR *ids = reinterpret_cast<const ULONG_PTR *>(
        reinterpret_cast<const char *>(buffer) +
        offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList));
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        for (DWORD i = 0; i < list->NumberOfProcessIdsInList && i < 256; i++)
            if (ids[i] == entry.th32ProcessID &&
                std::string(entry.szExeFile).find(name) != std::string::npos)
                count++;
    }
    CloseHandle(snapshot);
    return count;
}
