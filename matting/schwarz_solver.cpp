#include "matting/schwarz_solver.h"

#include <cholmod.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "matting/blas_guard.h"
#include "matting/calc_control.h"
#include "matting/stage_profile.h"

namespace {

typedef SuiteSparse_long Index;

struct Rect {
  int x0, y0, x1, y1;  // columns x0..x1-1, rows y0..y1-1
};

// Variables in any rectangle in constant time, from prefix sums over the pixels.
class VariableCounts {
 public:
  explicit VariableCounts(const LevelSystem& s)
      : h1_(static_cast<size_t>(s.height) + 1), sum_((static_cast<size_t>(s.width) + 1) * h1_, 0) {
    for (int x = 0; x < s.width; ++x)
      for (int y = 0; y < s.height; ++y) {
        const bool var = s.var_of[static_cast<size_t>(x) * s.height + y] >= 0;
        sum_[at(x + 1, y + 1)] = sum_[at(x, y + 1)] + sum_[at(x + 1, y)] - sum_[at(x, y)] + var;
      }
  }
  int64_t count(const Rect& r) const {
    return sum_[at(r.x1, r.y1)] - sum_[at(r.x0, r.y1)] - sum_[at(r.x1, r.y0)] +
           sum_[at(r.x0, r.y0)];
  }

 private:
  size_t at(int x, int y) const { return static_cast<size_t>(x) * h1_ + y; }
  size_t h1_;
  std::vector<int64_t> sum_;
};

// Cuts r in halves by variable count, across its longer side, until each part holds at most
// limit variables; parts without variables are dropped.
void bisect(const VariableCounts& counts, const Rect& r, int64_t limit, std::vector<Rect>* out) {
  const int64_t n = counts.count(r);
  if (n == 0) return;
  const bool across_x = r.x1 - r.x0 >= r.y1 - r.y0;
  const int lo = across_x ? r.x0 : r.y0, hi = across_x ? r.x1 : r.y1;
  if (n <= limit || hi - lo < 2) {
    out->push_back(r);
    return;
  }
  auto first_part = [&](int m) {
    return across_x ? Rect{r.x0, r.y0, m, r.y1} : Rect{r.x0, r.y0, r.x1, m};
  };
  int a = lo + 1, b = hi - 1;  // the smallest cut with at least half the variables before it
  while (a < b) {
    const int m = a + (b - a) / 2;
    if (2 * counts.count(first_part(m)) >= n)
      b = m;
    else
      a = m + 1;
  }
  bisect(counts, first_part(a), limit, out);
  bisect(counts, across_x ? Rect{a, r.y0, r.x1, r.y1} : Rect{r.x0, a, r.x1, r.y1}, limit, out);
}

// Runs work(item, worker) for items 0..count-1 on all cores. The calling thread is worker 0
// and runs between() after each of its items (progress, cancel checks); an exception there or
// in any item stops the others and is rethrown here once every thread has ended.
void for_each_parallel(size_t count, int workers, const std::function<void(size_t, int)>& work,
                       const std::function<void()>& between) {
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  std::mutex failure_lock;
  auto run = [&](int worker) {
    try {
      for (size_t i; !stop && (i = next++) < count;) {
        work(i, worker);
        if (worker == 0) between();
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(failure_lock);
      if (!failure) failure = std::current_exception();
      stop = true;
    }
  };
  std::vector<std::thread> threads;
  try {
    for (int k = 1; k < workers; ++k) threads.emplace_back(run, k);
  } catch (...) {
    // Fewer threads than hoped (no memory for a stack): the others do the work.
  }
  run(0);
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

int worker_count() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 16u));
}

// The tiles run in parallel already: threads inside each factorisation, OpenBLAS's and the
// OpenMP teams of CHOLMOD (which asks for 4 whatever the machine), would only compete with
// them and spin. Both are kept to one thread while the solver runs, where the libraries
// offer the means; the previous settings come back afterwards.
class SerialLibraries {
 public:
  SerialLibraries() {
    blas_set_ = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"));
    auto blas_get = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "openblas_get_num_threads"));
    if (blas_set_ != nullptr && blas_get != nullptr) {
      blas_previous_ = blas_get();
      blas_set_(1);
    }
    omp_set_ = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    auto omp_get = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "omp_get_max_active_levels"));
    if (omp_set_ != nullptr && omp_get != nullptr) {
      omp_previous_ = omp_get();
      omp_set_(0);  // every parallel region runs on the thread that meets it
    }
  }
  ~SerialLibraries() {
    if (blas_set_ != nullptr && blas_previous_ > 0) blas_set_(blas_previous_);
    if (omp_set_ != nullptr && omp_previous_ >= 0) omp_set_(omp_previous_);
  }
  SerialLibraries(const SerialLibraries&) = delete;
  SerialLibraries& operator=(const SerialLibraries&) = delete;

 private:
  void (*blas_set_)(int) = nullptr;
  int blas_previous_ = 0;
  void (*omp_set_)(int) = nullptr;
  int omp_previous_ = -1;
};

