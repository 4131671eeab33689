#pragma once
// A broken property is a finding: print what broke and abort, so libFuzzer
// stops, reports the crash and keeps the input that caused it.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                   \
    do {                                                                              \
        if (!(condition)) {                                                           \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s (%s)\n", __FILE__,   \
                         __LINE__, what, #condition);                                 \
            std::abort();                                                             \
        }                                                                             \
    } while (0)
