// The numeric core: row-pointer arrays, the image record, and the sparse row matrix with its
// per-thread error register. (Fatal messages: the engine's death-test table.)
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>
#include <thread>

#include "numeric/allocate.h"
#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"
#include "numeric/tiff.h"

namespace {

// Rows `cols` elements apart in one block (offsets beyond 4 GB exact; two pages touched); n-D
// arrays whose every level points into the next, zero-filled.
TEST(Arrays, Layout) {
  double** a = get_img_t<double>(1 << 15, (1 << 14) + 1);
  EXPECT_EQ(reinterpret_cast<char*>(a[1 << 14]) - reinterpret_cast<char*>(a[0]), int64_t(1) << 32);
  a[1 << 14][(1 << 15) - 1] = 1.5;
  free_img_t(a);
  auto*** m = static_cast<double***>(multialloc_init(sizeof(double), 3, 2, 3, 4));
  for (int i = 0; i < 24; ++i)
    EXPECT_TRUE(&m[i / 12][i / 4 % 3][i % 4] == m[0][0] + i && m[0][0][i] == 0);
  multifree(m, 3);
}

// Each type letter gets its planes, one allocation each (with the mmap threshold fixed, one
// mapped chunk each), all released by free_TIFF; a bad size or letter is refused with its
// message, the requested fields stored and nothing allocated.
TEST(ImageRecord, PlanesPerTypeAndRefusals) {
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
  for (const char* t : {"0 5 c", "4 -1 g", "8 9 x"}) {
    TIFF_img img;
    img.channels = nullptr;
    int height, width;
    char type;
    std::sscanf(t, "%d %d %c", &height, &width, &type);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_TIFF(&img, height, width, type), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("tiff:  function get_TIFF:\n") +
                  (type == 'x' ? "allocation for image of type x is not supported"
                               : "image height and width must be positive\n"));
    EXPECT_TRUE(img.height == height && img.width == width && img.TIFF_type == type);
    EXPECT_TRUE(img.compress_type == 'u' && img.channels == nullptr);
  }
}

// A 5 x 5 matrix with rows 3 = {(5, 1), (5, 2)} and 5 = {(3, -4)}.
struct Matrix {
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

// Q_GetEl reads the list that symmetry and order name (a symmetric matrix by rows answers
// (5, 3) from row 3), the last of duplicate columns. Indices out of range (a position equal to
// the length included), a temporary matrix resized and a row that cannot be allocated record
// code, operation and name; from then on valid calls change nothing and read as zero, on this
// thread only, until the register is cleared.
TEST(Sparse, LookupAndMisuse) {
  LASClearError();
  const double at_3_5[4] = {2, -4, 2, -4}, at_5_3[4] = {2, -4, -4, 2};
  for (int k = 0; k < 4; ++k) {
    Matrix s(k < 2, k % 2 == 0 ? ByRows : ByColumns);
    EXPECT_TRUE(Q_GetEl(&s.m, 3, 5) == at_3_5[k] && Q_GetEl(&s.m, 5, 3) == at_5_3[k] &&
                Q_GetEl(&s.m, 4, 3) == 0)
        << k;
  }
  EXPECT_EQ(LASResult(), LASOK);
  const struct {
    const char* operation;
    LASErrIdType code;
    void (*call)(QMatrix*);
  } cases[] = {
      {"Q_SetLen", LASRangeErr, [](QMatrix* m) { Q_SetLen(m, 6, 1); }},
      {"Q_GetLen", LASRangeErr, [](QMatrix* m) { Q_GetLen(m, 0); }},
      {"Q_SetEntry", LASRangeErr, [](QMatrix* m) { Q_SetEntry(m, 5, 1, 1, 1.0); }},
      {"Q_SetEntry", LASRangeErr, [](QMatrix* m) { Q_SetEntry(m, 5, 0, 6, 1.0); }},
      {"Q_GetPos", LASRangeErr, [](QMatrix* m) { Q_GetPos(m, 2, 0); }},
      {"Q_AddVal", LASRangeErr, [](QMatrix* m) { Q_AddVal(m, 3, 2, 1.0); }},
      {"Q_GetEl", LASRangeErr, [](QMatrix* m) { Q_GetEl(m, 1, 6); }},
      {"Q_SetLen", LASMemAllocErr, [](QMatrix* m) { Q_SetLen(m, 1, size_t(1) << 58); }},
      {"Q_SetLen", LASLValErr, [](QMatrix* m) { m->Temporary = true, Q_SetLen(m, 2, 1); }},
  };
  for (const auto& c : cases) {
    LASClearError();
    Matrix a(false, ByRows);
    c.call(&a.m);
    EXPECT_EQ(LASResult(), c.code) << c.operation;
    EXPECT_STREQ(LASErrorOperation(), c.operation);
    EXPECT_STREQ(LASErrorObject(0), "A");
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