// What one worker thread keeps between tiles.
struct Worker {
  cholmod_common cc;
  std::vector<int32_t> local;  // variable -> position in the current tile, or -1
  std::vector<double> z;       // this worker's share of the preconditioned residual
  cholmod_dense* B = nullptr;
  cholmod_dense* X = nullptr;
  cholmod_dense* Y = nullptr;
  cholmod_dense* E = nullptr;

  Worker() {
    cholmod_l_start(&cc);
    cc.print = 0;
    cc.nmethods = 1;
    cc.method[0].ordering = CHOLMOD_AMD;
    cc.quick_return_if_not_posdef = 1;
  }
  ~Worker() {
    cholmod_l_free_dense(&B, &cc);
    cholmod_l_free_dense(&X, &cc);
    cholmod_l_free_dense(&Y, &cc);
    cholmod_l_free_dense(&E, &cc);
    cholmod_l_finish(&cc);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
};

struct Tile {
  std::vector<int64_t> vars;  // ascending
  cholmod_factor* factor = nullptr;
};

void check_cholmod(const cholmod_common& cc) {
  if (cc.status == CHOLMOD_OUT_OF_MEMORY || cc.status == CHOLMOD_TOO_LARGE) throw std::bad_alloc();
}

// Factorises the tile's principal submatrix. A submatrix that is only semi-definite in
// working precision (a large flat region with epsilon 1e-7) is factorised with a tiny
// diagonal shift instead: the preconditioner need not be exact. Returns whether it was.
bool factorise_tile(const LevelSystem& s, Tile* tile, Worker* w) {
  const int64_t m = static_cast<int64_t>(tile->vars.size());
  for (int64_t j = 0; j < m; ++j) w->local[tile->vars[j]] = static_cast<int32_t>(j);
  // Upper triangle by columns: rows are sorted and the tile keeps the global order, so the
  // entries of column j with local row <= j come first in row vars[j].
  int64_t nnz = 0;
  for (int64_t j = 0; j < m; ++j) {
    const int64_t v = tile->vars[j];
    for (int64_t k = s.row_start[v]; k < s.row_start[v + 1] && s.col[k] <= v; ++k)
      nnz += w->local[s.col[k]] >= 0;
  }
  cholmod_sparse* A = cholmod_l_allocate_sparse(m, m, nnz, 1, 1, 1, CHOLMOD_REAL, &w->cc);
  bool shifted = false;
  if (A != nullptr) {
    Index* Ap = static_cast<Index*>(A->p);
    Index* Ai = static_cast<Index*>(A->i);
    double* Ax = static_cast<double*>(A->x);
    Index at = 0;
    double diagonal = 0;
    for (int64_t j = 0; j < m; ++j) {
      Ap[j] = at;
      const int64_t v = tile->vars[j];
      for (int64_t k = s.row_start[v]; k < s.row_start[v + 1] && s.col[k] <= v; ++k) {
        const int32_t i = w->local[s.col[k]];
        if (i < 0) continue;
        Ai[at] = i;
        Ax[at++] = s.val[k];
        if (s.col[k] == v) diagonal += s.val[k];
      }
    }
    Ap[m] = at;
    tile->factor = cholmod_l_analyze(A, &w->cc);
    if (tile->factor != nullptr) {
      cholmod_l_factorize(A, tile->factor, &w->cc);
      if (w->cc.status == CHOLMOD_NOT_POSDEF) {
        double beta[2] = {1e-10 * diagonal / std::max<int64_t>(m, 1), 0};
        cholmod_l_factorize_p(A, beta, nullptr, 0, tile->factor, &w->cc);
        shifted = true;
      }
    }
    cholmod_l_free_sparse(&A, &w->cc);
  }
  for (int64_t v : tile->vars) w->local[v] = -1;
  check_cholmod(w->cc);
  if (tile->factor == nullptr) throw std::bad_alloc();
  return shifted;
}

// Adds the tile's solution of A_tile y = r_tile into w->z.
void apply_tile(const Tile& tile, const std::vector<double>& r, Worker* w) {
  const Index m = static_cast<Index>(tile.vars.size());
  if (w->B == nullptr || static_cast<Index>(w->B->nzmax) < m) {
    cholmod_l_free_dense(&w->B, &w->cc);
    w->B = cholmod_l_allocate_dense(m, 1, m, CHOLMOD_REAL, &w->cc);
    if (w->B == nullptr) throw std::bad_alloc();
  }
  w->B->nrow = m;
  w->B->d = m;
  double* b = static_cast<double*>(w->B->x);
  for (Index i = 0; i < m; ++i) b[i] = r[tile.vars[i]];
  if (!cholmod_l_solve2(CHOLMOD_A, tile.factor, w->B, nullptr, &w->X, nullptr, &w->Y, &w->E,
                        &w->cc)) {
    check_cholmod(w->cc);
    throw std::bad_alloc();
  }
  const double* y = static_cast<const double*>(w->X->x);
  for (Index i = 0; i < m; ++i) w->z[tile.vars[i]] += y[i];
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
  return sum;
}

// Owns the workers and the tiles' factors.
struct Solver {
  std::vector<std::unique_ptr<Worker>> workers;
  std::vector<Tile> tiles;
  ~Solver() {
    if (workers.empty()) return;  // no factor was made
    for (Tile& t : tiles) cholmod_l_free_factor(&t.factor, &workers[0]->cc);
  }
};

}  // namespace

