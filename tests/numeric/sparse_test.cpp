// Sparse row matrix, 1-based vector and the per-thread error register behind them.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <thread>

#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"
#include "numeric/vector.h"

// The sanitizer's allocator keeps no glibc malloc statistics (GCC and Clang spell this apart).
#if defined(__SANITIZE_ADDRESS__)
#define QUILLANE_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLANE_TEST_UNDER_ASAN 1
#endif
#endif
#ifndef QUILLANE_TEST_UNDER_ASAN
#define QUILLANE_TEST_UNDER_ASAN 0
#endif

namespace {

// gtest runs every test on the same thread, so each test starts from a clean register.
class Sparse : public ::testing::Test {
 protected:
  void SetUp() override { LASClearError(); }
  void TearDown() override { LASClearError(); }

  static void expect_error(LASErrIdType code, const char* operation, const char* object) {
    EXPECT_EQ(LASResult(), code);
    EXPECT_STREQ(LASErrorOperation(), operation);
    EXPECT_STREQ(LASErrorObject(0), object);
  }
};

// A normal, data-owning matrix, destroyed at the end of the scope.
struct Matrix {
  QMatrix m;
  Matrix(const char* name, size_t dim, bool symmetric, ElOrderType order, bool temporary = false) {
    Q_Constr(&m, name, dim, symmetric, order, temporary, true);
  }
  ~Matrix() { Q_Destr(&m); }
  Matrix(const Matrix&) = delete;
  Matrix& operator=(const Matrix&) = delete;
  operator QMatrix*() { return &m; }
  // Row `row` becomes exactly the given (column, value) elements.
  void set_row(size_t row, std::initializer_list<ElType> elements) {
    Q_SetLen(&m, row, elements.size());
    size_t pos = 0;
    for (const ElType& e : elements) Q_SetEntry(&m, row, pos++, e.Pos, e.Val);
  }
};

struct Vec {
  Vector v;
  Vec(const char* name, size_t dim, bool temporary = false, bool owns = true) {
    V_Constr(&v, name, dim, temporary, owns);
  }
  ~Vec() { V_Destr(&v); }
  Vec(const Vec&) = delete;
  Vec& operator=(const Vec&) = delete;
  operator Vector*() { return &v; }
};

}  // namespace

TEST_F(Sparse, ConstructionCopiesTheNameAndStartsWithEmptyRows) {
  char name[] = "A";
  Matrix a(name, 4, true, ByRows);
  name[0] = 'B';  // the matrix keeps its own copy
  EXPECT_STREQ(a.m.Name, "A");
  ASSERT_NE(a.m.Len, nullptr);
  ASSERT_NE(a.m.El, nullptr);
  for (size_t row = 1; row <= 4; ++row) {
    EXPECT_EQ(Q_GetLen(a, row), 0u);
    EXPECT_EQ(a.m.El[row], nullptr);
  }
  EXPECT_EQ(Q_GetSymmetry(a), 1);
  EXPECT_EQ(LASResult(), LASOK);

  QMatrix view;  // a matrix that does not own its data allocates no tables
  Q_Constr(&view, "view", 4, false, ByRows, false, false);
  EXPECT_EQ(view.Len, nullptr);
  Q_Destr(&view);
  EXPECT_EQ(view.Name, nullptr);
}

