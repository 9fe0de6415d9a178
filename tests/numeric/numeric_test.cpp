// The numeric core: the image record's planes, and the sparse matrix's look-up and misuse.
// (Allocation failures: the engine's death-test table; the rest through the engine's tests.)
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "numeric/allocate.h"
#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"
#include "numeric/tiff.h"

namespace {

// Row offsets beyond 4 GB are exact (two pages touched). Each image type letter gets its planes,
// one allocation each (the mmap threshold fixed: one mapped chunk each), all released.
TEST(ArraysAndImageRecord, LayoutAndPlanesPerType) {
  double** big = get_img_t<double>(1 << 15, (1 << 14) + 1);
  EXPECT_EQ(reinterpret_cast<char*>(big[1 << 14]) - reinterpret_cast<char*>(big[0]), int64_t(1)
                                                                                         << 32);
  free_img_t(big);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator keeps no such statistics
  ASSERT_EQ(mallopt(M_MMAP_THRESHOLD, 128 * 1024), 1);
#endif
  for (const char* t : {"g1", "p1", "c3", "a4"}) {
    const size_t before = mallinfo2().hblks, planes = t[1] - '0';
    TIFF_img img;
    ASSERT_EQ(get_TIFF(&img, 400, 500, t[0]), 0);
#if !defined(__SANITIZE_ADDRESS__)
    ASSERT_EQ(mallinfo2().hblks - before, planes) << t;
#endif
    for (size_t i = 0; i < planes; ++i) {
      uint8_t** plane = planes == 1 ? img.plane : img.channels[i];
      EXPECT_EQ(plane[399] - plane[0], 399 * 500);
      std::memset(plane[0], 1, 400 * 500);
    }
    free_TIFF(&img);
    EXPECT_EQ(mallinfo2().hblks, before);
  }
}

struct Matrix {  // 5 x 5, rows 3 = {(5, 1), (5, 2)} and 5 = {(3, -4)}
  Matrix(bool symmetric, ElOrderType order) {
    Q_Constr(&m, "A", 5, symmetric, order, false, true);
    Q_SetLen(&m, 3, 2);
    Q_SetEntry(&m, 3, 0, 5, 1.0);
    Q_SetEntry(&m, 3, 1, 5, 2.0);
    Q_SetLen(&m, 5, 1);
    Q_SetEntry(&m, 5, 0, 3, -4.0);
  }
  ~Matrix() { Q_Destr(&m); }
  QMatrix m;
};

// Q_GetEl reads the list that symmetry and order name, the last of duplicate columns. Misuse
// (a position equal to the length included) records code and operation; valid calls then
// change nothing and read zero, on this thread only, until the register is cleared.
TEST(Sparse, LookupAndMisuse) {
  LASClearError();
  const double at_3_5[4] = {2, -4, 2, -4}, at_5_3[4] = {2, -4, -4, 2};
  for (int k = 0; k < 4; ++k) {
    Matrix s(k < 2, k % 2 == 0 ? ByRows : ByColumns);
    EXPECT_EQ(Q_GetEl(&s.m, 3, 5), at_3_5[k]) << k;
    EXPECT_EQ(Q_GetEl(&s.m, 5, 3), at_5_3[k]) << k;
  }
  EXPECT_EQ(LASResult(), LASOK);
  for (auto [operation, code, call] :
       std::vector<std::tuple<const char*, LASErrIdType, void (*)(QMatrix*)>>{
           {"Q_SetLen", LASRangeErr, [](QMatrix* m) { Q_SetLen(m, 6, 1); }},
           {"Q_SetEntry", LASRangeErr, [](QMatrix* m) { Q_SetEntry(m, 5, 1, 1, 1.0); }},
           {"Q_GetEl", LASRangeErr, [](QMatrix* m) { Q_GetEl(m, 1, 6); }},
           {"Q_SetLen", LASMemAllocErr, [](QMatrix* m) { Q_SetLen(m, 1, size_t(1) << 58); }},
           {"Q_SetLen", LASLValErr, [](QMatrix* m) { m->Temporary = true, Q_SetLen(m, 2, 1); }}}) {
    LASClearError();
    Matrix a(false, ByRows);
    call(&a.m);
    EXPECT_EQ(LASResult(), code) << operation;
    EXPECT_STREQ(LASErrorOperation(), operation);
    Q_SetEntry(&a.m, 5, 0, 2, 9.0);
    EXPECT_EQ(Q_GetLen(&a.m, 5) + Q_GetEl(&a.m, 5, 3), 0.0);
    LASErrIdType worker = LASMemAllocErr;
    std::thread([&worker] { worker = LASResult(); }).join();
    EXPECT_EQ(worker, LASOK);
    LASClearError();
    EXPECT_EQ(Q_GetEl(&a.m, 5, 3), -4.0);
    a.m.Temporary = false;
  }
}

}  // namespace
