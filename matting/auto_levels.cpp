#include "matting/auto_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "matting/calc_control.h"
#include "matting/pyramid.h"

namespace {

// Share of the expected stroke pixels (a quarter of the finer level's) a coarser level must
// keep to be used.
const double kStrokesKept = 0.7;

// In-out sure (width x height, pixel y * width + x, 0 or 1): keeps a 1 only where the whole
// square of the given radius around it, clipped at the borders, is 1. Two passes over running
// counts, so the cost does not grow with the radius.
void erode_square(std::vector<uint8_t>* sure, int width, int height, int radius) {
  std::vector<uint8_t>& s = *sure;
  std::vector<int> holes(static_cast<size_t>(std::max(width, height)) + 1);
  auto pass = [&](size_t count, size_t stride, size_t lines, size_t line_stride) {
    std::vector<uint8_t> line(count);
    for (size_t l = 0; l < lines; ++l) {
      if (l % 256 == 0) calc_check_cancel();
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

}  // namespace

int auto_levels_count(int width, int height, double unknowns, int window_radius,
                      const AutoLevelsParams& params) {
  int levels = 1;
  for (double u = unknowns; u > params.coarsest_unknowns; u /= 4) ++levels;
  return usable_levels(width, height, levels, window_radius);
}

StrokeCount count_strokes(double** mask, double** value, int width, int height) {
  StrokeCount c;
  for (int y = 0; y < height; ++y) {
    if (y % 256 == 0) calc_check_cancel();
    for (int x = 0; x < width; ++x)
      if (mask[y][x] == 1.0) (value[y][x] == 0.0 ? c.background : c.other) += 1;
  }
  return c;
}

bool coarse_strokes_usable(const StrokeCount& fine, const StrokeCount& coarse) {
  return coarse.background > 0 && coarse.other > 0 &&
         4 * (coarse.background + coarse.other) >= kStrokesKept * (fine.background + fine.other);
}

// Halving by filter weight, as the coarse-to-fine driver does, loses strokes thinner than its
// footprint, and a user's few thin strokes vanish after a level or two; taking any stroke in
// the footprint keeps them but widens every stroke by a coarse pixel per level, into the soft
// edges. Hence the lattice pixel first, and only strokes that would be lost carried.
void halve_strokes(double** mask, double** value, double** coarse_mask, double** coarse_value,
                   int w, int h) {
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const bool stroke = mask[kFilts + 2 * r][kFilts + 2 * c] == 1.0;
      coarse_mask[r][c] = stroke ? 1.0 : 0.0;
      coarse_value[r][c] = stroke ? value[kFilts + 2 * r][kFilts + 2 * c] : 0.0;
    }
  // Targets carried to a coarse pixel: 0 none, 1 background, 2 other (its value in carried),
  // 3 disagreeing.
  std::vector<uint8_t> kind(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  std::vector<double> carried(kind.size(), 0.0);
  for (int y = kFilts - 1; y <= kFilts + 2 * (h - 1) + 1; ++y) {
    if (y % 256 == 0) calc_check_cancel();
    for (int x = kFilts - 1; x <= kFilts + 2 * (w - 1) + 1; ++x) {
      if (mask[y][x] != 1.0) continue;
      const int r0 = std::max(0, (y - kFilts) >> 1), r1 = std::min(h - 1, (y - kFilts + 1) >> 1);
      const int c0 = std::max(0, (x - kFilts) >> 1), c1 = std::min(w - 1, (x - kFilts + 1) >> 1);
      if (coarse_mask[r0][c0] == 1.0 || coarse_mask[r0][c1] == 1.0 || coarse_mask[r1][c0] == 1.0 ||
          coarse_mask[r1][c1] == 1.0)
        continue;
      const size_t i = static_cast<size_t>(r0) * w + c0;
      const double v = value[y][x];
      const uint8_t k = v == 0.0 ? 1 : 2;
      if (kind[i] == 0) {
        kind[i] = k;
        carried[i] = v;
      } else if (kind[i] != k || std::fabs(carried[i] - v) >= 1.0 / 255) {
        kind[i] = 3;
      }
    }
  }
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const size_t i = static_cast<size_t>(r) * w + c;
      if (kind[i] == 1 || kind[i] == 2) {
        coarse_mask[r][c] = 1.0;
        coarse_value[r][c] = carried[i];
      }
    }
}

void pin_sure_pixels(double** mask, double** value, int w, int h, double** up, double threshold,
                     int widen, double** band_mask, double** band_value) {
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
  for (int y = 0; y < h; ++y) {
    if (y % 256 == 0) calc_check_cancel();
    for (int x = 0; x < w; ++x) {
      band_mask[y][x] = mask[y][x];
      band_value[y][x] = value[y][x];
      if (mask[y][x] == 1.0) {
        up[y][x] = value[y][x];
        continue;
      }
      up[y][x] = std::min(1.0, std::max(0.0, up[y][x]));
      const size_t i = static_cast<size_t>(y) * w + x;
      if (fg[i] != 0 || bg[i] != 0) {
        band_mask[y][x] = 1.0;
        band_value[y][x] = fg[i] != 0 ? 1.0 : 0.0;
      }
    }
  }
}
