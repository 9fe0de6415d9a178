// Allocators and row-pointer arrays: layout, zero filling and the fatal paths.
#include "numeric/allocate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Leaves a freed block of `bytes` full of 0xAB on the heap, so that a following allocation of
// the same size is likely to reuse dirty memory and a missing zero fill shows up.
void dirty_heap(size_t bytes) {
  void* p = std::malloc(bytes);
  std::memset(p, 0xAB, bytes);
  std::free(p);
}

bool all_zero_bytes(const void* p, size_t bytes) {
  const unsigned char* c = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < bytes; ++i)
    if (c[i] != 0) return false;
  return true;
}

std::ptrdiff_t byte_distance(const void* from, const void* to) {
  return static_cast<const char*>(to) - static_cast<const char*>(from);
}

}  // namespace

TEST(RawAllocation, GetSpcIsZeroFilled) {
  dirty_heap(96);
  auto* zeroed = static_cast<double*>(get_spc(12, sizeof(double)));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_TRUE(all_zero_bytes(zeroed, 96));
  std::free(zeroed);
}

TEST(TwoDimensionalArray, RowsLieOneAfterAnotherInOneBlock) {
  // 5 columns, 3 rows of doubles: rows are 40 bytes apart.
  double** a = get_img_t<double>(5, 3);
  ASSERT_NE(a, nullptr);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(byte_distance(a[0], a[r]), 40 * r) << "row " << r;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 5; ++c) a[r][c] = 10.0 * r + c;
  const double* flat = a[0];
  for (int i = 0; i < 15; ++i) EXPECT_EQ(flat[i], 10.0 * (i / 5) + i % 5) << "element " << i;
  free_img_t(a);

  // Byte planes use the same layout with 1-byte elements: 256 rows of 3 bytes.
  auto** bytes = reinterpret_cast<uint8_t**>(get_img(3, 256, 1));
  for (int r = 0; r < 256; ++r) ASSERT_EQ(byte_distance(bytes[0], bytes[r]), 3 * r);
  std::memset(bytes[0], 7, 3 * 256);
  EXPECT_EQ(bytes[255][2], 7);
  free_img(reinterpret_cast<void**>(bytes));
}

TEST(TwoDimensionalArray, RowOffsetsBeyondFourGigabytesAreExact) {
  // 2^29 + 2^15 doubles: the last row starts exactly 2^32 bytes after row 0, where a 32-bit
  // byte offset would wrap to 0. The block is never filled, only two pages are touched.
  const int cols = 1 << 15, rows = (1 << 14) + 1;
  double** a = get_img_t<double>(cols, rows);
  const std::ptrdiff_t row_bytes = static_cast<std::ptrdiff_t>(cols) * 8;
  EXPECT_EQ(byte_distance(a[0], a[rows - 1]), row_bytes * (rows - 1));
  EXPECT_EQ(byte_distance(a[0], a[rows - 1]), std::ptrdiff_t(1) << 32);
  a[rows - 1][cols - 1] = 1.5;
  a[0][0] = 2.5;
  EXPECT_EQ(a[rows - 1][cols - 1], 1.5);
  free_img_t(a);
}

TEST(TwoDimensionalArray, GetInitArrIsAllZero) {
  dirty_heap(7 * 4 * sizeof(double));
  double** a = get_init_arr_t<double>(7, 4);
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(byte_distance(a[0], a[r]), 7 * 8 * r);
    for (int c = 0; c < 7; ++c) EXPECT_EQ(a[r][c], 0.0) << r << "," << c;
  }
  EXPECT_TRUE(all_zero_bytes(a[0], 7 * 4 * sizeof(double)));
  free_img_t(a);
}

TEST(MultiDimensionalArray, OneDimensionIsAPlainZeroedBlock) {
  dirty_heap(7 * sizeof(double));
  auto* a = static_cast<double*>(multialloc_init(sizeof(double), 1, 7));
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(all_zero_bytes(a, 7 * sizeof(double)));
  a[6] = 3.0;
  multifree(a, 1);
}

TEST(MultiDimensionalArray, ThreeDimensionsLinkEveryLevelToTheNext) {
  auto*** a = static_cast<double***>(multialloc_init(sizeof(double), 3, 2, 3, 4));
  ASSERT_NE(a, nullptr);
  double** level2 = a[0];
  double* data = level2[0];
  // Entry j of the top level points at entry 3j of the second; entry j there at element 4j.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(a[i], level2 + 3 * i);
  for (int j = 0; j < 6; ++j) EXPECT_EQ(level2[j], data + 4 * j);
  EXPECT_EQ(&a[1][2][3], data + 23);
  EXPECT_TRUE(all_zero_bytes(data, 24 * sizeof(double)));
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 4; ++k) a[i][j][k] = (i * 3 + j) * 4 + k;
  for (int e = 0; e < 24; ++e) EXPECT_EQ(data[e], e);
  multifree(a, 3);
  multifree(nullptr, 3);  // frees nothing
}

TEST(MultiDimensionalArray, TwoDimensionsMatchTheRowTableLayout) {
  auto** a = static_cast<int32_t**>(multialloc_init(sizeof(int32_t), 2, 3, 5));
  for (int r = 0; r < 3; ++r) EXPECT_EQ(byte_distance(a[0], a[r]), 5 * 4 * r);
  a[2][4] = 42;
  EXPECT_EQ(a[0][14], 42);
  multifree(a, 2);
}

class AllocationFailureDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(AllocationFailureDeathTest, ExhaustedMemoryEndsTheProcessWithAMessage) {
  const auto exit_status = ::testing::ExitedWithCode(255);
  EXPECT_EXIT(get_spc(1 << 30, size_t(1) << 30), exit_status, "==> calloc\\(\\) error");
  EXPECT_EXIT(mget_spc(1 << 30, size_t(1) << 30), exit_status, "==> malloc\\(\\) error");
  EXPECT_EXIT(get_spc(-1, 8), exit_status, "==> calloc\\(\\) error");
}

TEST_F(AllocationFailureDeathTest, ArraysOfTwoToTheThirtyOneElementsAreRefused) {
  const auto exit_status = ::testing::ExitedWithCode(255);
  // Exactly 2^31 one-byte elements: small in bytes, but beyond the element limit.
  EXPECT_EXIT(get_img(1 << 16, 1 << 15, 1), exit_status, "==> malloc\\(\\) error");
  EXPECT_EXIT(get_init_arr(1 << 16, 1 << 15, 1), exit_status, "==> calloc\\(\\) error");
  EXPECT_EXIT(get_img(1 << 20, 1 << 20, 8), exit_status, "==> malloc\\(\\) error");
  EXPECT_EXIT(multialloc_init(1, 3, 1 << 11, 1 << 11, 1 << 10), exit_status,
              "==> calloc\\(\\) error");
  EXPECT_EXIT(multialloc_init(size_t(1) << 40, 1, 1 << 30), exit_status, "==> calloc\\(\\) error");
}