TEST_F(Sparse, RowsAreSizedWithZeroElementsAndFilledByPosition) {
  auto expect_fresh_row = [](QMatrix* m, size_t row, size_t len) {
    ASSERT_EQ(Q_GetLen(m, row), len);
    for (size_t pos = 0; pos < len; ++pos) {
      EXPECT_EQ(Q_GetPos(m, row, pos), 0u) << "position " << pos;
      EXPECT_EQ(Q_GetVal(m, row, pos), 0.0) << "position " << pos;
    }
  };
  Matrix a("A", 3, false, ByRows);
  Q_SetLen(a, 2, 3);
  expect_fresh_row(a, 2, 3);
  Q_SetEntry(a, 2, 0, 2, 4.0);
  Q_SetEntry(a, 2, 2, 3, -1.0);
  Q_AddVal(a, 2, 2, 0.25);
  Q_AddVal(a, 2, 2, 0.5);
  EXPECT_EQ(Q_GetPos(a, 2, 0), 2u);
  EXPECT_EQ(Q_GetVal(a, 2, 0), 4.0);
  EXPECT_EQ(Q_GetPos(a, 2, 1), 0u);
  EXPECT_EQ(Q_GetPos(a, 2, 2), 3u);
  EXPECT_EQ(Q_GetVal(a, 2, 2), -0.25);
  EXPECT_EQ(Q_GetLen(a, 1), 0u);  // other rows are untouched
  EXPECT_EQ(Q_GetLen(a, 3), 0u);

  // Resizing discards the old elements, even when the length grows.
  Q_SetLen(a, 2, 4);
  expect_fresh_row(a, 2, 4);
  Q_SetLen(a, 2, 0);
  EXPECT_EQ(Q_GetLen(a, 2), 0u);
  EXPECT_EQ(a.m.El[2], nullptr);
  EXPECT_EQ(LASResult(), LASOK);
}

TEST_F(Sparse, GetElFollowsSymmetryAndStorageOrder) {
  // Symmetric by rows: only the upper triangle is stored, (5, 3) is read from row 3.
  Matrix sym_rows("S", 5, true, ByRows);
  sym_rows.set_row(3, {{3, 7.0}, {5, 2.5}});
  sym_rows.set_row(5, {{3, 99.0}});  // a lower-triangle element is never consulted
  EXPECT_EQ(Q_GetEl(sym_rows, 5, 3), 2.5);
  EXPECT_EQ(Q_GetEl(sym_rows, 3, 5), 2.5);
  EXPECT_EQ(Q_GetEl(sym_rows, 3, 3), 7.0);
  EXPECT_EQ(Q_GetEl(sym_rows, 4, 3), 0.0);

  // Symmetric by columns: list max(row, column) holds min(row, column).
  Matrix sym_cols("C", 5, true, ByColumns);
  sym_cols.set_row(5, {{3, 1.5}});
  sym_cols.set_row(3, {{5, 99.0}});
  EXPECT_EQ(Q_GetEl(sym_cols, 3, 5), 1.5);
  EXPECT_EQ(Q_GetEl(sym_cols, 5, 3), 1.5);

  // Unsymmetric by rows: row `row` for column `column`, and nothing mirrored.
  Matrix rows("R", 5, false, ByRows);
  rows.set_row(3, {{5, 2.0}});
  rows.set_row(5, {{3, -4.0}});
  EXPECT_EQ(Q_GetEl(rows, 3, 5), 2.0);
  EXPECT_EQ(Q_GetEl(rows, 5, 3), -4.0);
  EXPECT_EQ(Q_GetEl(rows, 2, 5), 0.0);

  // Unsymmetric by columns: list `column` holds the rows of that column.
  Matrix cols("K", 5, false, ByColumns);
  cols.set_row(3, {{5, 8.0}});
  EXPECT_EQ(Q_GetEl(cols, 5, 3), 8.0);
  EXPECT_EQ(Q_GetEl(cols, 3, 5), 0.0);

  // Duplicate columns: the last element counts. Unset (0, 0.0) elements never match.
  rows.set_row(2, {{4, 1.0}, {1, 5.0}, {4, 2.0}});
  EXPECT_EQ(Q_GetEl(rows, 2, 4), 2.0);
  EXPECT_EQ(Q_GetEl(rows, 2, 1), 5.0);
  EXPECT_EQ(Q_GetEl(rows, 2, 2), 0.0);
  EXPECT_EQ(LASResult(), LASOK);
}

