// The matting Laplacian of a level in compressed upper rows, for the iterative solvers.
//
// The same matrix as getLaplacian1 (get_laplacian.h), up to rounding, but built row by row on
// all cores: every row sums the affinities of the windows around its pixel, with each window's
// colour model computed once. getLaplacian1 merges each window into growing row lists, which
// take more memory than the result and cannot be shared among threads.
#ifndef QUILLANE_MATTING_LAPLACIAN_ROWS_H
#define QUILLANE_MATTING_LAPLACIAN_ROWS_H

#include <cstdint>
#include <vector>

#include "numeric/tiff.h"

struct LaplacianRows {
  // Pixel (x, y) is number x * height + y (0-based, column-major). A row for every pixel that
  // lies in a window with a free pixel; the others have none.
  std::vector<int32_t> var_of;  // pixel -> row, or -1
  std::vector<int32_t> pixel;   // row -> pixel, ascending
  // Row v: columns col[row_start[v]] .. col[row_start[v + 1] - 1], row numbers ascending from
  // the diagonal v, the entries (v, col) of L = D - W for every pixel that shares such a
  // window with v's pixel; val holds their values.
  std::vector<int64_t> row_start;
  std::vector<int32_t> col;
  std::vector<double> val;
};

// In image ('c' or 'a': 3 channels, else 1 from its plane), mask (height x width, [y][x]; 1.0
// constrained, 0.0 free), softness (below 1e-7 acts as 1e-7), window_radius (below 1 acts as
// 1). Out *rows (replaced). Checks for a cancel request between columns; throws CalcCancelled
// and std::bad_alloc. A covariance that is not positive definite (impossible with softness
// >= 1e-7) ends the process with getLaplacian1's message.
void laplacian_rows(const TIFF_img* image, double** mask, double softness, int window_radius,
                    LaplacianRows* rows);

#endif
