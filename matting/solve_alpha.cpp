// The matte of one pyramid level: matting Laplacian plus constraints, solved with UMFPACK.
#include "matting/solve_alpha.h"

#include <cholmod.h>
#include <umfpack.h>

#include <new>
#include <vector>

#include "matting/calc_control.h"
#include "matting/constrained_system.h"
#include "matting/get_laplacian.h"
#include "numeric/allocate.h"
#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"
#include "numeric/vector.h"

namespace {

// Index type of UMFPACK's and CHOLMOD's 64-bit interfaces.
typedef SuiteSparse_long Index;

// Builds the compressed-column form of the full symmetric matrix from the upper triangle
// stored in L: every off-diagonal entry in both triangles, every diagonal entry once, 0-based,
// columns sorted, 64-bit indices. Out *out: the matrix, owned by the caller from the moment it
// is allocated (a cancel may stop the filling); null when CHOLMOD runs out of memory.
//
// The columns are filled directly instead of through a triplet matrix and a conversion: that
// halves the memory of this step on large images. Walking the rows p = 1..n in order appends
// to column q first the rows i < q (from the rows that store q) and then, when p = q, the
// column's own stored entries in ascending order, so every column comes out sorted.
void assemble(QMatrix* L, cholmod_common* cc, cholmod_sparse** out) {
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
  calc_check_cancel();
  std::vector<size_t> next(n);
  cholmod_sparse* A = *out = cholmod_l_allocate_sparse(n, n, total, 1, 1, 0, CHOLMOD_REAL, cc);
  if (A == nullptr) return;
  Index* Ap = static_cast<Index*>(A->p);
  Index* Ai = static_cast<Index*>(A->i);
  double* Ax = static_cast<double*>(A->x);
  size_t start = 0;
  for (size_t j = 0; j < n; ++j) {
    Ap[j] = static_cast<Index>(start);
    next[j] = start;
    start += count[j];
  }
  Ap[n] = static_cast<Index>(start);
  for (size_t p = 1; p <= n; ++p) {
    if ((p & 0xffff) == 0) calc_check_cancel();
    const ElType* row = L->El[p];
    for (size_t k = 0; k < L->Len[p]; ++k) {
      const size_t q = row[k].Pos;
      const size_t a = next[q - 1]++;  // entry (p, q): row p - 1 of column q - 1
      Ai[a] = static_cast<Index>(p) - 1;
      Ax[a] = row[k].Val;
      if (k > 0) {
        const size_t b = next[p - 1]++;  // entry (q, p): row q - 1 of column p - 1
        Ai[b] = static_cast<Index>(q) - 1;
        Ax[b] = row[k].Val;
      }
    }
  }
}

// Owns what one solve holds outside the engine's arrays, so that a cancel or a failed
// allocation half-way releases it all.
struct SolveResources {
  QMatrix L{};
  Vector d{}, x{};
  bool have_L = false, have_vectors = false;
  cholmod_common cc;
  bool started = false;
  cholmod_sparse* A = nullptr;
  cholmod_dense* B = nullptr;
  cholmod_dense* X = nullptr;
  void* symbolic = nullptr;
  void* numeric = nullptr;

  ~SolveResources() {
    if (symbolic != nullptr) umfpack_dl_free_symbolic(&symbolic);
    if (numeric != nullptr) umfpack_dl_free_numeric(&numeric);
    if (started) {
      cholmod_l_free_sparse(&A, &cc);
      cholmod_l_free_dense(&B, &cc);
      cholmod_l_free_dense(&X, &cc);
      cholmod_l_finish(&cc);
    }
    if (have_L) Q_Destr(&L);
    if (have_vectors) {
      V_Destr(&d);
      V_Destr(&x);
    }
  }
};

// Ends a calculation that ran out of memory (inside a calculation) or reports it as the
// solver's out-of-memory status with a zero alpha (outside one). Returns the alpha to return.
double** out_of_memory(int width, int height, int* status) {
  if (in_allocation_scope()) throw std::bad_alloc();
  *status = UMFPACK_ERROR_out_of_memory;
  return get_init_arr_t<double>(width, height);
}

}  // namespace

