#include "numeric/lower_triangular.h"

int Lower_Triangular_Solve(double* L, double B[], double x[], int n) {
  for (int i = 0; i < n; ++i) {
    const double* row = L + i * n;
    if (row[i] == 0.0) return -1;
    x[i] = B[i];
    for (int k = 0; k < i; ++k) x[i] -= row[k] * x[k];
    x[i] /= row[i];
  }
  return 0;
}

int Lower_Triangular_Inverse(double* L, int n) {
  for (int i = 0; i < n; ++i) {
    if (L[i * n + i] == 0.0) return -1;
    L[i * n + i] = 1.0 / L[i * n + i];
  }
  for (int i = 1; i < n; ++i) {
    for (int j = 0; j < i; ++j) {
      double sum = 0.0;
      for (int k = j; k < i; ++k) sum += L[k * n + j] * L[i * n + k];
      L[i * n + j] = -L[i * n + i] * sum;
    }
  }
  return 0;
}
