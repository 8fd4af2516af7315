// How a fuzz target reports a broken invariant: a message on stderr, then abort(), which
// libFuzzer records as a crash with the input that caused it.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] __attribute__((format(printf, 2, 3))) inline void violated(const char *target,
                                                                        const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::fprintf(stderr, "%s invariant violated: ", target);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    std::abort();
}

} // namespace fuzz
