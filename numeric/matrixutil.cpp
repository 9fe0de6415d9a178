#include "numeric/matrixutil.h"

void Transpose_Matrix(double* At, double* A, int nrows, int ncols) {
  for (int i = 0; i < nrows; ++i)
    for (int j = 0; j < ncols; ++j) At[j * nrows + i] = A[i * ncols + j];
}

void Multiply_Matrices(double* C, double* A, int nrows, int ncols, double* B, int mcols) {
  for (int i = 0; i < nrows; ++i)
    for (int j = 0; j < mcols; ++j) {
      double sum = 0.0;
      for (int k = 0; k < ncols; ++k) sum += A[i * ncols + k] * B[k * mcols + j];
      C[i * mcols + j] = sum;
    }
}

void Multiply_Matrix_with_Transpose(double* C, double* A, int nrows, int ncols, double* B,
                                    int mrows) {
  for (int i = 0; i < nrows; ++i)
    for (int j = 0; j < mrows; ++j) {
      double sum = 0.0;
      for (int k = 0; k < ncols; ++k) sum += A[i * ncols + k] * B[j * ncols + k];
      C[i * mrows + j] = sum;
    }
}

void Multiply_Self_Transpose(double* C, double* A, int nrows, int ncols) {
  for (int i = 0; i < nrows; ++i)
    for (int j = i; j < nrows; ++j) {
      double sum = 0.0;
      for (int k = 0; k < ncols; ++k) sum += A[i * ncols + k] * A[j * ncols + k];
      C[i * nrows + j] = sum;
      C[j * nrows + i] = sum;
    }
}

void Self_Transpose_Multiply(double* C, double* A, int nrows, int ncols) {
  for (int i = 0; i < ncols; ++i)
    for (int j = i; j < ncols; ++j) {
      double sum = 0.0;
      for (int k = 0; k < nrows; ++k) sum += A[k * ncols + i] * A[k * ncols + j];
      C[i * ncols + j] = sum;
      C[j * ncols + i] = sum;
    }
}

void Divide_Matrix_by_Scalar(double* A, double x, int nrows, int ncols) {
  double reciprocal = 1.0 / x;
  for (int i = 0; i < nrows * ncols; ++i) A[i] *= reciprocal;
}
