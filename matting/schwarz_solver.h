// The overlapping Schwarz preconditioner of a level system, and conjugate gradients with it.
//
// The image is cut into rectangular tiles of at most tile_variables variables each (halved at
// the middle of the longer side until they hold no more). Every tile, widened by `overlap`
// pixels on each side, is factorised with CHOLMOD on all cores; the preconditioner adds up the
// tiles' solutions. Cost and memory grow linearly with the variables, where one sparse
// factorisation of the whole level grows like n^1.5. With a single tile the first step is a
// direct solve.
#ifndef QUILLANE_MATTING_SCHWARZ_SOLVER_H
#define QUILLANE_MATTING_SCHWARZ_SOLVER_H

#include <cstdint>
#include <memory>
#include <vector>

#include "matting/conjugate_gradients.h"
#include "matting/constrained_system.h"

struct SchwarzOptions {
  int64_t tile_variables = 40000;  // a tile's variables before widening
  int overlap = 8;                 // pixels added around each tile
  int max_iterations = 10;         // conjugate-gradient steps at most
  double tolerance = 1e-2;         // stop when the preconditioned residual norm falls below this
                                   // fraction of the initial one
};

struct SchwarzResult {
  int tiles = 0;
  int iterations = 0;
  double residual = 0;  // final preconditioned residual norm relative to the initial one
};

// The tiles of a level and their factorisations, kept from one solve of the level's system to
// the next: a tile whose pixels and matrix entries are what they were keeps its factor. Tiles
// are cut at the middle, never where the variables happen to be, so a change of the band in
// one place leaves the tiles elsewhere as they were. Used by one solve at a time.
class TileFactorCache {
 public:
  TileFactorCache();
  ~TileFactorCache();
  TileFactorCache(const TileFactorCache&) = delete;
  TileFactorCache& operator=(const TileFactorCache&) = delete;

  // Memory held by the kept factors, bytes.
  double bytes() const;
  // Tiles the last preconditioner built with this cache factorised, and reused.
  int factorised() const;
  int reused() const;
  // Releases every factor and forgets the partition.
  void clear();

 private:
  friend class SchwarzPreconditioner;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class SchwarzPreconditioner : public Preconditioner {
 public:
  // Cuts the system (in, borrowed: it must outlive the object) into tiles and factorises them
  // on all cores. In-out cache (borrowed, may be null; it must outlive the object): the
  // partition and factors of an earlier solve of the level, updated and kept in it. Reports
  // progress to the calculation's control; throws CalcCancelled when it asks to stop and
  // std::bad_alloc when memory runs out (nothing but the cache's factors is left allocated
  // then: those finished stay in it).
  SchwarzPreconditioner(const LevelSystem& system, int64_t tile_variables, int overlap,
                        TileFactorCache* cache = nullptr);
  ~SchwarzPreconditioner() override;
  SchwarzPreconditioner(const SchwarzPreconditioner&) = delete;
  SchwarzPreconditioner& operator=(const SchwarzPreconditioner&) = delete;

  // Sums the tiles' solutions of A_tile z_tile = r_tile, on all cores.
  void apply(const std::vector<double>& r, std::vector<double>* z) override;
  // One tile factorised without a diagonal shift.
  bool exact() const override;
  int tiles() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Solves the system starting from *x: SchwarzPreconditioner and preconditioned_cg(). In system,
// options; in-out x: the initial guess (variables() long), the solution on return; in-out
// cache: as for SchwarzPreconditioner. Reports progress to the calculation's control; throws
// CalcCancelled when it asks to stop and std::bad_alloc when memory runs out.
SchwarzResult schwarz_solve(const LevelSystem& system, std::vector<double>* x,
                            const SchwarzOptions& options, TileFactorCache* cache = nullptr);

#endif
