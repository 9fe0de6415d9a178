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

namespace {

// Share of the region that is free of strokes, as far as the automatic levels' band is
// concerned: 1 when the strokes cover at most kSparseStrokes of it (a few thin strokes far
// apart: the coarse levels stay unsure almost everywhere and the band spreads over the whole
// region), 0 when they cover kDenseStrokes or more (strokes along the edges, a trimap: the band
// stays near the edges), log-linear in between.
const double kSparseStrokes = 0.01, kDenseStrokes = 0.05;

double spread_band_share(double pixels, double unknowns) {
  const double covered = std::max(1.0 - unknowns / std::max(pixels, 1.0), 1e-9);
  const double t = std::log(kDenseStrokes / covered) / std::log(kDenseStrokes / kSparseStrokes);
  return std::min(1.0, std::max(0.0, t));
}

}  // namespace

CalcEstimate estimate_calculation(int width, int height, double unknowns, const CalcOptions& opts) {
  // Fitted to matte_bench --estimates on this machine class (two cores, nothing else running):
  // GT04 with its trimap (179 k unknowns), its scribbles (426 k), and 11 thin strokes on GT04
  // and GT18 and on GT04 enlarged 2, 3 and 5.16 times (12 MP).
  const double n = unknowns / 4.26e5;
  const double megapixels = static_cast<double>(width) * height / 1e6;
  const double spread = spread_band_share(static_cast<double>(width) * height, unknowns);
  auto blend = [spread](double near_edges, double everywhere) {
    return (1.0 - spread) * near_edges + spread * everywhere;
  };
  switch (choose_calc_method(opts, unknowns)) {
    case CALC_METHOD_AUTO:
      // Near the edges the band, hence the cost, grows about as the region does (an enlarged
      // photograph's band is wider and longer) and a little with the unknowns; spread over the
      // region, both grow with it: 3.7 s and 0.76 GB per megapixel.
      return {blend(1.17 * std::pow(megapixels, 0.7) * std::pow(n, 0.3), 3.7 * megapixels),
              blend(2.5e8 * std::pow(megapixels, 0.7) * std::pow(n, 0.3), 7.6e8 * megapixels)};
    case CALC_METHOD_ITERATIVE:
      // Conjugate gradients from the automatic levels' matte: with sparse strokes that matte is
      // far from the solution, and the steps grow with the region.
      return {blend(2.9 * std::pow(n, 0.66), 32.0 * std::pow(megapixels, 1.35)), 4.6e8 * n};
    case CALC_METHOD_LEVELS:
      break;
  }
  // The direct solve: over several levels the coarsest, solved for every unknown, decides.
  const int levels = usable_levels(width, height, std::max(opts.levels_num, 1), opts.window_radius);
  const double coarsest = n / std::pow(4.0, levels - 1);
  return {10.7 * std::pow(coarsest, 1.21), 3.0e9 * std::pow(coarsest, 1.2)};
}
