#include "matting/large_pages.h"

#include <suitesparse/SuiteSparse_config.h>
#include <sys/mman.h>

#include <cstdint>
#include <mutex>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMinBytes = size_t(4) << 20;

// The functions wrapped: those installed before use_large_pages_in_suitesparse().
void* (*next_malloc)(size_t) = nullptr;
void* (*next_calloc)(size_t, size_t) = nullptr;
void* (*next_realloc)(void*, size_t) = nullptr;

void* large_malloc(size_t bytes) {
  return advise_large_pages(next_malloc(bytes), bytes);
}

void* large_calloc(size_t count, size_t size) {
  // SuiteSparse checks count * size for overflow before calling.
  return advise_large_pages(next_calloc(count, size), count * size);
}

void* large_realloc(void* ptr, size_t bytes) {
  return advise_large_pages(next_realloc(ptr, bytes), bytes);
}

}  // namespace

void* advise_large_pages(void* ptr, size_t bytes) {
  if (ptr == nullptr || bytes < kMinBytes) return ptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(ptr);
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (start + bytes) & ~(kHugePage - 1);
  // Only advice: a kernel without huge pages refuses it, and nothing else changes.
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  return ptr;
}

void use_large_pages_in_suitesparse() {
  static std::once_flag once;
  std::call_once(once, [] {
    next_malloc = SuiteSparse_config.malloc_func;
    next_calloc = SuiteSparse_config.calloc_func;
    next_realloc = SuiteSparse_config.realloc_func;
    if (next_malloc != nullptr) SuiteSparse_config.malloc_func = large_malloc;
    if (next_calloc != nullptr) SuiteSparse_config.calloc_func = large_calloc;
    if (next_realloc != nullptr) SuiteSparse_config.realloc_func = large_realloc;
  });
}
