// The solve with a supernodal Cholesky factor of CHOLMOD, for one right-hand side, without
// BLAS.
//
// The preconditioner of the tiled solver solves with every tile's factor at each step, on all
// cores at once. CHOLMOD's own solve calls dtrsv and dgemv once per supernode, and the
// threaded OpenBLAS takes a process-wide lock for the buffer of each call: two threads solving
// spent a third of their time waiting for each other. The columns of a supernode are swept
// here directly, in a workspace of the thread's own.
#ifndef QUILLANE_MATTING_SUPERNODAL_SOLVE_H
#define QUILLANE_MATTING_SUPERNODAL_SOLVE_H

#include <cholmod.h>

#include <vector>

// Whether supernodal_solve() handles the factor: a real supernodal LL' factor.
bool supernodal_solvable(const cholmod_factor* factor);

// Solves A x = b where factor (in, a real supernodal LL' factor of A with its fill-reducing
// permutation: P A P' = L L') came from cholmod_l_factorize. In b: n values (0-based); out x:
// n values, may not alias b. In-out work: grown as needed and kept by the caller between
// calls; it owns nothing else. Allocates only when work grows (std::bad_alloc then).
void supernodal_solve(const cholmod_factor* factor, const double* b, double* x,
                      std::vector<double>* work);

// The same with the factor's entries in single precision: values (in, factor->xsize of them)
// stand for factor->x, which may be gone (supernodal_narrow()). Sums are taken in double.
void supernodal_solve(const cholmod_factor* factor, const float* values, const double* b,
                      double* x, std::vector<double>* work);

// Halves the memory of a factor that only preconditions: copies its entries into *values
// (out, replaced) in single precision and releases factor->x with cc (in-out), leaving it
// null; the factor is then only for supernodal_solve() with values and for
// cholmod_l_free_factor. Returns false, changing nothing, without the memory for the copy.
bool supernodal_narrow(cholmod_factor* factor, std::vector<float>* values, cholmod_common* cc);

#endif
