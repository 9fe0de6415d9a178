// The BLAS-free supernodal solve against a dense elimination of the same small systems.
#include "matting/supernodal_solve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine_fixtures.h"

namespace {

typedef SuiteSparse_long Index;

// Grid neighbours (a 5-point stencil) with random weights, strictly diagonally dominant; with
// `arrow`, the last variable is coupled to every other one (a wide last supernode).
Dense grid_matrix(int w, int h, bool arrow, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> weight(0.1, 1.0);
  const int n = w * h + (arrow ? 1 : 0);
  Dense a(n);
  auto couple = [&](int i, int j) {
    const double c = weight(rng);
    a(i, j) -= c;
    a(j, i) -= c;
    a(i, i) += c;
    a(j, j) += c;
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (x + 1 < w) couple(y * w + x, y * w + x + 1);
      if (y + 1 < h) couple(y * w + x, (y + 1) * w + x);
      if (arrow) couple(y * w + x, n - 1);
    }
  for (int i = 0; i < n; ++i) a(i, i) += 0.01 + weight(rng);
  return a;
}

// The lower triangle of a, by columns, as CHOLMOD takes it. Freed by the caller.
cholmod_sparse* lower_triangle(const Dense& a, cholmod_common* cc) {
  const Index n = a.n;
  Index nnz = 0;
  for (Index j = 0; j < n; ++j)
    for (Index i = j; i < n; ++i) nnz += a(i, j) != 0;
  cholmod_sparse* A = cholmod_l_allocate_sparse(n, n, nnz, 1, 1, -1, CHOLMOD_REAL, cc);
  Index* p = static_cast<Index*>(A->p);
  Index* r = static_cast<Index*>(A->i);
  double* v = static_cast<double*>(A->x);
  Index at = 0;
  for (Index j = 0; j < n; ++j) {
    p[j] = at;
    for (Index i = j; i < n; ++i)
      if (a(i, j) != 0) {
        r[at] = i;
        v[at++] = a(i, j);
      }
  }
  p[n] = at;
  return A;
}

struct Case {
  const char* name;
  int width, height;
  bool arrow;
  int ordering;  // CHOLMOD_AMD or CHOLMOD_NATURAL
  int kind;      // CHOLMOD_SUPERNODAL, or CHOLMOD_SIMPLICIAL: left to CHOLMOD
};

// Against a dense elimination of the same system, in double and narrowed to single precision;
// a simplicial factor (and none) is not taken.
TEST(SupernodalSolve, AgreesWithADenseEliminationOfTheSameSystem) {
  EXPECT_FALSE(supernodal_solvable(nullptr));
  const Case cases[] = {
      {"one variable", 1, 1, false, CHOLMOD_AMD, CHOLMOD_SUPERNODAL},
      {"a line", 40, 1, false, CHOLMOD_AMD, CHOLMOD_SUPERNODAL},
      {"a grid, fill-reducing order", 23, 17, false, CHOLMOD_AMD, CHOLMOD_SUPERNODAL},
      {"a grid, natural order", 23, 17, false, CHOLMOD_NATURAL, CHOLMOD_SUPERNODAL},
      {"a dense last column", 12, 9, true, CHOLMOD_AMD, CHOLMOD_SUPERNODAL},
      {"simplicial", 5, 4, false, CHOLMOD_AMD, CHOLMOD_SIMPLICIAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cholmod_common cc;
    cholmod_l_start(&cc);
    cc.print = 0;
    cc.supernodal = c.kind;
    cc.nmethods = 1;
    cc.method[0].ordering = c.ordering;
    const Dense a = grid_matrix(c.width, c.height, c.arrow, 7);
    const int n = a.n;
    cholmod_sparse* A = lower_triangle(a, &cc);
    cholmod_factor* L = cholmod_l_analyze(A, &cc);
    ASSERT_TRUE(cholmod_l_factorize(A, L, &cc));
    ASSERT_EQ(supernodal_solvable(L), c.kind == CHOLMOD_SUPERNODAL);
    if (c.kind == CHOLMOD_SUPERNODAL) {
      std::mt19937 rng(11);
      std::uniform_real_distribution<double> value(-1.0, 1.0);
      std::vector<double> b(n), x(n), work;
      for (double& v : b) v = value(rng);
      supernodal_solve(L, b.data(), x.data(), &work);
      const std::vector<double> want = dense_solve(a, b);
      double scale = 0;
      for (double v : want) scale = std::max(scale, std::fabs(v));
      for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], want[i], 1e-12 * scale) << "variable " << i;

      // The workspace kept from a larger system serves a second solve unchanged.
      std::vector<double> again(n);
      supernodal_solve(L, b.data(), again.data(), &work);
      EXPECT_EQ(again, x);

      // Narrowed to single precision: the factor's own entries are gone, and the solve is as
      // close as the rounding of L allows (these systems are well conditioned).
      std::vector<float> single;
      ASSERT_TRUE(supernodal_narrow(L, &single, &cc));
      EXPECT_EQ(L->x, nullptr);
      ASSERT_EQ(single.size(), static_cast<size_t>(L->xsize));
      std::vector<double> narrow(n);
      supernodal_solve(L, single.data(), b.data(), narrow.data(), &work);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(narrow[i], want[i], 1e-5 * scale) << "variable " << i;
    }
    cholmod_l_free_factor(&L, &cc);
    cholmod_l_free_sparse(&A, &cc);
    cholmod_l_finish(&cc);
  }
}

}  // namespace
