// The linear system of one pyramid level, (L + 100 * mask) alpha = 100 * mask * value, in a
// form iterative and tiled solvers can use: a symmetric matrix in compressed rows over the
// pixels that are coupled to others.
#ifndef QUILLANE_MATTING_LEVEL_SYSTEM_H
#define QUILLANE_MATTING_LEVEL_SYSTEM_H

#include <cstdint>
#include <vector>

#include "numeric/tiff.h"

struct LevelSystem {
  int width = 0, height = 0;
  // Pixel (x, y) has the 0-based number x * height + y. A pixel in no processed window of the
  // Laplacian is decided on its own: var_of is -1 there and its alpha is `decided`.
  std::vector<int64_t> var_of;  // pixel -> variable, or -1
  std::vector<int64_t> pixel;   // variable -> pixel, ascending
  std::vector<double> decided;  // pixel -> alpha where var_of is -1 (target or 0)
  // Full symmetric matrix, 0-based, rows sorted by column: row v holds columns
  // col[row_start[v]] .. col[row_start[v + 1] - 1].
  std::vector<int64_t> row_start, col;
  std::vector<double> val;
  std::vector<double> rhs;  // per variable

  int64_t variables() const { return static_cast<int64_t>(pixel.size()); }
};

// Builds the system of a level from the matting Laplacian (getLaplacian1) and the constraint
// weight 100 of the alpha solve. In image, mask, value (level-sized, [y][x]), softness,
// window_radius; out *system (replaced). Throws std::bad_alloc when memory runs out.
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
