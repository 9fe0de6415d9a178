#include "matting/schwarz_solver.h"

#include <cholmod.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>

#include "matting/blas_guard.h"
#include "matting/calc_control.h"
#include "matting/interruptible_blas.h"
#include "matting/serial_openmp.h"
#include "matting/supernodal_solve.h"
#include "matting/parallel.h"

namespace {

typedef SuiteSparse_long Index;

struct Rect {
  int x0, y0, x1, y1;  // columns x0..x1-1, rows y0..y1-1
};

// Variables in any rectangle in constant time, from prefix sums over the pixels.
class VariableCounts {
 public:
  explicit VariableCounts(const LevelSystem& s) : h1_(static_cast<size_t>(s.height) + 1) {
    calc_assign<int64_t>(&sum_, (static_cast<size_t>(s.width) + 1) * h1_, 0);
    for (int x = 0; x < s.width; ++x) {
      if (x % 256 == 0) calc_check_cancel();
      for (int y = 0; y < s.height; ++y) {
        const bool var = s.var_of[static_cast<size_t>(x) * s.height + y] >= 0;
        sum_[at(x + 1, y + 1)] = sum_[at(x, y + 1)] + sum_[at(x + 1, y)] - sum_[at(x, y)] + var;
      }
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

// Cuts r in halves across its longer side, at its middle, until each part holds at most
// limit variables; parts without variables are dropped. The cuts do not depend on where the
// variables are, only on how many a part holds: a change of the band leaves the parts away
// from it as they were, so that their factorisations can be kept, and a calculation with the
// same band gets the same tiles whatever came before it.
void halve(const VariableCounts& counts, const Rect& r, int64_t limit, std::vector<Rect>* out) {
  const int64_t n = counts.count(r);
  if (n == 0) return;
  const bool across_x = r.x1 - r.x0 >= r.y1 - r.y0;
  const int lo = across_x ? r.x0 : r.y0, hi = across_x ? r.x1 : r.y1;
  if (n <= limit || hi - lo < 2) {
    out->push_back(r);
    return;
  }
  const int m = lo + (hi - lo) / 2;
  halve(counts, across_x ? Rect{r.x0, r.y0, m, r.y1} : Rect{r.x0, r.y0, r.x1, m}, limit, out);
  halve(counts, across_x ? Rect{m, r.y0, r.x1, r.y1} : Rect{r.x0, m, r.x1, r.y1}, limit, out);
}

// A part's key in a TileFactorCache: its corners (sides are below 2^16).
uint64_t part_key(const Rect& r) {
  return static_cast<uint64_t>(r.x0) | static_cast<uint64_t>(r.y0) << 16 |
         static_cast<uint64_t>(r.x1) << 32 | static_cast<uint64_t>(r.y1) << 48;
}

// A 64-bit hash of words, to recognise a tile's matrix again.
class Hash {
 public:
  void add(uint64_t word) {
    h_ = (h_ ^ word) * 0x9e3779b97f4a7c15ull;
    h_ ^= h_ >> 29;
  }
  void add(double value) {
    uint64_t word;
    std::memcpy(&word, &value, sizeof word);
    add(word);
  }
  uint64_t value() const { return h_ == 0 ? 1 : h_; }  // 0 means "no factor"

 private:
  uint64_t h_ = 0x243f6a8885a308d3ull;
};

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
  SerialOpenMP plain_regions_;  // and without a team's cost
};

// What one worker thread keeps between tiles.
struct Worker {
  cholmod_common cc;
  std::vector<int32_t> local;  // variable -> position in the current tile, or -1
  cholmod_dense* B = nullptr;
  cholmod_dense* X = nullptr;
  cholmod_dense* Y = nullptr;
  cholmod_dense* E = nullptr;
  std::vector<double> solve_rhs, solve_work;  // for supernodal factors

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

// After a CHOLMOD call that failed: a lack of memory throws std::bad_alloc; anything else is a
// broken invariant of the solver (a factor that does not fit its tile) and ends the process.
[[noreturn]] void cholmod_failed(const cholmod_common& cc) {
  if (cc.status == CHOLMOD_OUT_OF_MEMORY || cc.status == CHOLMOD_TOO_LARGE) throw std::bad_alloc();
  std::fprintf(stderr, "\nFailure - CHOLMOD status %d on a tile of the iterative solve.\n",
               cc.status);
  std::fflush(stderr);
  std::exit(1);
}

// Memory held by a factor, bytes; with its entries narrowed to single precision when
// single_entries.
double factor_bytes(const cholmod_factor* L, bool single_entries) {
  if (L->is_super)
    return (single_entries ? 4.0 : 8.0) * L->xsize + 8.0 * (L->ssize + 4 * L->nsuper + 2 * L->n);
  return 16.0 * L->nzmax + 40.0 * L->n;
}

// A tile's factor, kept in a TileFactorCache between solves of a level.
struct Slot {
  uint64_t hash = 0;  // of the matrix factorised; 0: no factor
  cholmod_factor* factor = nullptr;
  bool shifted = false;
  double bytes = 0;
  std::vector<float> single;  // the entries, when narrowed (the factor's own are gone then)
};

// One tile of a preconditioner: the variables of a part of the partition, widened.
struct Tile {
  std::vector<int32_t> vars;  // ascending
  Slot* slot;                 // in the cache
  std::vector<double> y;      // its last solution, one value per variable of vars
};

// Factorises the tile's principal submatrix into its slot, unless the slot holds the
// factor of the same matrix already (returns false then). A submatrix that is only
// semi-definite in working precision (a large flat region with epsilon 1e-7) is factorised
// with a tiny diagonal shift instead: the preconditioner need not be exact. With narrow, a
// supernodal factor keeps its entries in single precision: one of many tiles only
// preconditions, and half the memory is also half the reading at every step.
bool factorise_tile(const LevelSystem& s, const Tile& tile, Slot* slot, bool narrow,
                    Worker* w) {
  const int64_t m = static_cast<int64_t>(tile.vars.size());
  for (int64_t j = 0; j < m; ++j) w->local[tile.vars[j]] = static_cast<int32_t>(j);
  // Lower triangle by columns: the system's upper rows, restricted to the tile; the tile keeps
  // the global order, so column j's local rows come out ascending, from j on.
  int64_t nnz = 0;
  for (int64_t j = 0; j < m; ++j) {
    const int64_t v = tile.vars[j];
    for (int64_t k = s.row_start[v]; k < s.row_start[v + 1]; ++k) nnz += w->local[s.col[k]] >= 0;
  }
  cholmod_sparse* A = cholmod_l_allocate_sparse(m, m, nnz, 1, 1, -1, CHOLMOD_REAL, &w->cc);
  const bool have_matrix = A != nullptr;
  bool made = false;
  if (A != nullptr) {
    Index* Ap = static_cast<Index*>(A->p);
    Index* Ai = static_cast<Index*>(A->i);
    double* Ax = static_cast<double*>(A->x);
    Index at = 0;
    double diagonal = 0;
    Hash hash;
    hash.add(static_cast<uint64_t>(narrow ? 1 : 2));
    for (int64_t j = 0; j < m; ++j) {
      Ap[j] = at;
      const int64_t v = tile.vars[j];
      hash.add(static_cast<uint64_t>(s.pixel[v]));
      for (int64_t k = s.row_start[v]; k < s.row_start[v + 1]; ++k) {
        const int32_t i = w->local[s.col[k]];
        if (i < 0) continue;
        Ai[at] = i;
        Ax[at++] = s.val[k];
        hash.add(static_cast<uint64_t>(i));
        hash.add(s.val[k]);
        if (s.col[k] == v) diagonal += s.val[k];
      }
    }
    Ap[m] = at;
    if (slot->hash != hash.value() || slot->factor == nullptr) {
      made = true;
      cholmod_l_free_factor(&slot->factor, &w->cc);
      *slot = Slot();
      slot->factor = cholmod_l_analyze(A, &w->cc);
      // A cancel request cuts the factorisation short: the tile is left without a factor.
      InterruptibleBlas cut(calc_control());
      if (slot->factor != nullptr) {
        cholmod_l_factorize(A, slot->factor, &w->cc);
        if (w->cc.status == CHOLMOD_NOT_POSDEF && !blas_cut_short()) {
          double beta[2] = {1e-10 * diagonal / std::max<int64_t>(m, 1), 0};
          cholmod_l_factorize_p(A, beta, nullptr, 0, slot->factor, &w->cc);
          slot->shifted = true;
        }
      }
      if (slot->factor != nullptr && w->cc.status >= CHOLMOD_OK && !blas_cut_short()) {
        slot->hash = hash.value();
      }
    }
    cholmod_l_free_sparse(&A, &w->cc);
    if (made && slot->hash != 0) {
      // Without the memory for the copy, the factor stays as it is: still right, only larger.
      if (narrow && supernodal_solvable(slot->factor))
        supernodal_narrow(slot->factor, &slot->single, &w->cc);
      slot->bytes = factor_bytes(slot->factor, !slot->single.empty());
    }
  }
  for (int64_t v : tile.vars) w->local[v] = -1;
  if (!have_matrix) cholmod_failed(w->cc);  // the slot's factor, if any, is not this matrix's
  if (slot->hash == 0) cholmod_l_free_factor(&slot->factor, &w->cc);  // a failed attempt
  calc_check_cancel();
  if (slot->factor == nullptr) cholmod_failed(w->cc);
  return made;
}

// Makes *dense an nrow x ncol real matrix of leading dimension d, keeping it when it is one
// already; throws std::bad_alloc when it cannot.
void ensure_dense(cholmod_dense** dense, Index nrow, Index ncol, Index d, cholmod_common* cc) {
  const cholmod_dense* a = *dense;
  if (a != nullptr && static_cast<Index>(a->nrow) == nrow && static_cast<Index>(a->ncol) == ncol &&
      static_cast<Index>(a->d) == d && a->xtype == CHOLMOD_REAL)
    return;
  cholmod_l_free_dense(dense, cc);
  *dense = cholmod_l_allocate_dense(nrow, ncol, d, CHOLMOD_REAL, cc);
  if (*dense == nullptr) throw std::bad_alloc();
}

// Solves A_tile y = r_tile into tile->y.
void apply_tile(Tile* tile, const std::vector<double>& r, Worker* w) {
  const cholmod_factor* factor = tile->slot->factor;
  const std::vector<int32_t>& vars = tile->vars;
  const Index m = static_cast<Index>(vars.size());
  if (supernodal_solvable(factor)) {
    w->solve_rhs.resize(static_cast<size_t>(m));
    for (Index i = 0; i < m; ++i) w->solve_rhs[i] = r[vars[i]];
    if (tile->slot->single.empty())
      supernodal_solve(factor, w->solve_rhs.data(), tile->y.data(), &w->solve_work);
    else
      supernodal_solve(factor, tile->slot->single.data(), w->solve_rhs.data(), tile->y.data(),
                       &w->solve_work);
    return;
  }
  if (w->B == nullptr || static_cast<Index>(w->B->nzmax) < m) {
    cholmod_l_free_dense(&w->B, &w->cc);
    w->B = cholmod_l_allocate_dense(m, 1, m, CHOLMOD_REAL, &w->cc);
    if (w->B == nullptr) throw std::bad_alloc();
  }
  w->B->nrow = m;
  w->B->d = m;
  double* b = static_cast<double*>(w->B->x);
  for (Index i = 0; i < m; ++i) b[i] = r[vars[i]];
  // The solve's workspace is made here, in the shapes cholmod_l_solve2 asks for, so that a
  // lack of memory throws before the solve instead of inside it (the simplicial solve makes
  // its own Y whatever it is given).
  ensure_dense(&w->X, m, 1, m, &w->cc);
  if (factor->is_super) {
    ensure_dense(&w->Y, m, 1, m, &w->cc);
    ensure_dense(&w->E, 1, static_cast<Index>(factor->maxesize), 1, &w->cc);
  }
  if (!cholmod_l_solve2(CHOLMOD_A, const_cast<cholmod_factor*>(factor), w->B, nullptr, &w->X,
                        nullptr, &w->Y, &w->E, &w->cc)) {
    cholmod_failed(w->cc);
  }
  const double* y = static_cast<const double*>(w->X->x);
  std::copy(y, y + m, tile->y.begin());
}

}  // namespace

struct TileFactorCache::Impl {
  cholmod_common cc;                         // to free factors with
  std::unordered_map<uint64_t, Slot> slots;  // by part_key()
  int factorised = 0, reused = 0;

  Impl() {
    cholmod_l_start(&cc);
    cc.print = 0;
  }
  ~Impl() {
    clear();
    cholmod_l_finish(&cc);
  }
  void clear() {
    for (auto& s : slots) cholmod_l_free_factor(&s.second.factor, &cc);
    slots.clear();
  }
  // Slots for the parts, those of other parts released. The kept slots move between maps as
  // nodes into room reserved first, so that nothing can fail while a factor is in transit.
  std::vector<Slot*> take(const std::vector<Rect>& parts) {
    std::unordered_map<uint64_t, Slot> kept;
    kept.reserve(parts.size());
    for (const Rect& r : parts) {
      auto found = slots.find(part_key(r));
      if (found != slots.end()) kept.insert(slots.extract(found));
    }
    clear();
    slots.swap(kept);
    std::vector<Slot*> out;
    out.reserve(parts.size());
    for (const Rect& r : parts) out.push_back(&slots[part_key(r)]);
    return out;
  }
};

TileFactorCache::TileFactorCache() : impl_(new Impl) {}
TileFactorCache::~TileFactorCache() = default;

double TileFactorCache::bytes() const {
  double sum = 0;
  for (const auto& s : impl_->slots) sum += s.second.bytes;
  return sum;
}

int TileFactorCache::factorised() const {
  return impl_->factorised;
}

int TileFactorCache::reused() const {
  return impl_->reused;
}

void TileFactorCache::clear() {
  impl_->clear();
}

// Owns the workers; the factors are the cache's (a private one when none was given).
struct SchwarzPreconditioner::Impl {
  SerialLibraries serial_libraries;
  const LevelSystem* system = nullptr;
  std::unique_ptr<TileFactorCache> own_cache;
  TileFactorCache::Impl* cache = nullptr;
  std::vector<std::unique_ptr<Worker>> workers;
  std::vector<Tile> tiles;
  bool shifted = false;
};

SchwarzPreconditioner::SchwarzPreconditioner(const LevelSystem& s, int64_t tile_variables,
                                             int overlap, TileFactorCache* cache)
    : impl_(new Impl) {
  Impl& m = *impl_;
  m.system = &s;
  if (cache == nullptr) {
    m.own_cache.reset(new TileFactorCache);
    cache = m.own_cache.get();
  }
  m.cache = cache->impl_.get();
  m.cache->factorised = m.cache->reused = 0;
  const int64_t nv = s.variables();
  if (nv == 0) return;
  std::vector<Rect> parts;
  {
    const VariableCounts counts(s);
    halve(counts, Rect{0, 0, s.width, s.height}, std::max<int64_t>(tile_variables, 1), &parts);
  }
  const std::vector<Slot*> slots = m.cache->take(parts);
  for (size_t i = 0; i < parts.size(); ++i) {
    const Rect& r = parts[i];
    Tile tile;
    tile.slot = slots[i];
    const int x0 = std::max(r.x0 - overlap, 0), x1 = std::min(r.x1 + overlap, s.width);
    const int y0 = std::max(r.y0 - overlap, 0), y1 = std::min(r.y1 + overlap, s.height);
    for (int xx = x0; xx < x1; ++xx)
      for (int y = y0; y < y1; ++y) {
        const int32_t v = s.var_of[static_cast<size_t>(xx) * s.height + y];
        if (v >= 0) tile.vars.push_back(v);
      }
    tile.y.resize(tile.vars.size());
    m.tiles.push_back(std::move(tile));
  }
  const int workers = std::min<int>(worker_count(), static_cast<int>(m.tiles.size()));
  BlasBuffers blas(workers - 1);  // the calculating thread has its own already
  for (int k = 0; k < workers; ++k) {
    m.workers.push_back(std::make_unique<Worker>());  // no raw pointer if the vector cannot grow
    m.workers.back()->local.assign(static_cast<size_t>(nv), -1);
  }
  const bool narrow = m.tiles.size() > 1;  // a single tile is the direct solve
  std::atomic<size_t> done{0};
  std::atomic<int> made{0};
  for_each_parallel(
      m.tiles.size(), workers,
      [&](size_t i, int k) {
        if (factorise_tile(s, m.tiles[i], m.tiles[i].slot, narrow, m.workers[k].get())) ++made;
        ++done;
      },
      [&] { calc_report_fraction(static_cast<double>(done) / m.tiles.size()); });
  m.cache->factorised = made;
  m.cache->reused = static_cast<int>(m.tiles.size()) - made;
  for (const Tile& t : m.tiles) m.shifted = m.shifted || t.slot->shifted;
}

SchwarzPreconditioner::~SchwarzPreconditioner() = default;

void SchwarzPreconditioner::apply(const std::vector<double>& r, std::vector<double>* z) {
  Impl& m = *impl_;
  for_each_parallel(
      m.tiles.size(), static_cast<int>(m.workers.size()),
      [&](size_t i, int k) { apply_tile(&m.tiles[i], r, m.workers[k].get()); },
      [] { calc_check_cancel(); });
  // Summed in the tiles' order, whichever thread solved which: the same residual gives the
  // same result.
  z->assign(static_cast<size_t>(m.system->variables()), 0.0);
  for (const Tile& t : m.tiles)
    for (size_t i = 0; i < t.vars.size(); ++i) (*z)[t.vars[i]] += t.y[i];
}

bool SchwarzPreconditioner::exact() const {
  return impl_->tiles.size() == 1 && !impl_->shifted;
}

int SchwarzPreconditioner::tiles() const {
  return static_cast<int>(impl_->tiles.size());
}

SchwarzResult schwarz_solve(const LevelSystem& s, std::vector<double>* x,
                            const SchwarzOptions& options, TileFactorCache* cache) {
  SchwarzResult result;
  if (s.variables() == 0) return result;
  matte_stage_begin(MATTE_STAGE_NUMERIC);
  SchwarzPreconditioner preconditioner(s, options.tile_variables, options.overlap, cache);
  matte_stage_end(MATTE_STAGE_NUMERIC);
  result.tiles = preconditioner.tiles();
  matte_stage_begin(MATTE_STAGE_SOLVE);
  const CgResult cg = preconditioned_cg(s, &preconditioner, x,
                                        CgOptions{options.max_iterations, options.tolerance});
  matte_stage_end(MATTE_STAGE_SOLVE);
  result.iterations = cg.iterations;
  result.residual = cg.residual;
  return result;
}
