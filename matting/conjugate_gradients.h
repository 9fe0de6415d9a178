// Preconditioned conjugate gradients on a level's constrained system.
#ifndef QUILLANE_MATTING_CONJUGATE_GRADIENTS_H
#define QUILLANE_MATTING_CONJUGATE_GRADIENTS_H

#include <vector>

#include "matting/constrained_system.h"

// z = M^-1 r for a symmetric positive definite M close to the system's matrix.
class Preconditioner {
 public:
  virtual ~Preconditioner() = default;
  // In r (the system's variables() long, 0-based); out *z (resized to r's length). May throw
  // CalcCancelled and std::bad_alloc.
  virtual void apply(const std::vector<double>& r, std::vector<double>* z) = 0;
  // Whether M is the system's matrix itself, so that one correction solves the system.
  virtual bool exact() const { return false; }
};

struct CgOptions {
  int max_iterations = 10;  // steps at most
  double tolerance = 1e-2;  // stop when the preconditioned residual norm falls below this
                            // fraction of the initial one
};

struct CgResult {
  int iterations = 0;
  double residual = 0;  // final preconditioned residual norm relative to the initial one
};

// Solves the system starting from *x. In system, options; in-out preconditioner (it may keep
// working memory between applications); in-out x: the initial guess (variables() long), the
// solution on return. With an exact preconditioner the first correction is the solution and
// no iteration is counted. Reports each step's fraction to the calculation's control; throws
// CalcCancelled when it asks to stop and std::bad_alloc when memory runs out.
CgResult preconditioned_cg(const LevelSystem& system, Preconditioner* preconditioner,
                           std::vector<double>* x, const CgOptions& options);

#endif
