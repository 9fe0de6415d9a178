#include "matting/supernodal_solve.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

typedef SuiteSparse_long Index;

// Four sums side by side: the compiler may not reorder one sum, and the sweep is as fast as
// the memory then.
template <typename Real>
double dot(const Real* a, const double* b, Index n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  Index i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += a[i] * b[i];
    s1 += a[i + 1] * b[i + 1];
    s2 += a[i + 2] * b[i + 2];
    s3 += a[i + 3] * b[i + 3];
  }
  for (; i < n; ++i) s0 += a[i] * b[i];
  return (s0 + s1) + (s2 + s3);
}

template <typename Real>
void solve(const cholmod_factor* factor, const Real* lx, const double* b, double* x,
           std::vector<double>* work) {
  const Index n = static_cast<Index>(factor->n);
  const Index nsuper = static_cast<Index>(factor->nsuper);
  const Index* super = static_cast<const Index*>(factor->super);
  const Index* pi = static_cast<const Index*>(factor->pi);
  const Index* px = static_cast<const Index*>(factor->px);
  const Index* rows = static_cast<const Index*>(factor->s);
  const Index* perm = static_cast<const Index*>(factor->Perm);

  Index widest = 0;
  for (Index s = 0; s < nsuper; ++s) widest = std::max(widest, pi[s + 1] - pi[s]);
  if (work->size() < static_cast<size_t>(n + widest)) work->resize(static_cast<size_t>(n + widest));
  double* y = work->data();   // the permuted vector, solved in place
  double* w = y + n;          // one supernode's rows

  for (Index k = 0; k < n; ++k) y[k] = b[perm != nullptr ? perm[k] : k];

  // L y = P b: each supernode's columns in turn, its rows gathered, the updates scattered.
  for (Index s = 0; s < nsuper; ++s) {
    const Index k1 = super[s], ncols = super[s + 1] - k1, nrows = pi[s + 1] - pi[s];
    const Index* r = rows + pi[s];
    const Real* block = lx + px[s];  // nrows x ncols, by columns
    std::copy(y + k1, y + k1 + ncols, w);
    std::fill(w + ncols, w + nrows, 0.0);
    for (Index j = 0; j < ncols; ++j) {
      const Real* column = block + j * nrows;
      const double xj = w[j] / column[j];
      w[j] = xj;
      for (Index i = j + 1; i < nrows; ++i) w[i] -= column[i] * xj;
    }
    std::copy(w, w + ncols, y + k1);
    for (Index i = ncols; i < nrows; ++i) y[r[i]] += w[i];
  }

  // L' x = y: the supernodes backwards, each column against the rows below it.
  for (Index s = nsuper - 1; s >= 0; --s) {
    const Index k1 = super[s], ncols = super[s + 1] - k1, nrows = pi[s + 1] - pi[s];
    const Index* r = rows + pi[s];
    const Real* block = lx + px[s];
    for (Index i = 0; i < nrows; ++i) w[i] = y[r[i]];
    for (Index j = ncols - 1; j >= 0; --j) {
      const Real* column = block + j * nrows;
      w[j] = (w[j] - dot(column + j + 1, w + j + 1, nrows - j - 1)) / column[j];
    }
    std::copy(w, w + ncols, y + k1);
  }

  for (Index k = 0; k < n; ++k) x[perm != nullptr ? perm[k] : k] = y[k];
}

}  // namespace

bool supernodal_solvable(const cholmod_factor* factor) {
  return factor != nullptr && factor->is_super && factor->is_ll && factor->xtype == CHOLMOD_REAL &&
         factor->itype == CHOLMOD_LONG && factor->dtype == CHOLMOD_DOUBLE;
}

void supernodal_solve(const cholmod_factor* factor, const double* b, double* x,
                      std::vector<double>* work) {
  solve(factor, static_cast<const double*>(factor->x), b, x, work);
}

void supernodal_solve(const cholmod_factor* factor, const float* values, const double* b,
                      double* x, std::vector<double>* work) {
  solve(factor, values, b, x, work);
}

bool supernodal_narrow(cholmod_factor* factor, std::vector<float>* values, cholmod_common* cc) {
  const double* x = static_cast<const double*>(factor->x);
  try {
    values->assign(x, x + factor->xsize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  factor->x = cholmod_l_free(factor->xsize, sizeof(double), factor->x, cc);
  return true;
}
