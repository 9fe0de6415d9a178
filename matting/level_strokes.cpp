#include "matting/level_strokes.h"

#include "matting/pyramid.h"
#include "matting/resample.h"
#include "numeric/allocate.h"

namespace {

// Share of the expected stroke pixels a level must keep: wide strokes along the image's edges
// lose their outer columns at each halving and may keep little more than half.
const double kKept = 0.25;

// Pixels of a width x height 0/1 array that are 1.
double count_ones(double** a, int width, int height) {
  double n = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) n += a[y][x] == 1.0;
  return n;
}

// Whether the strokes of one kind (background or not) keep their share down the levels.
bool kind_survives(double** mask, double** value, int width, int height, int levels,
                   bool background) {
  double** kind = get_init_arr_t<double>(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (mask[y][x] == 1.0 && (value[y][x] == 0.0) == background) kind[y][x] = 1.0;
  double expected = count_ones(kind, width, height);
  bool survives = true;
  for (int level = levels - 1; level >= 1 && survives && expected > 0; --level) {
    double** coarser = downSmpArr(kind, height, width, kFilts);
    free_img_t(kind);
    kind = coarser;
    width = level_side(width);
    height = level_side(height);
    expected /= 4;
    survives = count_ones(kind, width, height) >= kKept * expected;
  }
  free_img_t(kind);
  return survives;
}

}  // namespace

bool strokes_survive_levels(double** mask, double** value, int width, int height, int levels) {
  return kind_survives(mask, value, width, height, levels, true) &&
         kind_survives(mask, value, width, height, levels, false);
}
