// Blocks of 4 MiB and more are advised huge pages, smaller ones are not; SuiteSparse's large
// blocks are advised, and the allocation functions installed before still allocate them.
#include <gtest/gtest.h>
#include <suitesparse/SuiteSparse_config.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "matting/large_pages.h"

namespace {

int calls = 0;  // of the functions below
void* counted_malloc(size_t bytes) {
  ++calls;
  return std::malloc(bytes);
}
void* counted_calloc(size_t count, size_t size) {
  ++calls;
  return std::calloc(count, size);
}
void* counted_realloc(void* ptr, size_t bytes) {
  ++calls;
  return std::realloc(ptr, bytes);
}

// Whether the mapping holding address carries the huge-page advice (VmFlags "hg").
bool advised(uintptr_t address) {
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= address && address < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return (line + " ").find(" hg ") != std::string::npos;
    }
  }
  return false;
}

const size_t MiB = size_t(1) << 20;

// Blocks that start on a 2 MiB boundary hold whole huge pages from their first byte: below
// 4 MiB they are left alone all the same.
TEST(LargePages, OnlyBlocksOfFourMiBAndMoreAreAdvised) {
  if (std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled").fail())
    GTEST_SKIP() << "this kernel has no transparent huge pages";
  const struct {
    size_t bytes;
    bool advised;
  } rows[] = {{2 * MiB, false}, {4 * MiB - 1, false}, {4 * MiB, true}, {6 * MiB + 5, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    void* map = mmap(nullptr, 10 * MiB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    const uintptr_t block = (reinterpret_cast<uintptr_t>(map) + 2 * MiB - 1) & ~(2 * MiB - 1);
    EXPECT_EQ(advise_large_pages(reinterpret_cast<void*>(block), row.bytes),
              reinterpret_cast<void*>(block));
    EXPECT_EQ(advised(block), row.advised);
    munmap(map, 10 * MiB);
  }
}

// SuiteSparse's functions advise their large blocks, through the functions installed before.
TEST(LargePages, SuiteSparseAllocatesThroughTheFunctionsInstalledBefore) {
  if (std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled").fail())
    GTEST_SKIP() << "this kernel has no transparent huge pages";
  SuiteSparse_config.malloc_func = counted_malloc;
  SuiteSparse_config.calloc_func = counted_calloc;
  SuiteSparse_config.realloc_func = counted_realloc;
  use_large_pages_in_suitesparse();
  for (const char* how : {"malloc", "calloc", "realloc"}) {
    SCOPED_TRACE(how);
    calls = 0;
    const size_t bytes = 12 * MiB;
    const std::string h = how;
    void* p = h == "malloc"   ? SuiteSparse_config.malloc_func(bytes)
              : h == "calloc" ? SuiteSparse_config.calloc_func(bytes / 8, 8)
                              : SuiteSparse_config.realloc_func(std::malloc(64), bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(calls, 1) << "the function installed before did not allocate";
    const uintptr_t page = (reinterpret_cast<uintptr_t>(p) + 2 * MiB - 1) & ~(2 * MiB - 1);
    EXPECT_TRUE(advised(page));
    std::free(p);
  }
}

}  // namespace
