#include "tests/unit/support/capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

static int saved_stdout = -1;
static FILE *capture_file = nullptr;

void capture_start() {
    fflush(stdout);
    capture_file = tmpfile();
    saved_stdout = dup(fileno(stdout));
    dup2(fileno(capture_file), fileno(stdout));
}

std::string capture_end() {
    fflush(stdout);
    dup2(saved_stdout, fileno(stdout));
    close(saved_stdout);
    std::string text;
    rewind(capture_file);
    int c;
    while ((c = fgetc(capture_file)) != EOF)
        text.push_back(static_cast<char>(c));
    fclose(capture_file);
    capture_file = nullptr;
    return text;
}

void feed_stdin(const std::string &bytes) {
    // freopen gives stdin a fresh stream: nothing buffered from earlier input survives.
    char path[] = "/tmp/dbg32-stdin-XXXXXX";
    int file = mkstemp(path);
    if (file < 0 || write(file, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        abort();
    close(file);
    if (freopen(path, "rb", stdin) == nullptr)
        abort();
    unlink(path);
}