TEST_F(Sparse, OutOfRangeAccessRecordsCodeOperationAndName) {
  const size_t dim = 3;
  const struct {
    const char* operation;
    std::function<void(QMatrix*)> call;
  } cases[] = {
      {"Q_SetLen", [](QMatrix* m) { Q_SetLen(m, 0, 1); }},
      {"Q_SetLen", [](QMatrix* m) { Q_SetLen(m, dim + 1, 1); }},
      {"Q_GetLen", [](QMatrix* m) { Q_GetLen(m, dim + 1); }},
      {"Q_SetEntry", [](QMatrix* m) { Q_SetEntry(m, 0, 0, 1, 1.0); }},
      {"Q_SetEntry", [](QMatrix* m) { Q_SetEntry(m, 1, 0, 0, 1.0); }},
      {"Q_SetEntry", [](QMatrix* m) { Q_SetEntry(m, 1, 0, dim + 1, 1.0); }},
      {"Q_SetEntry", [](QMatrix* m) { Q_SetEntry(m, 1, 2, 1, 1.0); }},
      {"Q_GetPos", [](QMatrix* m) { Q_GetPos(m, 1, 2); }},
      {"Q_GetPos", [](QMatrix* m) { Q_GetPos(m, 2, 0); }},  // empty row
      {"Q_GetVal", [](QMatrix* m) { Q_GetVal(m, dim + 1, 0); }},
      {"Q_AddVal", [](QMatrix* m) { Q_AddVal(m, 1, 5, 1.0); }},
      {"Q_GetEl", [](QMatrix* m) { Q_GetEl(m, 0, 1); }},
      {"Q_GetEl", [](QMatrix* m) { Q_GetEl(m, 1, dim + 1); }},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << index++ << " " << c.operation);
    LASClearError();
    Matrix a("A", dim, false, ByRows);
    Q_SetLen(a, 1, 2);  // row 1 holds positions 0 and 1
    ASSERT_EQ(LASResult(), LASOK);
    c.call(a);
    expect_error(LASRangeErr, c.operation, "A");
  }
}

TEST_F(Sparse, AnErrorSilencesEveryLaterOperationUntilCleared) {
  Matrix a("A", 4, true, ByRows);
  a.set_row(2, {{2, 3.0}, {4, 1.0}});
  ASSERT_EQ(LASResult(), LASOK);

  Q_SetEntry(a, 2, 2, 3, 9.0);  // position == length
  expect_error(LASRangeErr, "Q_SetEntry", "A");
  EXPECT_EQ(a.m.Len[2], 2u);
  EXPECT_EQ(a.m.El[2][0].Pos, 2u);
  EXPECT_EQ(a.m.El[2][1].Val, 1.0);

  // Valid calls now do nothing and read as zero; the record keeps the first failure.
  Q_SetEntry(a, 2, 0, 3, 9.0);
  Q_AddVal(a, 2, 1, 5.0);
  Q_SetLen(a, 3, 6);
  EXPECT_EQ(Q_GetLen(a, 2), 0u);
  EXPECT_EQ(Q_GetPos(a, 2, 0), 0u);
  EXPECT_EQ(Q_GetVal(a, 2, 0), 0.0);
  EXPECT_EQ(Q_GetEl(a, 2, 2), 0.0);
  EXPECT_EQ(Q_GetSymmetry(a), 0);
  Q_GetLen(a, 99);  // would be an error of its own
  expect_error(LASRangeErr, "Q_SetEntry", "A");
  EXPECT_EQ(a.m.El[2][0].Pos, 2u);
  EXPECT_EQ(a.m.El[2][0].Val, 3.0);
  EXPECT_EQ(a.m.El[2][1].Val, 1.0);
  EXPECT_EQ(a.m.Len[3], 0u);

  // Containers constructed while the error stands keep their name but allocate nothing.
  Matrix late("L", 2, false, ByRows);
  EXPECT_STREQ(late.m.Name, "L");
  EXPECT_EQ(late.m.Len, nullptr);
  Vec v("x", 2);
  EXPECT_EQ(v.v.Cmp, nullptr);
  EXPECT_STREQ(v.v.Name, "x");
  EXPECT_EQ(V_GetDim(v), 0u);

  LASClearError();
  EXPECT_EQ(Q_GetLen(a, 2), 2u);
  EXPECT_EQ(Q_GetEl(a, 4, 2), 1.0);
  EXPECT_EQ(Q_GetSymmetry(a), 1);
  Q_SetEntry(a, 2, 0, 3, 9.0);
  EXPECT_EQ(Q_GetEl(a, 3, 2), 9.0);
  EXPECT_EQ(LASResult(), LASOK);
}

