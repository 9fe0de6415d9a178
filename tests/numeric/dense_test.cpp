// Small dense matrix routines: Cholesky factor, solve and inverse, triangular solves, products.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "numeric/Choleski.h"
#include "numeric/lower_triangular.h"
#include "numeric/matrixutil.h"
#include "numeric/upper_triangular.h"

namespace {

using Matrix = std::vector<double>;  // row-major

const double kNaN = std::numeric_limits<double>::quiet_NaN();

Matrix identity(int n) {
  Matrix m(n * n, 0.0);
  for (int i = 0; i < n; ++i) m[i * n + i] = 1.0;
  return m;
}

Matrix random_matrix(std::mt19937& rng, int rows, int cols) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Matrix m(rows * cols);
  for (double& v : m) v = dist(rng);
  return m;
}

Matrix naive_product(const Matrix& a, const Matrix& b, int rows, int inner, int cols) {
  Matrix c(rows * cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      double s = 0.0;
      for (int k = 0; k < inner; ++k) s += a[i * inner + k] * b[k * cols + j];
      c[i * cols + j] = s;
    }
  return c;
}

Matrix naive_transpose(const Matrix& a, int rows, int cols) {
  Matrix t(rows * cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) t[j * rows + i] = a[i * cols + j];
  return t;
}

// A = M * M^T + n * I: symmetric positive definite and well conditioned.
Matrix random_spd(std::mt19937& rng, int n) {
  Matrix m = random_matrix(rng, n, n);
  Matrix a = naive_product(m, naive_transpose(m, n, n), n, n, n);
  for (int i = 0; i < n; ++i) a[i * n + i] += n;
  return a;
}

double max_abs(const Matrix& m) {
  double r = 0.0;
  for (double v : m) r = std::max(r, std::fabs(v));
  return r;
}

void expect_doubles(const Matrix& actual, const Matrix& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_DOUBLE_EQ(actual[i], expected[i]) << "element " << i;
}

void expect_near_matrix(const Matrix& actual, const Matrix& expected, double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

}  // namespace

TEST(Choleski, TwoByTwoExampleFactorsSolvesAndInverts) {
  Matrix a = {4, 2, 2, 3};
  ASSERT_EQ(Choleski_LU_Decomposition(a.data(), 2), 0);
  expect_doubles(a, {2, 1, 1, std::sqrt(2.0)});

  Matrix b = {8, 7}, x = {kNaN, kNaN};
  ASSERT_EQ(Choleski_LU_Solve(a.data(), b.data(), x.data(), 2), 0);
  expect_doubles(x, {1.25, 1.5});
  EXPECT_EQ(b, (Matrix{8, 7}));  // the right-hand side is only read
  ASSERT_EQ(Choleski_LU_Solve(a.data(), b.data(), b.data(), 2), 0);  // in place
  expect_doubles(b, {1.25, 1.5});

  ASSERT_EQ(Choleski_LU_Inverse(a.data(), 2), 0);
  expect_doubles(a, {0.375, -0.25, -0.25, 0.5});
}

TEST(Choleski, IdentityFactorsAndInvertsToItself) {
  for (int n = 1; n <= 6; ++n) {
    Matrix a = identity(n);
    ASSERT_EQ(Choleski_LU_Decomposition(a.data(), n), 0);
    EXPECT_EQ(a, identity(n)) << "n = " << n;
    ASSERT_EQ(Choleski_LU_Inverse(a.data(), n), 0);
    EXPECT_EQ(a, identity(n)) << "n = " << n;
  }
}

TEST(Choleski, OneByOne) {
  double four = 4.0;
  ASSERT_EQ(Choleski_LU_Decomposition(&four, 1), 0);
  EXPECT_EQ(four, 2.0);
  ASSERT_EQ(Choleski_LU_Inverse(&four, 1), 0);
  EXPECT_EQ(four, 0.25);

  for (double bad : {0.0, -1.0, kNaN}) {
    double a = bad;
    EXPECT_EQ(Choleski_LU_Decomposition(&a, 1), -1) << "pivot " << bad;
  }
}

