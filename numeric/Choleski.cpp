#include "numeric/Choleski.h"

#include <cmath>

#include "numeric/lower_triangular.h"
#include "numeric/upper_triangular.h"

int Choleski_LU_Decomposition(double* A, int n) {
  for (int k = 0; k < n; ++k) {
    double* row_k = A + k * n;
    for (int p = 0; p < k; ++p) row_k[k] -= row_k[p] * row_k[p];
    // Written as a negation so that NaN is rejected as well.
    if (!(row_k[k] > 0.0)) return -1;
    row_k[k] = std::sqrt(row_k[k]);
    double reciprocal = 1.0 / row_k[k];
    for (int i = k + 1; i < n; ++i) {
      double* row_i = A + i * n;
      for (int p = 0; p < k; ++p) row_i[k] -= row_i[p] * row_k[p];
      row_i[k] *= reciprocal;
      row_k[i] = row_i[k];
    }
  }
  return 0;
}

int Choleski_LU_Solve(double* LU, double B[], double x[], int n) {
  if (Lower_Triangular_Solve(LU, B, x, n) < 0) return -1;
  return Upper_Triangular_Solve(LU, x, x, n);
}

int Choleski_LU_Inverse(double* LU, int n) {
  if (Lower_Triangular_Inverse(LU, n) < 0) return -1;
  // The lower triangle now holds M = L^-1; A^-1 = M^T * M, which only needs entries of
  // rows k >= i, so it can be written into the block in place row by row.
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      double sum = 0.0;
      for (int k = i; k < n; ++k) sum += LU[k * n + i] * LU[k * n + j];
      LU[i * n + j] = sum;
      LU[j * n + i] = sum;
    }
  }
  return 0;
}
