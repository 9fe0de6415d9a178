#include "numeric/allocation_hook.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<AllocationFailureHook> installed{nullptr};
}  // namespace

AllocationFailureHook set_allocation_failure_hook(AllocationFailureHook hook) {
  return installed.exchange(hook);
}

bool allocation_must_fail() {
  const AllocationFailureHook hook = installed.load(std::memory_order_relaxed);
  return hook != nullptr && hook();
}

void* hooked_malloc(size_t bytes) {
  return allocation_must_fail() ? nullptr : std::malloc(bytes);
}

void* hooked_calloc(size_t count, size_t size) {
  return allocation_must_fail() ? nullptr : std::calloc(count, size);
}
