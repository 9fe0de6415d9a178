#include "matting/auto_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "matting/calc_control.h"
#include "matting/imgutil.h"
#include "matting/level_system.h"
#include "matting/quillane.h"
#include "matting/schwarz_solver.h"
#include "matting/stage_profile.h"
#include "numeric/allocate.h"

namespace {

// The halving filter of the pyramid (5 x 5), as the coarse-to-fine driver uses.
const int kFilts = 2;

// One level of the pyramid. The finest level borrows the caller's image and arrays.
struct Level {
  TIFF_img image;
  double** mask = nullptr;
  double** value = nullptr;
  bool owned = false;
};

// Solves the level's system with its constraints from the initial alpha init (null: zero),
// and returns the level's alpha (free_img).
double** solve_level(const Level& level, double** mask, double** value, double** init,
                     const CalcOptions& opts, const SchwarzOptions& solver) {
  const TIFF_img& image = level.image;
  LevelSystem system;
  matte_stage_begin(MATTE_STAGE_LAPLACIAN);
  build_level_system(&image, mask, value, opts.softness, opts.window_radius, &system);
  matte_stage_end(MATTE_STAGE_LAPLACIAN);
  std::vector<double> x(static_cast<size_t>(system.variables()), 0.0);
  if (init != nullptr)
    for (int64_t v = 0; v < system.variables(); ++v) {
      const int64_t p = system.pixel[v];
      x[v] = init[p % image.height][p / image.height];
    }
  schwarz_solve(system, &x, solver);
  double** alpha = get_img_t<double>(image.width, image.height);
  level_system_alpha(system, x, alpha);
  return alpha;
}

// Constraints of a finer level from the alpha carried up to it: where the carried alpha is
// sure (below threshold or above 1 - threshold) in a whole square of radius widen, the pixel
// is pinned to 0 or 1; the user's own strokes stay as they are. In-out up: clamped to 0..1
// with the strokes' targets, as the starting point of the solve. Out mask, value: new arrays.
void pin_sure_pixels(const Level& level, double** up, double threshold, int widen,
                     double*** mask_out, double*** value_out) {
  const int w = level.image.width, h = level.image.height;
  double** sure_fg = get_init_arr_t<double>(w, h);
  double** sure_bg = get_init_arr_t<double>(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (up[y][x] > 1.0 - threshold)
        sure_fg[y][x] = 1.0;
      else if (up[y][x] < threshold)
        sure_bg[y][x] = 1.0;
    }
  double** fg = imerode(sure_fg, w, h, widen);
  double** bg = imerode(sure_bg, w, h, widen);
  free_img_t(sure_fg);
  free_img_t(sure_bg);
  double** mask = get_img_t<double>(w, h);
  double** value = get_img_t<double>(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      mask[y][x] = level.mask[y][x];
      value[y][x] = level.value[y][x];
      if (level.mask[y][x] == 1.0) {
        up[y][x] = level.value[y][x];
        continue;
      }
      up[y][x] = std::min(1.0, std::max(0.0, up[y][x]));
      if (fg[y][x] == 1.0 || bg[y][x] == 1.0) {
        mask[y][x] = 1.0;
        value[y][x] = fg[y][x] == 1.0 ? 1.0 : 0.0;
      }
    }
  free_img_t(fg);
  free_img_t(bg);
  *mask_out = mask;
  *value_out = value;
}

// Owns the coarser levels of the pyramid.
struct Pyramid {
  std::vector<Level> levels;  // [0] finest
  ~Pyramid() {
    for (Level& l : levels)
      if (l.owned) {
        free_TIFF(&l.image);
        if (l.mask != nullptr) free_img_t(l.mask);
        if (l.value != nullptr) free_img_t(l.value);
      }
  }
};

}  // namespace

int auto_levels_count(int width, int height, double unknowns, int window_radius,
                      const AutoLevelsParams& params) {
  int levels = 1;
  for (double u = unknowns; u > params.coarsest_unknowns; u /= 4) ++levels;
  return usable_levels(width, height, levels, window_radius);
}

double** solve_auto_levels(TIFF_img* image, double** mask, double** value, const CalcOptions& opts,
                           int* status, const AutoLevelsParams& params) {
  const int window = 2 * std::max(opts.window_radius, 1) + 1;
  double unknowns = 0;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x) unknowns += mask[y][x] == 0.0;
  const int count =
      auto_levels_count(image->width, image->height, unknowns, opts.window_radius, params);

  Pyramid pyramid;
  pyramid.levels.reserve(static_cast<size_t>(count));
  pyramid.levels.push_back(Level{*image, mask, value, false});
  for (int k = 1; k < count; ++k) {
    calc_report_level(count - k + 1, count);
    matte_stage_begin(MATTE_STAGE_RESAMPLING);
    const Level& fine = pyramid.levels.back();
    Level coarse;
    coarse.image = downSmpIm(&fine.image, kFilts);
    coarse.owned = true;
    pyramid.levels.push_back(coarse);
    Level& added = pyramid.levels.back();
    added.mask = downSmpArr(fine.mask, fine.image.height, fine.image.width, kFilts);
    added.value = downSmpArr(fine.value, fine.image.height, fine.image.width, kFilts);
    matte_stage_end(MATTE_STAGE_RESAMPLING);
  }

  // The coarsest level has no starting point: it is solved directly, in one tile.
  SchwarzOptions direct = params.intermediate;
  direct.tile_variables = INT64_MAX;
  calc_report_level(1, count);
  const Level& coarsest = pyramid.levels.back();
  double** alpha = solve_level(coarsest, coarsest.mask, coarsest.value, nullptr, opts, direct);
  for (int k = count - 2; k >= 0; --k) {
    const Level& coarse = pyramid.levels[k + 1];
    const Level& fine = pyramid.levels[k];
    const bool last = k == 0;
    calc_report_level(count - k, count);
    matte_stage_begin(MATTE_STAGE_RESAMPLING);
    double** up =
        upSampleAlphaUsingImg(alpha, &coarse.image, &fine.image, opts.softness, opts.window_radius);
    free_img_t(alpha);
    double** band_mask = nullptr;
    double** band_value = nullptr;
    const double threshold =
        std::max(opts.threshold, last ? params.final_threshold : params.threshold);
    const int widen = static_cast<int>(window * (last ? params.final_widen : params.widen));
    pin_sure_pixels(fine, up, threshold, widen, &band_mask, &band_value);
    matte_stage_end(MATTE_STAGE_RESAMPLING);
    alpha = solve_level(fine, band_mask, band_value, up, opts,
                        last ? params.final_level : params.intermediate);
    free_img_t(up);
    free_img_t(band_mask);
    free_img_t(band_value);
  }
  *status = 0;
  return alpha;
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