TEST(Choleski, IndefiniteMatrixFailsAtTheSecondPivot) {
  Matrix a = {1, 2, 2, 1};
  EXPECT_EQ(Choleski_LU_Decomposition(a.data(), 2), -1);
  // Row 0 was factored (sqrt 1, then 2 / 1 copied up); pivot 1 became 1 - 2 * 2.
  EXPECT_EQ(a, (Matrix{1, 2, 2, -3}));
}

TEST(Choleski, RandomPositiveDefiniteMatricesAgreeWithIndependentChecks) {
  for (int n = 1; n <= 6; ++n) {
    for (unsigned seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(::testing::Message() << "n = " << n << ", seed = " << seed);
      std::mt19937 rng(seed * 100 + n);
      const Matrix a = random_spd(rng, n);
      const double scale = max_abs(a);

      Matrix lu = a;
      ASSERT_EQ(Choleski_LU_Decomposition(lu.data(), n), 0);
      Matrix l(n * n, 0.0);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
          l[i * n + j] = lu[i * n + j];
          EXPECT_EQ(lu[j * n + i], lu[i * n + j]) << "upper triangle holds L^T";
        }
      for (int i = 0; i < n; ++i) EXPECT_GT(l[i * n + i], 0.0);
      expect_near_matrix(naive_product(l, naive_transpose(l, n, n), n, n, n), a, 1e-12 * scale);

      const Matrix b = random_matrix(rng, n, 1);
      Matrix x(n, kNaN), b_copy = b;
      ASSERT_EQ(Choleski_LU_Solve(lu.data(), b_copy.data(), x.data(), n), 0);
      expect_near_matrix(naive_product(a, x, n, n, 1), b, 1e-12 * scale * (1 + max_abs(x)));

      Matrix inv = lu;
      ASSERT_EQ(Choleski_LU_Inverse(inv.data(), n), 0);
      EXPECT_EQ(inv, naive_transpose(inv, n, n)) << "inverse is stored symmetric";
      expect_near_matrix(naive_product(a, inv, n, n, n), identity(n), 1e-12 * scale * n);
    }
  }
}

TEST(TriangularSolve, ReadsOnlyItsOwnTriangle) {
  const int n = 5;
  std::mt19937 rng(77);
  Matrix t = random_matrix(rng, n, n);
  for (int i = 0; i < n; ++i) t[i * n + i] = 2.0 + i;  // safely away from zero
  Matrix lower(n * n, 0.0), upper(n * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) (j <= i ? lower : upper)[i * n + j] = t[i * n + j];
  for (int i = 0; i < n; ++i) upper[i * n + i] = t[i * n + i];
  const Matrix b = random_matrix(rng, n, 1);

  // The whole block t is passed: the other triangle is noise that must be ignored.
  Matrix x(n, kNaN), rhs = b;
  ASSERT_EQ(Lower_Triangular_Solve(t.data(), rhs.data(), x.data(), n), 0);
  expect_near_matrix(naive_product(lower, x, n, n, 1), b, 1e-13);
  ASSERT_EQ(Upper_Triangular_Solve(t.data(), rhs.data(), x.data(), n), 0);
  expect_near_matrix(naive_product(upper, x, n, n, 1), b, 1e-13);
  ASSERT_EQ(Upper_Triangular_Solve(t.data(), rhs.data(), rhs.data(), n), 0);  // in place
  EXPECT_EQ(rhs, x);

  Matrix inv = t;
  ASSERT_EQ(Lower_Triangular_Inverse(inv.data(), n), 0);
  Matrix inv_lower(n * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      if (j <= i)
        inv_lower[i * n + j] = inv[i * n + j];
      else
        EXPECT_EQ(inv[i * n + j], t[i * n + j]) << "upper triangle is left alone";
    }
  expect_near_matrix(naive_product(lower, inv_lower, n, n, n), identity(n), 1e-13);
}