SchwarzResult schwarz_solve(const LevelSystem& s, std::vector<double>* x,
                            const SchwarzOptions& options) {
  SerialLibraries serial_libraries;
  const int64_t nv = s.variables();
  SchwarzResult result;
  if (nv == 0) return result;

  Solver solver;
  std::vector<Rect> rects;
  {
    VariableCounts counts(s);
    bisect(counts, Rect{0, 0, s.width, s.height}, std::max<int64_t>(options.tile_variables, 1),
           &rects);
  }
  for (const Rect& r : rects) {
    Tile tile;
    const int x0 = std::max(r.x0 - options.overlap, 0),
              x1 = std::min(r.x1 + options.overlap, s.width);
    const int y0 = std::max(r.y0 - options.overlap, 0),
              y1 = std::min(r.y1 + options.overlap, s.height);
    for (int xx = x0; xx < x1; ++xx)
      for (int y = y0; y < y1; ++y) {
        const int64_t v = s.var_of[static_cast<size_t>(xx) * s.height + y];
        if (v >= 0) tile.vars.push_back(v);
      }
    solver.tiles.push_back(std::move(tile));
  }
  result.tiles = static_cast<int>(solver.tiles.size());
  const int workers = std::min<int>(worker_count(), result.tiles);
  BlasBuffers blas(workers - 1);  // the calculating thread has its own already
  for (int k = 0; k < workers; ++k) {
    solver.workers.emplace_back(new Worker);
    solver.workers.back()->local.assign(static_cast<size_t>(nv), -1);
  }

  matte_stage_begin(MATTE_STAGE_NUMERIC);
  std::atomic<size_t> done{0};
  std::atomic<bool> shifted{false};
  for_each_parallel(
      solver.tiles.size(), workers,
      [&](size_t i, int k) {
        if (factorise_tile(s, &solver.tiles[i], solver.workers[k].get())) shifted = true;
        ++done;
      },
      [&] { calc_report_fraction(static_cast<double>(done) / solver.tiles.size()); });
  matte_stage_end(MATTE_STAGE_NUMERIC);

  matte_stage_begin(MATTE_STAGE_SOLVE);
  // Each worker adds its tiles into its own share; the shares keep their memory between steps.
  for (auto& w : solver.workers) w->z.assign(static_cast<size_t>(nv), 0.0);
  auto precondition = [&](const std::vector<double>& r, std::vector<double>* z) {
    for_each_parallel(
        solver.tiles.size(), workers,
        [&](size_t i, int k) { apply_tile(solver.tiles[i], r, solver.workers[k].get()); },
        [] { calc_check_cancel(); });
    z->resize(static_cast<size_t>(nv));
    for (int64_t v = 0; v < nv; ++v) {
      double sum = 0.0;
      for (auto& w : solver.workers) {
        sum += w->z[v];
        w->z[v] = 0.0;
      }
      (*z)[v] = sum;
    }
  };

  std::vector<double>& xs = *x;
  std::vector<double> r, z, p, q;
  level_system_multiply(s, xs, &q);
  r.resize(static_cast<size_t>(nv));
  for (int64_t v = 0; v < nv; ++v) r[v] = s.rhs[v] - q[v];
  precondition(r, &z);
  if (result.tiles == 1 && !shifted) {
    // One exact factorisation: the first correction solves the system.
    for (int64_t v = 0; v < nv; ++v) xs[v] += z[v];
    matte_stage_end(MATTE_STAGE_SOLVE);
    return result;
  }
  double rz = dot(r, z);
  const double rz0 = rz;
  result.residual = 1.0;
  p = z;
  for (int it = 1; it <= options.max_iterations && rz > 0; ++it) {
    calc_report_fraction(static_cast<double>(it - 1) / options.max_iterations);
    level_system_multiply(s, p, &q);
    const double alpha = rz / dot(p, q);
    for (int64_t v = 0; v < nv; ++v) {
      xs[v] += alpha * p[v];
      r[v] -= alpha * q[v];
    }
    result.iterations = it;
    precondition(r, &z);
    const double rz_next = dot(r, z);
    result.residual = std::sqrt(std::max(rz_next, 0.0) / rz0);
    if (result.residual < options.tolerance) break;
    const double beta = rz_next / rz;
    rz = rz_next;
    for (int64_t v = 0; v < nv; ++v) p[v] = z[v] + beta * p[v];
  }
  matte_stage_end(MATTE_STAGE_SOLVE);
  return result;
}
