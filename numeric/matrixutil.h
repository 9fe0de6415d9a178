// Small dense matrix products and transforms on contiguous row-major blocks of doubles.
// The caller supplies every result block at its full size; results must not overlap
// operands. Every product entry is accumulated from 0.0 in increasing inner index.
#ifndef QUILLANE_NUMERIC_MATRIXUTIL_H
#define QUILLANE_NUMERIC_MATRIXUTIL_H

// Out At (ncols x nrows) = transpose of in A (nrows x ncols).
void Transpose_Matrix(double* At, double* A, int nrows, int ncols);

// Out C (nrows x mcols) = A (nrows x ncols) * B (ncols x mcols).
void Multiply_Matrices(double* C, double* A, int nrows, int ncols, double* B, int mcols);

// Out C (nrows x mrows) = A (nrows x ncols) * B^T, with B mrows x ncols.
void Multiply_Matrix_with_Transpose(double* C, double* A, int nrows, int ncols, double* B,
                                    int mrows);

// Out C (nrows x nrows) = A * A^T, with A nrows x ncols; symmetric, upper half copied down.
void Multiply_Self_Transpose(double* C, double* A, int nrows, int ncols);

// Out C (ncols x ncols) = A^T * A, with A nrows x ncols; symmetric, upper half copied down.
void Self_Transpose_Multiply(double* C, double* A, int nrows, int ncols);

// In-out A (nrows x ncols): every entry multiplied by the reciprocal 1.0 / x.
void Divide_Matrix_by_Scalar(double* A, double x, int nrows, int ncols);

#endif
