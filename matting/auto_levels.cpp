#include "matting/auto_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "matting/calc_control.h"
#include "matting/calc_plan.h"
#include "matting/constrained_system.h"
#include "matting/pyramid.h"
#include "matting/resample.h"
#include "matting/schwarz_solver.h"
#include "numeric/allocate.h"

namespace {

// One level of the pyramid. The finest level borrows the caller's image and arrays.
struct Level {
  TIFF_img image;
  double** mask = nullptr;
  double** value = nullptr;
  bool owned = false;
};

// The strokes of a coarser level (out: its mask and value, new arrays of its image's size).
// A coarse pixel takes the stroke of its lattice pixel, so wide strokes keep their extent;
// a fine stroke pixel that no coarse pixel around it (3 x 3 footprint) took this way is carried
// to the nearest coarse pixel, unless pixels carried there disagree on the target. Halving by
// filter weight, as the coarse-to-fine driver does, loses strokes thinner than its footprint,
// and a user's few thin strokes vanish after a level or two; taking any stroke in the footprint
// keeps them but widens every stroke by a coarse pixel per level, into the soft edges.
void halve_strokes(const Level& fine, Level* coarse) {
  const int w = coarse->image.width, h = coarse->image.height;
  coarse->mask = get_init_arr_t<double>(w, h);
  coarse->value = get_init_arr_t<double>(w, h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      if (fine.mask[kFilts + 2 * r][kFilts + 2 * c] == 1.0) {
        coarse->mask[r][c] = 1.0;
        coarse->value[r][c] = fine.value[kFilts + 2 * r][kFilts + 2 * c];
      }
  // Targets carried to a coarse pixel: 0 none, 1 background, 2 other (its value in carried),
  // 3 disagreeing.
  std::vector<uint8_t> kind(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  std::vector<double> carried(kind.size(), 0.0);
  for (int y = kFilts - 1; y <= kFilts + 2 * (h - 1) + 1; ++y)
    for (int x = kFilts - 1; x <= kFilts + 2 * (w - 1) + 1; ++x) {
      if (fine.mask[y][x] != 1.0) continue;
      const int r0 = std::max(0, (y - kFilts) >> 1), r1 = std::min(h - 1, (y - kFilts + 1) >> 1);
      const int c0 = std::max(0, (x - kFilts) >> 1), c1 = std::min(w - 1, (x - kFilts + 1) >> 1);
      if (coarse->mask[r0][c0] == 1.0 || coarse->mask[r0][c1] == 1.0 ||
          coarse->mask[r1][c0] == 1.0 || coarse->mask[r1][c1] == 1.0)
        continue;
      const size_t i = static_cast<size_t>(r0) * w + c0;
      const double v = fine.value[y][x];
      const uint8_t k = v == 0.0 ? 1 : 2;
      if (kind[i] == 0) {
        kind[i] = k;
        carried[i] = v;
      } else if (kind[i] != k || std::fabs(carried[i] - v) >= 1.0 / 255) {
        kind[i] = 3;
      }
    }
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const size_t i = static_cast<size_t>(r) * w + c;
      if (kind[i] == 1 || kind[i] == 2) {
        coarse->mask[r][c] = 1.0;
        coarse->value[r][c] = carried[i];
      }
    }
}

// Share of the expected stroke pixels (a quarter of the finer level's) a coarser level must
// keep to be used.
const double kStrokesKept = 0.7;

struct StrokeCount {
  double background = 0, other = 0;
};

StrokeCount count_strokes(const Level& level) {
  StrokeCount c;
  for (int y = 0; y < level.image.height; ++y)
    for (int x = 0; x < level.image.width; ++x)
      if (level.mask[y][x] == 1.0) (level.value[y][x] == 0.0 ? c.background : c.other) += 1;
  return c;
}

// Solves the level's system with its constraints from the initial alpha init (null: zero),
// and returns the level's alpha (free_img).
double** solve_level(const Level& level, double** mask, double** value, double** init,
                     const CalcOptions& opts, const SchwarzOptions& solver) {
  const TIFF_img& image = level.image;
  LevelSystem system;
  matte_stage_begin(MATTE_STAGE_LAPLACIAN);
  build_level_system(&image, mask, value, opts.softness, opts.window_radius, &system);
  matte_stage_end(MATTE_STAGE_LAPLACIAN);
  std::vector<double> x = level_system_values(system, init);
  schwarz_solve(system, &x, solver);
  double** alpha = get_img_t<double>(image.width, image.height);
  level_system_alpha(system, x, alpha);
  return alpha;
}

// In-out sure (width x height, pixel y * width + x, 0 or 1): keeps a 1 only where the whole
// square of the given radius around it, clipped at the borders, is 1. Two passes over running
// counts, so the cost does not grow with the radius.
void erode_square(std::vector<uint8_t>* sure, int width, int height, int radius) {
  std::vector<uint8_t>& s = *sure;
  std::vector<int> holes(static_cast<size_t>(std::max(width, height)) + 1);
  auto pass = [&](size_t count, size_t stride, size_t lines, size_t line_stride) {
    std::vector<uint8_t> line(count);
    for (size_t l = 0; l < lines; ++l) {
      uint8_t* first = &s[l * line_stride];
      holes[0] = 0;
      for (size_t i = 0; i < count; ++i) {
        line[i] = first[i * stride];
        holes[i + 1] = holes[i] + (line[i] == 0);
      }
      for (size_t i = 0; i < count; ++i) {
        const size_t a = i > static_cast<size_t>(radius) ? i - radius : 0;
        const size_t b = std::min(count, i + radius + 1);
        first[i * stride] = holes[b] == holes[a];
      }
    }
  };
  pass(static_cast<size_t>(width), 1, static_cast<size_t>(height), static_cast<size_t>(width));
  pass(static_cast<size_t>(height), static_cast<size_t>(width), static_cast<size_t>(width), 1);
}

// Constraints of a finer level from the alpha carried up to it: where the carried alpha is
// sure (below threshold or above 1 - threshold) in a whole square of radius widen, the pixel
// is pinned to 0 or 1; the user's own strokes stay as they are. In-out up: clamped to 0..1
// with the strokes' targets, as the starting point of the solve. Out mask, value: new arrays.
void pin_sure_pixels(const Level& level, double** up, double threshold, int widen,
                     double*** mask_out, double*** value_out) {
  const int w = level.image.width, h = level.image.height;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint8_t> fg(n), bg(n);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      fg[static_cast<size_t>(y) * w + x] = up[y][x] > 1.0 - threshold;
      bg[static_cast<size_t>(y) * w + x] = up[y][x] < threshold;
    }
  erode_square(&fg, w, h, widen);
  erode_square(&bg, w, h, widen);
  calc_check_cancel();
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
      const size_t i = static_cast<size_t>(y) * w + x;
      if (fg[i] != 0 || bg[i] != 0) {
        mask[y][x] = 1.0;
        value[y][x] = fg[i] != 0 ? 1.0 : 0.0;
      }
    }
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
  const double unknowns = count_unknown_pixels(mask, image->width, image->height);
  const int planned =
      auto_levels_count(image->width, image->height, unknowns, opts.window_radius, params);

