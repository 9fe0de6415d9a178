// Back substitution with upper-triangular matrices (row-major n*n block; only the upper
// triangle, diagonal included, is read). Status: 0 success, -1 failure.
#ifndef QUILLANE_NUMERIC_UPPER_TRIANGULAR_H
#define QUILLANE_NUMERIC_UPPER_TRIANGULAR_H

// In U, in B, out x (may be B): solves U*x = B. Returns -1 on a diagonal entry exactly 0.
int Upper_Triangular_Solve(double* U, double B[], double x[], int n);

#endif