TEST(TriangularSolve, ZeroDiagonalIsRejected) {
  // Diagonal entry 2 is exactly zero; a tiny or negative one is accepted.
  Matrix t = {1, 0, 0, 5, -2, 0, 7, 8, 0};
  double b[] = {1, 2, 3}, x[3];
  EXPECT_EQ(Lower_Triangular_Solve(t.data(), b, x, 3), -1);
  EXPECT_EQ(Choleski_LU_Solve(t.data(), b, x, 3), -1);
  Matrix u = {0, 4, 6, 0, 1, 9, 0, 0, 1e-300};
  EXPECT_EQ(Upper_Triangular_Solve(u.data(), b, x, 3), -1);
  u[0] = -1.0;
  EXPECT_EQ(Upper_Triangular_Solve(u.data(), b, x, 3), 0);

  Matrix inv = t;
  EXPECT_EQ(Lower_Triangular_Inverse(inv.data(), 3), -1);
  // The diagonal entries before the zero already hold their reciprocals.
  EXPECT_EQ(inv[0], 1.0);
  EXPECT_EQ(inv[4], -0.5);
  inv = t;
  EXPECT_EQ(Choleski_LU_Inverse(inv.data(), 3), -1);
}

TEST(MatrixProducts, NonSquareShapesMatchNaiveLoops) {
  std::mt19937 rng(2024);
  Matrix a34 = random_matrix(rng, 3, 4), b42 = random_matrix(rng, 4, 2);
  Matrix b54 = random_matrix(rng, 5, 4), a35 = random_matrix(rng, 3, 5);
  Matrix a53 = random_matrix(rng, 5, 3);
  // Each result block gets one guard element that must stay untouched.
  auto block = [](int size) { return Matrix(size + 1, kNaN); };
  auto result = [](Matrix m) {
    EXPECT_TRUE(std::isnan(m.back())) << "wrote past the result block";
    m.pop_back();
    return m;
  };

  Matrix c = block(12);
  Transpose_Matrix(c.data(), a34.data(), 3, 4);
  EXPECT_EQ(result(c), naive_transpose(a34, 3, 4));

  c = block(6);
  Multiply_Matrices(c.data(), a34.data(), 3, 4, b42.data(), 2);
  EXPECT_EQ(result(c), naive_product(a34, b42, 3, 4, 2));

  c = block(15);
  Multiply_Matrix_with_Transpose(c.data(), a34.data(), 3, 4, b54.data(), 5);
  EXPECT_EQ(result(c), naive_product(a34, naive_transpose(b54, 5, 4), 3, 4, 5));

  c = block(9);
  Multiply_Self_Transpose(c.data(), a35.data(), 3, 5);
  EXPECT_EQ(result(c), naive_product(a35, naive_transpose(a35, 3, 5), 3, 5, 3));

  c = block(9);
  Self_Transpose_Multiply(c.data(), a53.data(), 5, 3);
  EXPECT_EQ(result(c), naive_product(naive_transpose(a53, 5, 3), a53, 3, 5, 3));
}

TEST(MatrixProducts, DivideByScalarMultipliesByTheReciprocal) {
  const double third = 1.0 / 3.0;
  const Matrix original = {3.0, 1.0, 6.0, -9.0, 0.0, 1.5};
  Matrix a = original;
  Divide_Matrix_by_Scalar(a.data(), 3.0, 2, 3);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_EQ(a[1], third);
  for (int i = 2; i < 6; ++i) EXPECT_EQ(a[i], original[i] * third) << "entry " << i;

  // 3 * (1 / 10) and 3 / 10 differ in the last place: the entry must be the product.
  double v = 3.0;
  Divide_Matrix_by_Scalar(&v, 10.0, 1, 1);
  EXPECT_EQ(v, 3.0 * 0.1);
  EXPECT_NE(v, 3.0 / 10.0);
}
