#include "matting/auto_levels.h"

#include <algorithm>
#include <cmath>

#include "matting/quillane.h"

namespace {

// Unknowns the coarsest level may hold.
const double kCoarsestUnknowns = 1.5e5;

int choose_levels(int width, int height, double unknowns, int window_radius) {
  int levels = 1;
  while (unknowns > kCoarsestUnknowns) {
    unknowns /= 4;
    ++levels;
  }
  return usable_levels(width, height, levels, window_radius);
}

}  // namespace

double** solve_auto_levels(TIFF_img* image, double** mask, double** value, const CalcOptions& opts,
                           int* status) {
  double unknowns = 0;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x) unknowns += mask[y][x] == 0.0;
  const int levels = choose_levels(image->width, image->height, unknowns, opts.window_radius);
  return solveAlphaC2F(image, mask, value, levels, levels, opts.threshold, opts.softness,
                       opts.window_radius, status);
}

CalcEstimate estimate_calculation(int width, int height, double unknowns, const CalcOptions& opts) {
  (void)width;
  (void)height;
  if (opts.auto_levels == 0) {
    // One sparse factorisation over every unknown: about n^1.5 in time, a little more than
    // linear in memory (measured on GT04: 426 k unknowns, 12 s, 2.2 GB).
    const double n = unknowns / 4.26e5;
    return {12.0 * std::pow(n, 1.5), 2.2e9 * n * std::pow(std::max(n, 1.0), 0.2)};
  }
  const double n = unknowns / 4.26e5;
  return {2.0 * n, 2.0e8 * n};
}
