#pragma once

#include <cstdio>
#include <cstdlib>

// A broken promise of the code under test: report it and stop, so that
// libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                              \
            abort();                                                                                                   \
        }                                                                                                              \
    } while (0)