TEST_F(Sparse, TemporaryMatrixMayNotBeResized) {
  Matrix t("T", 3, false, ByRows, /*temporary=*/true);
  ASSERT_EQ(LASResult(), LASOK);
  Q_SetLen(t, 1, 2);
  expect_error(LASLValErr, "Q_SetLen", "T");
  EXPECT_EQ(t.m.Len[1], 0u);
  EXPECT_EQ(t.m.El[1], nullptr);
}

TEST_F(Sparse, RowThatCannotBeAllocatedRecordsMemoryErrorAndKeepsItsLength) {
  Matrix a("A", 2, false, ByRows);
  const size_t huge = size_t(1) << 58;  // 2^62 bytes of elements
  Q_SetLen(a, 2, huge);
  expect_error(LASMemAllocErr, "Q_SetLen", "A");
  EXPECT_EQ(a.m.Len[2], huge);
  EXPECT_EQ(a.m.El[2], nullptr);
}

TEST_F(Sparse, DestructionReleasesRowsWhateverTheRegisterHolds) {
#if QUILLANE_TEST_UNDER_ASAN
  GTEST_SKIP() << "no malloc statistics under the sanitizer; LeakSanitizer checks this";
#endif
  // A row of 20000 elements (320 kB) is one mapped chunk above the fixed mmap threshold.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  const size_t before = mallinfo2().hblks;
  QMatrix a;
  Q_Constr(&a, "A", 3, false, ByRows, false, true);
  Q_SetLen(&a, 3, 20000);
  ASSERT_EQ(mallinfo2().hblks, before + 1);
  Q_GetLen(&a, 4);
  ASSERT_EQ(LASResult(), LASRangeErr);
  Q_Destr(&a);
  EXPECT_EQ(mallinfo2().hblks, before);
  EXPECT_EQ(a.Name, nullptr);
}

TEST_F(Sparse, VectorComponentsAreOneBasedAndContiguous) {
  Vec v("x", 4);
  ASSERT_NE(v.v.Cmp, nullptr);
  EXPECT_EQ(V_GetDim(v), 4u);
  v.v.Cmp[0] = -123.0;  // index 0 is not a component
  V_SetAllCmp(v, 0.5);
  EXPECT_EQ(v.v.Cmp[0], -123.0);
  for (size_t i = 1; i <= 4; ++i) EXPECT_EQ(V_GetCmp(v, i), 0.5);
  V_SetCmp(v, 1, 1.0);
  V_SetCmp(v, 4, 4.0);
  const double* components = &v.v.Cmp[1];
  EXPECT_EQ(components[0], 1.0);
  EXPECT_EQ(components[3], 4.0);
  EXPECT_EQ(LASResult(), LASOK);

  Vec empty("d", 0);
  ASSERT_NE(empty.v.Cmp, nullptr);
  empty.v.Cmp[0] = 42.0;
  V_SetAllCmp(empty, 1.0);
  EXPECT_EQ(empty.v.Cmp[0], 42.0);
  EXPECT_EQ(V_GetDim(empty), 0u);
  EXPECT_EQ(LASResult(), LASOK);
}

