// Forward substitution and inversion with lower-triangular matrices (row-major n*n blocks;
// only the lower triangle, diagonal included, is read). Status: 0 success, -1 failure.
#ifndef QUILLANE_NUMERIC_LOWER_TRIANGULAR_H
#define QUILLANE_NUMERIC_LOWER_TRIANGULAR_H

// In L, in B, out x (may be B): solves L*x = B. Returns -1 on a diagonal entry exactly 0.
int Lower_Triangular_Solve(double* L, double B[], double x[], int n);

// In-out L: the lower triangle is replaced by that of L^-1. Returns -1 on a diagonal entry
// exactly 0 (earlier diagonal entries are already replaced by their reciprocals then).
int Lower_Triangular_Inverse(double* L, int n);

#endif
