#include "numeric/allocate.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <unordered_set>

#include "numeric/allocation_hook.h"

namespace {

// The blocks handed out on this thread while an AllocationScope is open.
struct ScopeState {
  bool open = false;
  std::unordered_set<void*> blocks;
};
thread_local ScopeState scope;

[[noreturn]] void die(const char* message) {
  if (scope.open) throw std::bad_alloc();
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(-1);
}

// Remembers a fresh block in the open scope; a block that cannot be remembered is released
// again, so that the failure leaks nothing.
void* track(void* block, const char* message) {
  if (block == nullptr) die(message);
  if (scope.open) {
    try {
      scope.blocks.insert(block);
    } catch (...) {
      std::free(block);
      throw;
    }
  }
  return block;
}

void release(void* block) {
  if (block == nullptr) return;
  if (scope.open) scope.blocks.erase(block);
  std::free(block);
}

// count * size in bytes, or SIZE_MAX when the product cannot be represented; an
// unrepresentable request then fails in the allocator like any other impossible one.
size_t byte_count(long long count, size_t size) {
  if (count < 0) return SIZE_MAX;
  if (size != 0 && static_cast<unsigned long long>(count) > SIZE_MAX / size) return SIZE_MAX;
  return static_cast<size_t>(count) * size;
}

// Element count of a rows x cols array; must stay below 2^31 as the arrays are indexed
// with 32-bit ints everywhere.
long long element_count(int cols, int rows) {
  long long n = static_cast<long long>(cols) * rows;
  return n < 0 || n > INT32_MAX ? -1 : n;
}

void** link_rows(void** table, char* data, int cols, int rows, size_t size) {
  for (int r = 0; r < rows; ++r) table[r] = data + static_cast<size_t>(r) * cols * size;
  return table;
}

}  // namespace

void* get_spc(int count, size_t size) {
  size_t bytes = byte_count(count, size);
  return track(bytes == SIZE_MAX ? nullptr : hooked_calloc(bytes ? bytes : 1, 1),
               "==> calloc() error\n");
}

void* mget_spc(int count, size_t size) {
  size_t bytes = byte_count(count, size);
  return track(bytes == SIZE_MAX ? nullptr : hooked_malloc(bytes ? bytes : 1),
               "==> malloc() error\n");
}

void free_spc(void* block) {
  release(block);
}

AllocationScope::AllocationScope() : exceptions_(std::uncaught_exceptions()) {
  scope.open = true;
}

AllocationScope::~AllocationScope() {
  if (std::uncaught_exceptions() > exceptions_)
    for (void* block : scope.blocks) std::free(block);
  scope.blocks.clear();
  scope.open = false;
}

bool in_allocation_scope() {
  return scope.open;
}

void** get_img(int cols, int rows, size_t size) {
  long long n = element_count(cols, rows);
  if (n < 0 || rows < 0) die("==> malloc() error\n");
  void** table = static_cast<void**>(mget_spc(rows, sizeof(void*)));
  size_t bytes = byte_count(n, size);
  char* data = static_cast<char*>(track(
      bytes == SIZE_MAX ? nullptr : hooked_malloc(bytes ? bytes : 1), "==> malloc() error\n"));
  return link_rows(table, data, cols, rows, size);
}

void** get_init_arr(int cols, int rows, size_t size) {
  long long n = element_count(cols, rows);
  if (n < 0 || rows < 0) die("==> calloc() error\n");
  void** table = static_cast<void**>(get_spc(rows, sizeof(void*)));
  size_t bytes = byte_count(n, size);
  char* data = static_cast<char*>(track(
      bytes == SIZE_MAX ? nullptr : hooked_calloc(bytes ? bytes : 1, 1), "==> calloc() error\n"));
  return link_rows(table, data, cols, rows, size);
}

void free_img(void** array) {
  release(array[0]);
  release(array);
}

void* multialloc_init(size_t s, int d, ...) {
  if (d < 1) die("==> calloc() error\n");
  int* extent = static_cast<int*>(mget_spc(d, sizeof(int)));
  va_list ap;
  va_start(ap, d);
  for (int i = 0; i < d; ++i) extent[i] = va_arg(ap, int);
  va_end(ap);

  if (d == 1) {
    void* block = get_spc(extent[0], s);
    release(extent);
    return block;
  }

  // Pointer levels from the top down, the data block last. Level k holds N1*...*Nk
  // entries; entry j of a level points at entry j * N(k+1) of the next allocation.
  // Every pointer level has room for entry 0, so that multifree() can always follow it.
  long long count = extent[0];
  if (count < 0) die("==> calloc() error\n");
  void** level =
      static_cast<void**>(get_spc(count > 0 ? static_cast<int>(count) : 1, sizeof(void*)));
  void* top = level;
  for (int k = 1; k < d; ++k) {
    bool data = k == d - 1;
    long long next = count * extent[k];
    if (extent[k] < 0 || next > INT32_MAX) die("==> calloc() error\n");
    size_t element = data ? s : sizeof(void*);
    int allocated = static_cast<int>(next > 0 || data ? next : 1);
    char* block = static_cast<char*>(get_spc(allocated, element));
    level[0] = block;
    for (long long j = 1; j < count; ++j)
      level[j] = block + static_cast<size_t>(j) * static_cast<size_t>(extent[k]) * element;
    level = reinterpret_cast<void**>(block);
    count = next;
  }
  release(extent);
  return top;
}

void multifree(void* array, int d) {
  void* p = array;
  for (int i = 0; i < d && p != nullptr; ++i) {
    void* next = i + 1 < d ? *static_cast<void**>(p) : nullptr;
    release(p);
    p = next;
  }
}
