#include "failing_alloc.h"

#include <cstddef>

extern "C" void *__real_malloc(std::size_t);
extern "C" void *__real_calloc(std::size_t, std::size_t);

namespace {
int counter = 0;
int fail_first = -1;
int fail_count = 0;

bool should_fail() {
    const int call = counter++;
    return call >= fail_first && call < fail_first + fail_count;
}
} // namespace

extern "C" void *__wrap_malloc(std::size_t n) {
    return should_fail() ? nullptr : __real_malloc(n);
}
extern "C" void *__wrap_calloc(std::size_t n, std::size_t size) {
    return should_fail() ? nullptr : __real_calloc(n, size);
}

namespace failing_alloc {
void fail(int first, int count) {
    counter = 0;
    fail_first = first;
    fail_count = count;
}
void reset() {
    fail(-1, 0);
}
int calls() {
    return counter;
}
} // namespace failing_alloc
