#include "matting/calc_input.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "matting/imgutil.h"
#include "numeric/allocate.h"

bool clamp_calc_region(CalcRegion* region, int width, int height) {
  if (region->x < 0) {
    region->w += region->x;
    region->x = 0;
  }
  if (region->y < 0) {
    region->h += region->y;
    region->y = 0;
  }
  if (region->x + region->w > width) region->w = width - region->x;
  if (region->y + region->h > height) region->h = height - region->y;
  return region->w > 0 && region->h > 0;
}

const char calc_nothing_unknown_message[] = "every pixel is painted: nothing to calculate";

bool calc_region_fits_window(const CalcRegion& region, int window_radius) {
  const int side = 2 * std::max(window_radius, 1) + 1;
  return region.w >= side && region.h >= side;
}

std::string calc_region_size_message(const CalcRegion& region, int window_radius) {
  const int r = std::max(window_radius, 1);
  char text[200];
  std::snprintf(text, sizeof text,
                "the calculation region must be at least 2R+1 pixels in each direction "
                "(%d with window radius R = %d); it is %dx%d",
                2 * r + 1, r, region.w, region.h);
  return text;
}

int read_calc_input(const uint8_t* rgb, int rowstride, int n_channels, const uint8_t* layer,
                    int layer_stride, const CalcRegion& region, TIFF_img* image,
                    double*** stroke_mask, double*** stroke_value) {
  const int w = region.w, h = region.h;
  double** mask = get_init_arr_t<double>(w, h);
  double** value = get_init_arr_t<double>(w, h);
  get_TIFF(image, h, w, 'c');
  bool background = false, other = false, unknown = false;

  for (int y = 0; y < h; ++y) {
    const uint8_t* src = rgb + static_cast<size_t>(y + region.y) * rowstride +
                         static_cast<size_t>(region.x) * n_channels;
    const uint8_t* lay = layer + static_cast<size_t>(y + region.y) * layer_stride +
                         static_cast<size_t>(region.x) * 4;
    for (int x = 0; x < w; ++x) {
      image->channels[0][y][x] = src[x * n_channels];
      image->channels[1][y][x] = src[x * n_channels + 1];
      image->channels[2][y][x] = src[x * n_channels + 2];
      uint32_t word;
      std::memcpy(&word, lay + x * 4, 4);
      if ((word >> 24) != 255) {
        unknown = true;
        continue;
      }
      int grey = rgb2grey((word >> 16) & 255, (word >> 8) & 255, word & 255);
      mask[y][x] = 1.0;
      value[y][x] = grey / 255.0;
      if (value[y][x] == 0.0)
        background = true;
      else
        other = true;
    }
  }

  int result = (background ? 0 : CALC_INPUT_NO_BACKGROUND) |
               (other ? 0 : CALC_INPUT_NO_FOREGROUND) | (unknown ? 0 : CALC_INPUT_NOTHING_UNKNOWN);
  if (result == CALC_INPUT_OK) {
    *stroke_mask = mask;
    *stroke_value = value;
  } else {
    free_TIFF(image);
    free_img_t(mask);
    free_img_t(value);
  }
  return result;
}
