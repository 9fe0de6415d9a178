// Allocators that end the process when memory runs out, and row-pointer arrays.
//
// A 2-D array is a row table over one contiguous data block: exactly two allocations,
// row 0 pointing at the start of the data block. Elements are addressed [row][column],
// which in every image array of the program is [y][x].
//
// Inside a calculation (an AllocationScope open on the thread) running out of memory must not
// end the program: the editor would lose the user's strokes. There the allocators throw
// std::bad_alloc instead, and the scope releases what the calculation had not yet released.
#ifndef QUILLANE_NUMERIC_ALLOCATE_H
#define QUILLANE_NUMERIC_ALLOCATE_H

#include <cstddef>

// Zero-filled block of count * size bytes. Never returns null: on failure prints
// "==> calloc() error" to stderr and exits with status -1 (throws std::bad_alloc inside an
// AllocationScope). Release with free_spc() (free() where no scope is ever open).
void* get_spc(int count, size_t size);

// Uninitialised block of count * size bytes; on failure "==> malloc() error", exit -1 (or
// std::bad_alloc inside a scope). Release with free_spc().
void* mget_spc(int count, size_t size);

// Releases a block from get_spc()/mget_spc(); null frees nothing.
void free_spc(void* block);

// While an object of this class lives on a thread, the allocators of this file throw
// std::bad_alloc on that thread instead of ending the process, and remember every block they
// hand out until it is released through this file. If the scope is left by an exception, the
// blocks still remembered are released: a calculation that fails or is cancelled half-way
// leaves nothing behind. Left normally, the scope releases nothing. Scopes do not nest.
class AllocationScope {
 public:
  AllocationScope();
  ~AllocationScope();
  AllocationScope(const AllocationScope&) = delete;
  AllocationScope& operator=(const AllocationScope&) = delete;

 private:
  int exceptions_;  // exceptions in flight when the scope opened
};

// True while an AllocationScope is open on the calling thread.
bool in_allocation_scope();

// Uninitialised 2-D array of rows x cols elements of size bytes (note: columns first).
// rows * cols must stay below 2^31; a larger request fails like an exhausted allocation.
// Owned by the caller, released with free_img().
void** get_img(int cols, int rows, size_t size);

// As get_img(), but the row table and the data block are zero-filled first.
void** get_init_arr(int cols, int rows, size_t size);

// Releases a 2-D array from get_img()/get_init_arr(): the data block through row 0,
// then the row table. Does not accept null.
void free_img(void** array);

// Zero-filled d-dimensional array of element size s with extents N1..Nd (variadic ints).
// d = 1 gives one plain block; d >= 2 gives d allocations, entry 0 of every pointer level
// pointing at the start of the next. Owned by the caller, released with multifree(, d).
void* multialloc_init(size_t s, int d, ...);

// Releases the d allocations of an n-D array from multialloc_init(). Null frees nothing.
void multifree(void* array, int d);

// Typed views of the untyped allocators, for readability at call sites.
template <typename T>
inline T** get_img_t(int cols, int rows) {
  return reinterpret_cast<T**>(get_img(cols, rows, sizeof(T)));
}
template <typename T>
inline T** get_init_arr_t(int cols, int rows) {
  return reinterpret_cast<T**>(get_init_arr(cols, rows, sizeof(T)));
}
template <typename T>
inline void free_img_t(T** array) {
  free_img(reinterpret_cast<void**>(array));
}

#endif
