// The numeric core: row-pointer arrays and the image record, the Cholesky routines, and the
// sparse row matrix with its per-thread error register. (Fatal messages: the engine's table.)
#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "numeric/Choleski.h"
#include "numeric/allocate.h"
#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"
#include "numeric/tiff.h"

namespace {

std::ptrdiff_t bytes_between(const void* from, const void* to) {
  return static_cast<const char*>(to) - static_cast<const char*>(from);
}

// Row tables over one block, rows `cols` elements apart (byte offsets beyond 4 GB exact; only
// two pages are touched), zero filling, and n-D arrays whose every level points into the next.
TEST(Arrays, LayoutAndZeroFill) {
  double** a = get_img_t<double>(1 << 15, (1 << 14) + 1);
  EXPECT_EQ(bytes_between(a[0], a[1]), 8 << 15);
  EXPECT_EQ(bytes_between(a[0], a[1 << 14]), std::ptrdiff_t(1) << 32);
  a[1 << 14][(1 << 15) - 1] = 1.5;
  free_img_t(a);
  void* dirty = std::malloc(7 * 4 * sizeof(double));  // a zero fill must not rely on fresh pages
  std::memset(dirty, 0xAB, 7 * 4 * sizeof(double));
  std::free(dirty);
  a = get_init_arr_t<double>(7, 4);
  for (int i = 0; i < 28; ++i) EXPECT_EQ(a[i / 7][i % 7], 0.0) << i;
  free_img_t(a);
  auto*** m = static_cast<double***>(multialloc_init(sizeof(double), 3, 2, 3, 4));
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(m[i / 12][i / 4 % 3][i % 4], 0.0);
    EXPECT_EQ(&m[i / 12][i / 4 % 3][i % 4], m[0][0] + i);
  }
  multifree(m, 3);
}

// Each type letter gets its planes, one allocation each (with the mmap threshold fixed, one
// mapped chunk each), all released by free_TIFF; a bad size or letter is refused with its
// message, the requested fields stored and nothing allocated.
TEST(ImageRecord, PlanesPerTypeAndRefusals) {
#if defined(__SANITIZE_ADDRESS__)
  const bool counted = false;  // the sanitizer's allocator keeps no such statistics
#else
  const bool counted = mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;
#endif
  const struct {
    char type;
    size_t planes;
  } types[] = {{'g', 1}, {'p', 1}, {'c', 3}, {'a', 4}};
  for (const auto& t : types) {
    const size_t before = mallinfo2().hblks;
    TIFF_img img;
    ASSERT_EQ(get_TIFF(&img, 400, 500, t.type), 0);
    EXPECT_EQ(mallinfo2().hblks - before, counted ? t.planes : 0) << t.type;
    for (size_t i = 0; i < t.planes; ++i) {
      uint8_t** plane = t.planes == 1 ? img.plane : img.channels[i];
      EXPECT_EQ(bytes_between(plane[0], plane[399]), 399 * 500);
      std::memset(plane[0], 1, 400 * 500);
    }
    if (t.type == 'p') std::memset(img.palette[0], 1, 256 * 3);
    free_TIFF(&img);
    EXPECT_EQ(mallinfo2().hblks, before);
  }
  const struct {
    int height, width;
    char type;
    const char* says;
  } refused[] = {{0, 5, 'c', "image height and width must be positive\n"},
                 {4, -1, 'g', "image height and width must be positive\n"},
                 {8, 9, 'x', "allocation for image of type x is not supported"}};
  for (const auto& r : refused) {
    TIFF_img img;
    img.channels = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_TIFF(&img, r.height, r.width, r.type), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("tiff:  function get_TIFF:\n") + r.says);
    EXPECT_TRUE(img.height == r.height && img.width == r.width && img.TIFF_type == r.type);
    EXPECT_TRUE(img.compress_type == 'u' && img.channels == nullptr);
  }
}

