#include "numeric/allocation_hook.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<AllocationFailureHook> installed{nullptr};
}  // namespace

AllocationFailureHook set_allocation_failure_hook(AllocationFailureHook hook) {
  return installed.exchange(hook);
}

bool allocation_must_fail(size_t bytes) {
  const AllocationFailureHook hook = installed.load(std::memory_order_relaxed);
  return hook != nullptr && hook(bytes);
}

void* hooked_malloc(size_t bytes) {
  return allocation_must_fail(bytes) ? nullptr : std::malloc(bytes);
}

void* hooked_calloc(size_t count, size_t size) {
  return allocation_must_fail(count * size) ? nullptr : std::calloc(count, size);
}
