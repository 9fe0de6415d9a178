// operator new for a test program that makes allocations fail on purpose: every operator new of
// the program (the nothrow and array forms of the library call this one) asks the program's own
// refuse_allocation() first and throws std::bad_alloc when it says so.
#ifndef QUILLANE_TESTS_REFUSING_NEW_H
#define QUILLANE_TESTS_REFUSING_NEW_H

#include <cstddef>

// Defined by the test program: whether an allocation of `bytes` is to fail. Called from every
// thread, also before main().
bool refuse_allocation(size_t bytes);

#endif