// A = M M^T + n I: the factor storage holds L with L L^T = A and L^T mirrored above, the solve
// satisfies A x = b (also in place), and the inverse is symmetric with A A^-1 = I. Only pivots
// above 0 are accepted (not 0, -1, NaN, nor the second of (1 2; 2 1)); a zero on the factor's
// diagonal stops the solve and the inverse.
TEST(Choleski, FactorSolveAndInverse) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n = 1; n <= 6; ++n) {
    std::vector<double> m(n * n), a(n * n, 0.0), b(n), x(n);
    for (double& v : m) v = u(rng);
    for (double& v : b) v = u(rng);
    for (int i = 0; i < n * n; ++i) {
      for (int k = 0; k < n; ++k) a[i] += m[i / n * n + k] * m[i % n * n + k];
      a[i] += i / n == i % n ? n : 0;
    }
    std::vector<double> f = a;
    ASSERT_EQ(Choleski_LU_Decomposition(f.data(), n), 0);
    std::vector<double> inv = f, in_place = b;
    ASSERT_EQ(Choleski_LU_Solve(f.data(), b.data(), x.data(), n), 0);
    ASSERT_EQ(Choleski_LU_Solve(f.data(), in_place.data(), in_place.data(), n), 0);
    EXPECT_EQ(in_place, x);
    ASSERT_EQ(Choleski_LU_Inverse(inv.data(), n), 0);
    for (int i = 0; i < n; ++i) {
      double ax = 0;
      for (int j = 0; j < n; ++j) {
        double llt = 0, a_inv = 0;
        for (int k = 0; k <= std::min(i, j); ++k) llt += f[i * n + k] * f[j * n + k];
        for (int k = 0; k < n; ++k) a_inv += a[i * n + k] * inv[k * n + j];
        ax += a[i * n + j] * x[j];
        EXPECT_TRUE(f[i * n + j] == f[j * n + i] && inv[i * n + j] == inv[j * n + i]);
        EXPECT_NEAR(llt, a[i * n + j], 1e-12 * n);
        EXPECT_NEAR(a_inv, i == j ? 1.0 : 0.0, 1e-12 * n);
      }
      EXPECT_NEAR(ax, b[i], 1e-12 * n) << "n " << n;
    }
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::vector<double> a : {std::vector<double>{0.0}, {-1.0}, {nan}, {1, 2, 2, 1}})
    EXPECT_EQ(Choleski_LU_Decomposition(a.data(), a.size() == 1 ? 1 : 2), -1) << a[0];
  std::vector<double> t = {1, 0, 0, 5, -2, 0, 7, 8, 0}, b = {1, 2, 3}, x(3);
  EXPECT_EQ(Choleski_LU_Solve(t.data(), b.data(), x.data(), 3), -1);
  EXPECT_EQ(Choleski_LU_Inverse(t.data(), 3), -1);
}

// A 5 x 5 data-owning matrix with rows 3 = {(5, 1), (5, 2)} and 5 = {(3, -4)}.
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

// Q_GetEl reads the list that the symmetry and order name (a symmetric matrix by rows answers
// (5, 3) from row 3), the last of duplicate columns; rows are sized with zero elements.
TEST(Sparse, LookupFollowsSymmetryAndOrder) {
  LASClearError();
  const struct {
    bool symmetric;
    ElOrderType order;
    double at_3_5, at_5_3;
  } orders[] = {{true, ByRows, 2, 2},
                {true, ByColumns, -4, -4},
                {false, ByRows, 2, -4},
                {false, ByColumns, -4, 2}};
  for (const auto& o : orders) {
    Matrix s(o.symmetric, o.order);
    EXPECT_EQ(Q_GetEl(&s.m, 3, 5), o.at_3_5) << o.symmetric << o.order;
    EXPECT_EQ(Q_GetEl(&s.m, 5, 3), o.at_5_3) << o.symmetric << o.order;
    EXPECT_EQ(Q_GetEl(&s.m, 4, 3), 0.0);
    Q_SetLen(&s.m, 3, 3);
    EXPECT_TRUE(Q_GetPos(&s.m, 3, 2) == 0 && Q_GetVal(&s.m, 3, 2) == 0.0);
  }
  EXPECT_EQ(LASResult(), LASOK);
}

// Indices out of range (a position equal to the length included), a temporary matrix resized
// and a row that cannot be allocated record code, operation and name; from then on valid
// calls change nothing and read as zero, on this thread only, until the register is cleared.
TEST(Sparse, MisuseRecordsAnErrorThatSilencesThisThread) {
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
