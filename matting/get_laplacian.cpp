// The matting Laplacian of one pyramid level.
#include "matting/get_laplacian.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "matting/calc_control.h"
#include "matting/imgutil.h"
#include "numeric/Choleski.h"
#include "numeric/allocate.h"
#include "numeric/allocation_hook.h"
#include "numeric/errhandl.h"
#include "numeric/matrixutil.h"

namespace {

[[noreturn]] void die(const char* message, int status) {
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(status);
}

// Dense working storage of one window, allocated once per call and reused by every window.
struct WindowStorage {
  explicit WindowStorage(int N, int c)
      : list(static_cast<size_t*>(mget_spc(N, sizeof(size_t)))),
        mu(static_cast<double*>(mget_spc(c, sizeof(double)))),
        I(static_cast<double*>(mget_spc(N * c, sizeof(double)))),
        C(static_cast<double*>(mget_spc(c * c, sizeof(double)))),
        mumu(static_cast<double*>(mget_spc(c * c, sizeof(double)))),
        T(static_cast<double*>(mget_spc(N * c, sizeof(double)))),
        A(static_cast<double*>(mget_spc(N * N, sizeof(double)))) {}
  ~WindowStorage() {
    free_spc(list);
    free_spc(mu);
    free_spc(I);
    free_spc(C);
    free_spc(mumu);
    free_spc(T);
    free_spc(A);
  }
  WindowStorage(const WindowStorage&) = delete;
  WindowStorage& operator=(const WindowStorage&) = delete;

  size_t* list;  // 0-based pixel indices, ascending
  double* mu;    // c channel means
  double* I;     // N x c colours, centred after the covariance
  double* C;     // c x c covariance, then its inverse
  double* mumu;  // c x c mean outer product
  double* T;     // N x c, I * C^-1
  double* A;     // N x N affinities
};

// Adds the window entries (list[b] + 1, A[a][b]), b = a .. N-1, into row p = list[a] + 1 of
// M, keeping the row strictly ascending with its diagonal first. The container's fields are
// used directly: going through the per-element operations dominated the run time. A row is
// allocated once, with room for every column it can ever hold (capacity), and then merged in
// place from the back, so rows are never reallocated. Returns false when memory ran out (the
// error is recorded in the register, as the container would).
bool merge_window_row(QMatrix* M, const size_t* list, const double* A, int N, int a,
                      size_t capacity) {
  const size_t p = list[a] + 1;
  const double* affinity = A + static_cast<size_t>(a) * N;
  const size_t len = M->Len[p];
  if (len == 0) {
    ElType* row = static_cast<ElType*>(hooked_malloc(capacity * sizeof(ElType)));
    if (row == nullptr) {
      LASError(LASMemAllocErr, "getLaplacian1", M->Name);
      return false;
    }
    std::free(M->El[p]);
    M->El[p] = row;
    M->Len[p] = static_cast<size_t>(N - a);
    for (int b = a; b < N; ++b) {
      row[b - a].Pos = list[b] + 1;
      row[b - a].Val = affinity[b];
    }
    return true;
  }

  ElType* row = M->El[p];
  // Pass one: count the merged entries. The window's columns start at the diagonal p; a
  // stored column below it would break the invariant that every row starts at its diagonal.
  if (row[0].Pos < p) die("something is askew!!\n", -1);
  size_t i = 0, merged = 0;
  int j = a;
  while (i < len && j < N) {
    const size_t old_col = row[i].Pos, new_col = list[j] + 1;
    if (old_col <= new_col) ++i;
    if (new_col <= old_col) ++j;
    ++merged;
  }
  merged += (len - i) + static_cast<size_t>(N - j);

  if (merged > capacity) die("something is askew!!\n", -1);  // a column outside the reach
  M->Len[p] = merged;
  // Pass two: merge from the highest column down; the write position never falls below the
  // read position of the old entries, so nothing is overwritten before it is read, and the
  // old entries below the last window column are already in place.
  ptrdiff_t r = static_cast<ptrdiff_t>(len) - 1, w = static_cast<ptrdiff_t>(merged) - 1;
  for (int b = N - 1; b >= a; --w) {
    const size_t new_col = list[b] + 1;
    if (r >= 0 && row[r].Pos > new_col) {
      row[w] = row[r--];
    } else if (r >= 0 && row[r].Pos == new_col) {
      row[w].Pos = new_col;
      row[w].Val = row[r--].Val + affinity[b--];
    } else {
      row[w].Pos = new_col;
      row[w].Val = affinity[b--];
    }
  }
  return true;
}

// Value of entry (row, column) of the symmetric row-wise matrix M, 0.0 when not stored: the
// lookup Q_GetEl makes, with a binary search, as rows are strictly ascending.
double stored_entry(const QMatrix* M, size_t row, size_t column) {
  const size_t list = row < column ? row : column;
  const size_t wanted = row < column ? column : row;
  const ElType* el = M->El[list];
  size_t lo = 0, hi = M->Len[list];
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (el[mid].Pos < wanted)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < M->Len[list] && el[lo].Pos == wanted ? el[lo].Val : 0.0;
}

}  // namespace

