#pragma once
// A failed invariant in a fuzz target: say which, then abort so libFuzzer
// keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fuzzFail(const char *target, const char *what)
{
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

// FUZZ_TARGET names the target in the message; define it before including.
#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            fuzzFail(FUZZ_TARGET, #cond);                                                                    \
    } while (0)
