#pragma once

// A tiny harness for the Win32 backend tests, which are built with mingw-w64 and run under Wine
// without Qt. Every failed CHECK prints its place and makes the run fail.

#include <cstdio>

inline int g_checks = 0;
inline int g_failures = 0;

#define CHECK(expr)                                                                                \
    do {                                                                                           \
        ++g_checks;                                                                                \
        if (!(expr)) {                                                                             \
            ++g_failures;                                                                          \
            std::printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #expr);                            \
        }                                                                                          \
    } while (0)

#define RUN(test)                                                                                  \
    do {                                                                                           \
        const int before = g_failures;                                                             \
        test();                                                                                    \
        std::printf("%s %s\n", g_failures == before ? "PASS" : "FAIL", #test);                     \
    } while (0)

inline int finish() {
    std::printf("%d checks, %d failed\n", g_checks, g_failures);
    std::fflush(stdout);
    return g_failures == 0 ? 0 : 1;
}
