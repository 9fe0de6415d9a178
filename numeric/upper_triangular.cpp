#include "numeric/upper_triangular.h"

int Upper_Triangular_Solve(double* U, double B[], double x[], int n) {
  for (int i = n - 1; i >= 0; --i) {
    const double* row = U + i * n;
    if (row[i] == 0.0) return -1;
    x[i] = B[i];
    for (int k = i + 1; k < n; ++k) x[i] -= row[k] * x[k];
    x[i] /= row[i];
  }
  return 0;
}