// In image, mask, value (level-sized, [y][x]), softness, window_radius; out *status: the
// UMFPACK status of the first failing step, else of the solve step (0 success, > 0 warning,
// < 0 error). Returns a new height x width alpha (free_img), clamped to 0..1 (NaN stays).
// Pixels are numbered column-major and 1-based, x * height + y + 1, as in getLaplacian1.
// Inside a calculation a lack of memory throws std::bad_alloc instead of returning status -1.
double** solveAlpha(const TIFF_img* image, double** mask, double** value, double softness,
                    int window_radius, int* status) {
  const int width = image->width, height = image->height;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  SolveResources r;

  matte_stage_begin(MATTE_STAGE_LAPLACIAN);
  r.L = getLaplacian1(image, mask, softness, window_radius);
  r.have_L = true;
  matte_stage_end(MATTE_STAGE_LAPLACIAN);

  matte_stage_begin(MATTE_STAGE_ASSEMBLY);
  V_Constr(&r.d, "d", n, 0, 1);
  V_SetAllCmp(&r.d, 0.0);
  V_Constr(&r.x, "x", n, 0, 1);
  r.have_vectors = true;
  add_constraints(&r.L, &r.d, mask, value, width, height);

  // A recorded container error (an allocation that failed while the Laplacian or the
  // constraints were built) means the matrix is incomplete: solving it would give a wrong
  // matte without any sign.
  if (LASResult() != LASOK) return out_of_memory(width, height, status);

  cholmod_l_start(&r.cc);
  r.started = true;
  assemble(&r.L, &r.cc, &r.A);
  Q_Destr(&r.L);
  r.have_L = false;
  r.B = cholmod_l_allocate_dense(n, 1, n, CHOLMOD_REAL, &r.cc);
  if (r.A == nullptr || r.B == nullptr) return out_of_memory(width, height, status);
  double* rhs = static_cast<double*>(r.B->x);
  for (size_t i = 0; i < n; ++i) rhs[i] = V_GetCmp(&r.d, i + 1);
  matte_stage_end(MATTE_STAGE_ASSEMBLY);

  // Symbolic, numeric, solve with UMFPACK's default control, through the 64-bit interface so
  // that only memory limits the size. The first step that fails gives the status; the later
  // steps are not run then (the solve would only report an invalid object).
  const Index* Ap = static_cast<const Index*>(r.A->p);
  const Index* Ai = static_cast<const Index*>(r.A->i);
  const double* Ax = static_cast<const double*>(r.A->x);
  const Index dim = static_cast<Index>(n);
  double info[UMFPACK_INFO];
  matte_stage_begin(MATTE_STAGE_SYMBOLIC);
  umfpack_dl_symbolic(dim, dim, Ap, Ai, Ax, &r.symbolic, nullptr, info);
  matte_stage_end(MATTE_STAGE_SYMBOLIC);
  int step_status = static_cast<int>(info[UMFPACK_STATUS]);
  if (step_status >= 0) {
    matte_stage_begin(MATTE_STAGE_NUMERIC);
    umfpack_dl_numeric(Ap, Ai, Ax, r.symbolic, &r.numeric, nullptr, info);
    umfpack_dl_free_symbolic(&r.symbolic);
    matte_stage_end(MATTE_STAGE_NUMERIC);
    step_status = static_cast<int>(info[UMFPACK_STATUS]);
  }
  if (step_status == UMFPACK_ERROR_out_of_memory) return out_of_memory(width, height, status);

  matte_stage_begin(MATTE_STAGE_SOLVE);
  if (step_status >= 0) {
    r.X = cholmod_l_allocate_dense(n, 1, n, CHOLMOD_REAL, &r.cc);
    if (r.X == nullptr) return out_of_memory(width, height, status);
    double* solution = static_cast<double*>(r.X->x);
    umfpack_dl_solve(UMFPACK_A, Ap, Ai, Ax, solution, rhs, r.numeric, nullptr, info);
    for (size_t i = 0; i < n; ++i) V_SetCmp(&r.x, i + 1, solution[i]);
    step_status = static_cast<int>(info[UMFPACK_STATUS]);
  } else {
    V_SetAllCmp(&r.x, 0.0);
  }
  *status = step_status;
  matte_stage_end(MATTE_STAGE_SOLVE);

  for (size_t p = 1; p <= n; ++p) {
    const double v = V_GetCmp(&r.x, p);
    if (v > 1.0)
      V_SetCmp(&r.x, p, 1.0);
    else if (v < 0.0)
      V_SetCmp(&r.x, p, 0.0);
  }
  double** alpha = get_img_t<double>(width, height);
  for (int y = 0; y < height; ++y)
    for (int col = 0; col < width; ++col)
      alpha[y][col] = V_GetCmp(&r.x, static_cast<size_t>(col) * height + y + 1);
  return alpha;
}