QMatrix getLaplacian1(const TIFF_img* image, double** mask, double softness, int window_radius) {
  const double eps = softness < 1e-7 ? 1e-7 : softness;
  const int r = window_radius < 1 ? 1 : window_radius;
  const int N = (2 * r + 1) * (2 * r + 1);
  const int c = channel_count(*image);
  const int width = image->width, height = image->height;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  uint8_t** planes[3];
  for (int k = 0; k < c; ++k) planes[k] = c == 3 ? image->channels[k] : image->plane;

  QMatrix L;
  Q_Constr(&L, "A", n, 1, ByRows, 0, 1);
  // Released here only when the calculation stops half-way (a cancel or a lack of memory).
  struct Guard {
    QMatrix* matrix;
    double** known;
    ~Guard() {
      if (known != nullptr) free_img_t(known);
      if (matrix != nullptr) Q_Destr(matrix);
    }
  } guard{&L, nullptr};
  double** known = guard.known = imerode(mask, width, height, r);
  bool ok = LASResult() == LASOK;

  // Window pass: accumulate W over every window that has a free pixel. A row p can hold the
  // columns q >= p of pixels within 2r columns to the right and 2r rows up or down: its own
  // column from the diagonal down (2r + 1) and 2r further columns of 4r + 1.
  WindowStorage s(N, c);
  const size_t capacity = static_cast<size_t>(2 * r + 1) + static_cast<size_t>(2 * r) * (4 * r + 1);
  for (int x = r; ok && x < width - r; ++x) {
    calc_report_fraction(0.9 * x / width);
    for (int y = r; ok && y < height - r; ++y) {
      if (known[y][x] != 0.0) continue;
      int i = 0;
      for (int dx = -r; dx <= r; ++dx)
        for (int dy = -r; dy <= r; ++dy)
          s.list[i++] = static_cast<size_t>(x + dx) * height + static_cast<size_t>(y + dy);
      for (int k = 0; k < c; ++k) {
        double sum = 0.0;
        i = 0;
        for (int dx = -r; dx <= r; ++dx)
          for (int dy = -r; dy <= r; ++dy, ++i) {
            s.I[i * c + k] = planes[k][y + dy][x + dx] / 255.0;
            sum += s.I[i * c + k];
          }
        s.mu[k] = sum / N;
      }

      // Population covariance of the window's colours plus (eps / N) * Id; I is centred.
      Self_Transpose_Multiply(s.C, s.I, N, c);
      Divide_Matrix_by_Scalar(s.C, N, c, c);
      Multiply_Self_Transpose(s.mumu, s.mu, c, 1);
      for (int a = 0; a < c; ++a) {
        for (int b = 0; b < c; ++b) s.C[b * c + a] -= s.mumu[b * c + a];
        for (int k = 0; k < N; ++k) s.I[k * c + a] -= s.mu[a];
        s.C[a * c + a] += eps / N;
      }
      if (Choleski_LU_Decomposition(s.C, c) < 0)
        die("\nFailure - The matrix A is not positive definite "
            "symmetric (within working accuracy).\n",
            1);
      if (Choleski_LU_Inverse(s.C, c) < 0) die("\nFailure - The matrix L is singular.\n", 1);

      // A[i][j] = (1 + (I_i - mu)^T C^-1 (I_j - mu)) / N.
      Multiply_Matrices(s.T, s.I, N, c, s.C, c);
      Multiply_Matrix_with_Transpose(s.A, s.T, N, c, s.I, N);
      for (int k = 0; k < N * N; ++k) s.A[k] = (1.0 + s.A[k]) / N;

      for (int a = 0; ok && a < N; ++a) ok = merge_window_row(&L, s.list, s.A, N, a, capacity);
    }
  }

  // Diagonal pass: L = D - W. Offsets of every pixel within 2r columns and 2r rows, i.e. of
  // every pixel that can share a window with the row's pixel.
  if (ok && LASResult() == LASOK) {
    std::vector<long long> offsets;
    offsets.reserve(static_cast<size_t>(4 * r + 1) * (4 * r + 1));
    for (int a = 0; a <= 4 * r; ++a)
      for (int b = 0; b <= 4 * r; ++b)
        offsets.push_back(static_cast<long long>(a - 2 * r) * height + (b - 2 * r));
    const long long dim = static_cast<long long>(n);
    for (size_t p = 1; p <= n; ++p) {
      if (p % 65536 == 0) calc_check_cancel();
      const size_t len = L.Len[p];
      if (len == 0) continue;
      ElType* row = L.El[p];
      for (size_t k = 0; k < len; ++k) row[k].Val = -row[k].Val;
      // Rows below p are already negated, so s gathers +W(p, q) over all neighbours q.
      double sum = 0.0;
      for (long long o : offsets) {
        const long long q = static_cast<long long>(p) + o;
        if (q >= 1 && q <= dim) sum -= stored_entry(&L, p, static_cast<size_t>(q));
      }
      Q_AddVal(&L, p, 0, sum);
    }
  }
  guard.matrix = nullptr;
  guard.known = nullptr;
  free_img_t(known);
  return L;
}
