// A hook through which a test makes the engine's allocations fail, to check that running out
// of memory at any point of a calculation ends it cleanly (the way SuiteSparse's own tests
// fail the k-th allocation). Without a hook, which is how the programs run, every allocation
// goes straight to the C library.
#ifndef QUILLANE_NUMERIC_ALLOCATION_HOOK_H
#define QUILLANE_NUMERIC_ALLOCATION_HOOK_H

#include <cstddef>

// Asked before an allocation of `bytes`; returns true when the allocation must fail. Called
// from any thread that allocates, so it must be thread-safe.
typedef bool (*AllocationFailureHook)(size_t bytes);

// Installs hook for every thread (null: none) and returns the previous one. Install it while
// no calculation runs.
AllocationFailureHook set_allocation_failure_hook(AllocationFailureHook hook);

// Whether the allocation of `bytes` about to be made must fail: the hook's answer, false
// without one. Every allocation of the numeric core and the engine that does not go through
// operator new or SuiteSparse asks this first (those two have hooks of their own that a test
// can set).
bool allocation_must_fail(size_t bytes);

// std::malloc and std::calloc that return null when allocation_must_fail(); release with
// std::free().
void* hooked_malloc(size_t bytes);
void* hooked_calloc(size_t count, size_t size);

#endif
