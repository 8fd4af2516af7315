// Makes malloc/calloc calls fail on demand, for code linked into a test executable built with
// add_failing_alloc(<target>) (the linker routes those calls through this file).
#pragma once

namespace failing_alloc {

// Counting from the next call, calls first..first+count-1 return null; others succeed.
void fail(int first, int count = 1);
// Back to normal; the call counter restarts at 0.
void reset();
// malloc/calloc calls since the last fail() or reset().
int calls();

// Restores normal allocation when it leaves scope.
struct Scope {
    Scope(int first, int count = 1) { fail(first, count); }
    ~Scope() { reset(); }
};

} // namespace failing_alloc
