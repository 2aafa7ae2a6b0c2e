// Captures what the system writes to standard output, and feeds its standard input.
#pragma once

#include <string>

// Everything written to stdout between the start and the end, as raw bytes.
void capture_start();
std::string capture_end();

// Replaces stdin with the given bytes (the loop reads the console from stdin).
void feed_stdin(const std::string &bytes);
