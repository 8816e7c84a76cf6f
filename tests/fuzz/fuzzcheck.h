#pragma once
// A failed invariant in a fuzz target: say which, then abort so libFuzzer
// keeps the input that broke it.

#include <cstddef>
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fuzzFail(const char *target, const char *what)
{
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

[[noreturn]] inline void fuzzFailAt(const char *target, const char *what, std::size_t at)
{
    std::fprintf(stderr, "%s: %s (at %zu)\n", target, what, at);
    std::abort();
}

// FUZZ_TARGET names the target in the message; define it before including.
#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            fuzzFail(FUZZ_TARGET, #cond);                                                                    \
    } while (0)
// The same, naming the offset in the input where the invariant broke.
#define CHECK_AT(cond, at)                                                                                   \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            fuzzFailAt(FUZZ_TARGET, #cond, (at));                                                            \
    } while (0)
