// The overlapping Schwarz preconditioner of a level system, and conjugate gradients with it.
//
// The image is cut into rectangular tiles of about tile_variables variables each (recursive
// bisection by variable count). Every tile, widened by `overlap` pixels on each side, is
// factorised with CHOLMOD on all cores; the preconditioner adds up the tiles' solutions. Cost
// and memory grow linearly with the variables, where one sparse factorisation of the whole
// level grows like n^1.5. With a single tile the first step is a direct solve.
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

class SchwarzPreconditioner : public Preconditioner {
 public:
  // Cuts the system (in, borrowed: it must outlive the object) into tiles and factorises them
  // on all cores. Reports progress to the calculation's control; throws CalcCancelled when it
  // asks to stop and std::bad_alloc when memory runs out (nothing is left allocated then).
  SchwarzPreconditioner(const LevelSystem& system, int64_t tile_variables, int overlap);
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
// options; in-out x: the initial guess (variables() long), the solution on return. Reports progress
// to the calculation's control; throws CalcCancelled when it asks to stop and std::bad_alloc when
// memory runs out (nothing is left allocated then).
SchwarzResult schwarz_solve(const LevelSystem& system, std::vector<double>* x,
                            const SchwarzOptions& options);

#endif