  Pyramid pyramid;
  pyramid.levels.reserve(static_cast<size_t>(planned));
  pyramid.levels.push_back(Level{*image, mask, value, false});
  StrokeCount strokes = count_strokes(pyramid.levels.back());
  for (int k = 1; k < planned; ++k) {
    matte_stage_begin(MATTE_STAGE_RESAMPLING);
    const Level& fine = pyramid.levels.back();
    Level coarse;
    coarse.image = downSmpIm(&fine.image, kFilts);
    coarse.owned = true;
    pyramid.levels.push_back(coarse);
    Level& added = pyramid.levels.back();
    halve_strokes(fine, &added);
    matte_stage_end(MATTE_STAGE_RESAMPLING);
    // Thin strokes vanish in the halving; a level that lost them would be solved from almost
    // nothing and mislead every finer one. Such a level is not used.
    const StrokeCount kept = count_strokes(added);
    if (kept.background == 0 || kept.other == 0 ||
        4 * (kept.background + kept.other) < kStrokesKept * (strokes.background + strokes.other)) {
      free_TIFF(&added.image);
      free_img_t(added.mask);
      free_img_t(added.value);
      pyramid.levels.pop_back();
      break;
    }
    strokes = kept;
  }
  const int count = static_cast<int>(pyramid.levels.size());

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
