// A model mismatch ends the run like a crash, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "model mismatch, %s:%d: %s\n  ", __FILE__, __LINE__, #condition);      \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)