TEST_F(Sparse, VectorMisuseRecordsRangeError) {
  for (size_t bad : {size_t(0), size_t(4)}) {
    LASClearError();
    Vec v("x", 3);
    V_SetAllCmp(v, 2.0);
    EXPECT_EQ(V_GetCmp(v, bad), 0.0);
    expect_error(LASRangeErr, "V_GetCmp", "x");
    EXPECT_EQ(V_GetCmp(v, 1), 0.0);  // silenced from now on
    EXPECT_EQ(V_GetDim(v), 0u);

    LASClearError();
    V_SetCmp(v, bad, 1.0);
    expect_error(LASRangeErr, "V_SetCmp", "x");
  }

  LASClearError();
  Vec temporary("t", 3, /*temporary=*/true);
  V_SetCmp(temporary, 1, 1.0);
  expect_error(LASRangeErr, "V_SetCmp", "t");

  LASClearError();
  Vec borrowed("b", 3, false, /*owns=*/false);
  EXPECT_EQ(borrowed.v.Cmp, nullptr);
  V_SetCmp(borrowed, 1, 1.0);
  expect_error(LASRangeErr, "V_SetCmp", "b");
}

TEST_F(Sparse, ErrorRecordKeepsCopiesOfTheNames) {
  char op[] = "Q_Mul", first[] = "A";
  LASError(LASDimErr, op, first, "", "B");
  std::strcpy(op, "xxxxx");
  first[0] = 'Z';
  EXPECT_EQ(LASResult(), LASDimErr);
  EXPECT_STREQ(LASErrorOperation(), "Q_Mul");
  EXPECT_STREQ(LASErrorObject(0), "A");
  EXPECT_STREQ(LASErrorObject(1), "");
  EXPECT_STREQ(LASErrorObject(2), "B");

  // A new record replaces every name of the previous one.
  LASError(LASMemAllocErr, "V_Constr", "x");
  EXPECT_EQ(LASResult(), LASMemAllocErr);
  EXPECT_STREQ(LASErrorOperation(), "V_Constr");
  EXPECT_STREQ(LASErrorObject(0), "x");
  EXPECT_STREQ(LASErrorObject(2), "");

  LASClearError();
  EXPECT_EQ(LASResult(), LASOK);
  EXPECT_STREQ(LASErrorOperation(), "");
  EXPECT_STREQ(LASErrorObject(0), "");

  EXPECT_STREQ(LASErrorDescription(LASRangeErr), "Indices are out of range.\n");
  EXPECT_STREQ(LASErrorDescription(LASSymStorErr),
               "Some elements are stored in lower triangular part of a symmetric matrix.\n");
}

TEST_F(Sparse, ErrorRegisterIsKeptPerThread) {
  // An error recorded on a worker thread stays on that thread.
  LASErrIdType seen_on_worker = LASOK;
  std::thread worker([&] {
    Matrix a("A", 2, false, ByRows);
    Q_GetLen(a, 3);
    seen_on_worker = LASResult();
  });
  worker.join();
  EXPECT_EQ(seen_on_worker, LASRangeErr);
  EXPECT_EQ(LASResult(), LASOK);

  // An error on this thread does not silence a worker, which builds its matrix normally.
  LASError(LASRangeErr, "Q_GetLen", "A");
  LASErrIdType worker_start = LASMemAllocErr;
  double worker_value = 0.0;
  std::thread builder([&] {
    worker_start = LASResult();
    Matrix a("A", 3, true, ByRows);
    a.set_row(1, {{1, 2.0}, {3, 0.5}});
    worker_value = Q_GetEl(a, 3, 1);
  });
  builder.join();
  EXPECT_EQ(worker_start, LASOK);
  EXPECT_EQ(worker_value, 0.5);
  EXPECT_EQ(LASResult(), LASRangeErr);
}
