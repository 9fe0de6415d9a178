// The matte of one pyramid level: matting Laplacian plus constraints, solved with UMFPACK.
#include <cholmod.h>
#include <umfpack.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "matting/get_laplacian.h"
#include "matting/imgutil.h"
#include "matting/stage_profile.h"
#include "numeric/allocate.h"
#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"
#include "numeric/vector.h"

namespace {

// Weight that pulls a constrained pixel towards its target.
const double kLambda = 100.0;

// Adds the constraint terms to L (row p's diagonal, or a one-entry row for a constrained
// pixel in no window) and writes the right-hand side 100 * mask * value into d.
void add_constraints(QMatrix* L, Vector* d, double** mask, double** value, int width, int height) {
  for (int x = 0; x < width; ++x)
    for (int y = 0; y < height; ++y) {
      const size_t p = static_cast<size_t>(x) * height + y + 1;
      const double w = mask[y][x] * kLambda;
      if (w != 0.0) {
        if (Q_GetEl(L, p, p) == 0.0) {
          if (Q_GetLen(L, p) != 0) {
            std::fputs(" yes off diagonals exist when main is zero.", stdout);
            std::fflush(stdout);
            std::exit(-1);
          }
          Q_SetLen(L, p, 1);
          Q_SetEntry(L, p, 0, p, w);
        } else {
          Q_AddVal(L, p, 0, w);
        }
      }
      V_SetCmp(d, p, value[y][x] * w);
    }
}

// Builds the compressed-column form of the full symmetric matrix from the upper triangle
// stored in L: every off-diagonal entry in both triangles, every diagonal entry once, 0-based,
// columns sorted. Null when CHOLMOD runs out of memory.
//
// The columns are filled directly instead of through a triplet matrix and a conversion: that
// halves the memory of this step on large images. Walking the rows p = 1..n in order appends
// to column q first the rows i < q (from the rows that store q) and then, when p = q, the
// column's own stored entries in ascending order, so every column comes out sorted.
cholmod_sparse* assemble(QMatrix* L, cholmod_common* cc) {
  const size_t n = L->Dim;
  std::vector<size_t> count(n + 1, 0);  // entries per column, 0-based column
  size_t total = 0;
  for (size_t p = 1; p <= n; ++p) {
    const ElType* row = L->El[p];
    for (size_t k = 0; k < L->Len[p]; ++k) {
      ++count[row[k].Pos - 1];    // (p, q) stored in column q
      if (k > 0) ++count[p - 1];  // its mirror (q, p) in column p
    }
    if (L->Len[p] != 0) total += 2 * L->Len[p] - 1;
  }
  cholmod_sparse* A = cholmod_allocate_sparse(n, n, total, 1, 1, 0, CHOLMOD_REAL, cc);
  if (A == nullptr) return nullptr;
  int* Ap = static_cast<int*>(A->p);
  int* Ai = static_cast<int*>(A->i);
  double* Ax = static_cast<double*>(A->x);
  std::vector<size_t> next(n);
  size_t start = 0;
  for (size_t j = 0; j < n; ++j) {
    Ap[j] = static_cast<int>(start);
    next[j] = start;
    start += count[j];
  }
  Ap[n] = static_cast<int>(start);
  for (size_t p = 1; p <= n; ++p) {
    const ElType* row = L->El[p];
    for (size_t k = 0; k < L->Len[p]; ++k) {
      const size_t q = row[k].Pos;
      const size_t a = next[q - 1]++;  // entry (p, q): row p - 1 of column q - 1
      Ai[a] = static_cast<int>(p) - 1;
      Ax[a] = row[k].Val;
      if (k > 0) {
        const size_t b = next[p - 1]++;  // entry (q, p): row q - 1 of column p - 1
        Ai[b] = static_cast<int>(q) - 1;
        Ax[b] = row[k].Val;
      }
    }
  }
  return A;
}

// The alpha of a level that could not be solved: zero everywhere.
double** zero_alpha(int width, int height) {
  return get_init_arr_t<double>(width, height);
}

}  // namespace

