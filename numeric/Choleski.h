// Cholesky factorisation A = L*L^T of small dense symmetric matrices, with solve and inverse.
// Matrices are contiguous row-major blocks of n*n doubles supplied by the caller; entry
// (i, j) is element i*n + j. Nothing here allocates. Status: 0 success, -1 failure.
#ifndef QUILLANE_NUMERIC_CHOLESKI_H
#define QUILLANE_NUMERIC_CHOLESKI_H

// In-out A: replaced by the factor storage (L in the lower triangle with the diagonal, L^T
// in the strict upper triangle). Returns -1 as soon as a pivot is not > 0 (A not positive
// definite); A is then partly overwritten.
int Choleski_LU_Decomposition(double* A, int n);

// In LU: factor storage; in B; out x (may be B). Solves A*x = B by a forward and a backward
// substitution. Returns -1 when a diagonal entry of L is exactly 0.
int Choleski_LU_Solve(double* LU, double B[], double x[], int n);

// In-out LU: factor storage, replaced by the full symmetric A^-1 = (L^-1)^T * L^-1.
// Returns -1 when a diagonal entry of L is exactly 0.
int Choleski_LU_Inverse(double* LU, int n);

#endif
