#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant a harness checks on every input: a broken one stops the run with the
// input kept by the fuzzer (and fails the corpus replay in the unit tests).
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)
