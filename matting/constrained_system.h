// The constrained system of one pyramid level, (L + 100 * mask) alpha = 100 * mask * value:
// the matting Laplacian L plus a weight that pulls every constrained pixel towards its target.
// Built in two forms: in place in the Laplacian's own sparse rows, for the direct solve, and
// as compressed rows over the pixels that are coupled to others, for iterative and tiled
// solvers.
#ifndef QUILLANE_MATTING_CONSTRAINED_SYSTEM_H
#define QUILLANE_MATTING_CONSTRAINED_SYSTEM_H

#include <cstdint>
#include <vector>

#include "numeric/qmatrix.h"
#include "numeric/tiff.h"
#include "numeric/vector.h"

// In-out L: the Laplacian of a width x height level (getLaplacian1: upper triangle, 1-based,
// pixel x * height + y + 1, diagonal first). Adds the weight 100 * mask[y][x] of every
// constrained pixel to its diagonal, or makes it a one-entry row when the pixel lies in no
// window. Out d (dimension width * height, 1-based, same numbering): 100 * mask * value.
// A constrained pixel whose diagonal is 0 while its row has other entries breaks the
// Laplacian's invariant: " yes off diagonals exist when main is zero." on stdout, exit -1.
void add_constraints(QMatrix* L, Vector* d, double** mask, double** value, int width, int height);

// The compressed form. Indices are 32-bit: a level has fewer than 2^31 pixels (allocate.h).
struct LevelSystem {
  int width = 0, height = 0;
  // Pixel (x, y) has the 0-based number x * height + y. A pixel in no processed window of the
  // Laplacian is decided on its own: var_of is -1 there and its alpha is `decided`.
  std::vector<int32_t> var_of;  // pixel -> variable, or -1
  std::vector<int32_t> pixel;   // variable -> pixel, ascending
  std::vector<double> decided;  // pixel -> alpha where var_of is -1 (target or 0)
  // Upper triangle of the symmetric matrix by rows, 0-based: row v holds the columns
  // col[row_start[v]] .. col[row_start[v + 1] - 1], ascending, the diagonal v first. (The
  // same arrays are the lower triangle by columns.)
  std::vector<int64_t> row_start;
  std::vector<int32_t> col;
  std::vector<double> val;
  std::vector<double> rhs;  // per variable

  int64_t variables() const { return static_cast<int64_t>(pixel.size()); }
};

// Builds the compressed form of a level's system from the matting Laplacian (laplacian_rows.h:
// the matrix of getLaplacian1 up to rounding) and the constraints. In image, mask, value
// (level-sized, [y][x]), softness, window_radius; out *system (replaced). Throws std::bad_alloc
// when memory runs out.
void build_level_system(const TIFF_img* image, double** mask, double** value, double softness,
                        int window_radius, LevelSystem* system);

// y = A x over the variables. In x (variables() long); out *y (resized).
void level_system_multiply(const LevelSystem& system, const std::vector<double>& x,
                           std::vector<double>* y);

// The variables' values taken from alpha (height x width, [y][x]; null: all 0), as the
// starting point of an iterative solve. Returns variables() values.
std::vector<double> level_system_values(const LevelSystem& system, double** alpha);

// Out alpha (height x width, [y][x]): the variables' values x, the decided pixels' alpha
// elsewhere, clamped to 0..1.
void level_system_alpha(const LevelSystem& system, const std::vector<double>& x, double** alpha);

#endif
