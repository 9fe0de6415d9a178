#include "matting/calc_plan.h"

#include <algorithm>
#include <cmath>

#include "matting/calc_control.h"
#include "matting/pyramid.h"

double count_unknown_pixels(double** mask, int width, int height) {
  double n = 0;
  for (int y = 0; y < height; ++y) {
    if (y % 256 == 0) calc_check_cancel();  // a no-op outside a calculation
    for (int x = 0; x < width; ++x) n += mask[y][x] == 0.0;
  }
  return n;
}

CalcMethod choose_calc_method(const CalcOptions& opts, double unknowns) {
  if (opts.auto_levels != 0) return CALC_METHOD_AUTO;
  if (opts.levels_num > 1) return CALC_METHOD_LEVELS;
  const bool iterative = opts.solver == CALC_SOLVER_ITERATIVE ||
                         (opts.solver == CALC_SOLVER_AUTO && unknowns > CALC_ITERATIVE_UNKNOWNS);
  return iterative ? CALC_METHOD_ITERATIVE : CALC_METHOD_LEVELS;
}

CalcEstimate estimate_calculation(int width, int height, double unknowns, const CalcOptions& opts) {
  // Fitted to the benchmark on this machine class (two cores): GT04 with scribbles (426 k
  // unknowns) and the same enlarged 2 to 5 times, and GT04 with its trimap (179 k).
  const double n = unknowns / 4.26e5;
  switch (choose_calc_method(opts, unknowns)) {
    case CALC_METHOD_AUTO:
      return {1.6 * std::pow(n, 0.75), 3.0e8 * std::pow(n, 0.6)};
    case CALC_METHOD_ITERATIVE:
      return {7.0 * std::pow(n, 1.2), 9.0e8 * n};
    case CALC_METHOD_LEVELS:
      break;
  }
  // The direct solve grows faster than n^1.5 in time on these images; over several levels the
  // coarsest, solved for every unknown, decides.
  const int levels = usable_levels(width, height, std::max(opts.levels_num, 1), opts.window_radius);
  const double coarsest = n / std::pow(4.0, levels - 1);
  return {10.0 * std::pow(coarsest, 1.8), 2.4e9 * std::pow(coarsest, 1.2)};
}