// In image, mask, value (level-sized, [y][x]), softness, window_radius; out *status: the
// UMFPACK status of the solve step (0 success, > 0 warning, < 0 error). Returns a new
// height x width alpha (free_img), clamped to 0..1 (NaN stays). Pixels are numbered
// column-major and 1-based, x * height + y + 1, as in getLaplacian1.
double** solveAlpha(const TIFF_img* image, double** mask, double** value, double softness,
                    int window_radius, int* status) {
  const int width = image->width, height = image->height;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);

  matte_stage_begin(MATTE_STAGE_LAPLACIAN);
  QMatrix L = getLaplacian1(image, mask, softness, window_radius);
  matte_stage_end(MATTE_STAGE_LAPLACIAN);

  matte_stage_begin(MATTE_STAGE_ASSEMBLY);
  Vector d, x;
  V_Constr(&d, "d", n, 0, 1);
  V_SetAllCmp(&d, 0.0);
  V_Constr(&x, "x", n, 0, 1);
  add_constraints(&L, &d, mask, value, width, height);

  // A recorded container error (an allocation that failed while the Laplacian or the
  // constraints were built) means the matrix is incomplete: solving it would give a wrong
  // matte without any sign. Report it as the solver's out-of-memory status instead.
  if (LASResult() != LASOK) {
    Q_Destr(&L);
    V_Destr(&d);
    V_Destr(&x);
    matte_stage_end(MATTE_STAGE_ASSEMBLY);
    *status = UMFPACK_ERROR_out_of_memory;
    return zero_alpha(width, height);
  }

  cholmod_common cc;
  cholmod_start(&cc);
  cholmod_sparse* A = assemble(&L, &cc);
  Q_Destr(&L);
  cholmod_dense* B = cholmod_allocate_dense(n, 1, n, CHOLMOD_REAL, &cc);
  if (A == nullptr || B == nullptr) {
    // CHOLMOD ran out of memory before UMFPACK could be asked.
    cholmod_free_sparse(&A, &cc);
    cholmod_free_dense(&B, &cc);
    cholmod_finish(&cc);
    V_Destr(&d);
    V_Destr(&x);
    matte_stage_end(MATTE_STAGE_ASSEMBLY);
    *status = UMFPACK_ERROR_out_of_memory;
    return zero_alpha(width, height);
  }
  double* rhs = static_cast<double*>(B->x);
  for (size_t i = 0; i < n; ++i) rhs[i] = V_GetCmp(&d, i + 1);
  matte_stage_end(MATTE_STAGE_ASSEMBLY);

  // Symbolic, numeric, solve with UMFPACK's default control. One information array serves
  // all three calls; only the status the solve leaves in it is reported (a failed analysis
  // or factorisation shows there as an invalid symbolic or numeric object).
  const int* Ap = static_cast<const int*>(A->p);
  const int* Ai = static_cast<const int*>(A->i);
  const double* Ax = static_cast<const double*>(A->x);
  const int dim = static_cast<int>(n);
  double info[UMFPACK_INFO];
  void* symbolic = nullptr;
  void* numeric = nullptr;
  matte_stage_begin(MATTE_STAGE_SYMBOLIC);
  umfpack_di_symbolic(dim, dim, Ap, Ai, Ax, &symbolic, nullptr, info);
  matte_stage_end(MATTE_STAGE_SYMBOLIC);
  matte_stage_begin(MATTE_STAGE_NUMERIC);
  umfpack_di_numeric(Ap, Ai, Ax, symbolic, &numeric, nullptr, info);
  umfpack_di_free_symbolic(&symbolic);
  matte_stage_end(MATTE_STAGE_NUMERIC);

  matte_stage_begin(MATTE_STAGE_SOLVE);
  cholmod_dense* X = cholmod_allocate_dense(n, 1, n, CHOLMOD_REAL, &cc);
  if (X != nullptr) {
    double* solution = static_cast<double*>(X->x);
    umfpack_di_solve(UMFPACK_A, Ap, Ai, Ax, solution, rhs, numeric, nullptr, info);
    for (size_t i = 0; i < n; ++i) V_SetCmp(&x, i + 1, solution[i]);
    *status = static_cast<int>(info[UMFPACK_STATUS]);
  } else {
    V_SetAllCmp(&x, 0.0);
    *status = UMFPACK_ERROR_out_of_memory;
  }
  umfpack_di_free_numeric(&numeric);
  cholmod_free_sparse(&A, &cc);
  cholmod_free_dense(&B, &cc);
  cholmod_free_dense(&X, &cc);
  cholmod_finish(&cc);
  matte_stage_end(MATTE_STAGE_SOLVE);

  for (size_t p = 1; p <= n; ++p) {
    const double v = V_GetCmp(&x, p);
    if (v > 1.0)
      V_SetCmp(&x, p, 1.0);
    else if (v < 0.0)
      V_SetCmp(&x, p, 0.0);
  }
  double** alpha = get_img_t<double>(width, height);
  for (int y = 0; y < height; ++y)
    for (int col = 0; col < width; ++col)
      alpha[y][col] = V_GetCmp(&x, static_cast<size_t>(col) * height + y + 1);
  V_Destr(&d);
  V_Destr(&x);
  return alpha;
}
