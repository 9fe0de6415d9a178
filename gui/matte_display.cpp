#include "gui/matte_display.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const char* const kLabels[SHOW_COUNT] = {"Overlay", "On black", "On white", "On checkerboard",
                                         "Alpha"};
const char* const kNames[SHOW_COUNT] = {"overlay", "black", "white", "checkerboard", "alpha"};

// (a * p + b * (255 - p)) / 255, rounded, for bytes.
inline uint32_t mix(uint32_t a, uint32_t b, uint32_t p) {
  const uint32_t v = a * p + b * (255 - p) + 128;
  return (v + (v >> 8)) >> 8;
}

}  // namespace

const char* matte_show_label(MatteShow show) {
  return show >= 0 && show < SHOW_COUNT ? kLabels[show] : "?";
}

const char* matte_show_name(MatteShow show) {
  return show >= 0 && show < SHOW_COUNT ? kNames[show] : "?";
}

MatteShow matte_show_from_name(const char* name) {
  for (int i = 0; i < SHOW_COUNT; ++i)
    if (name != nullptr && std::strcmp(name, kNames[i]) == 0) return static_cast<MatteShow>(i);
  return SHOW_COUNT;
}

int checker_square(int width, int height) {
  // About 64 squares along the longer side, seen at the zoom that fits the window.
  return std::max(8, (std::max(width, height) + 63) / 64);
}

cairo_surface_t* compose_matte(const uint8_t* rgb, int rowstride, int n_channels, int width,
                               int height, const MatteSource& matte, const MatteDisplay& how) {
  cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(out);
    return nullptr;
  }
  const CalcRegion& r = matte.region;
  // Which matte column each image column takes (-1: outside the region), once for all rows.
  std::vector<int> column(static_cast<size_t>(width), -1);
  for (int x = std::max(r.x, 0); x < std::min(r.x + r.w, width); ++x)
    column[x] = static_cast<int>(static_cast<int64_t>(x - r.x) * matte.width / r.w) * matte.step;
  const uint32_t tr = how.tint.red >> 8, tg = how.tint.green >> 8, tb = how.tint.blue >> 8;
  const int square = checker_square(width, height);
  uint8_t* data = cairo_image_surface_get_data(out);
  const int out_stride = cairo_image_surface_get_stride(out);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = rgb + static_cast<size_t>(y) * rowstride;
    uint32_t* dst = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * out_stride);
    const bool row_inside = y >= r.y && y < r.y + r.h;
    const uint8_t* alpha_row =
        row_inside ? matte.alpha +
                         static_cast<size_t>(static_cast<int64_t>(y - r.y) * matte.height / r.h) *
                             matte.stride
                   : nullptr;
    for (int x = 0; x < width; ++x, src += n_channels) {
      const uint32_t a = row_inside && column[x] >= 0 ? alpha_row[column[x]] : 0;
      uint32_t red = src[0], green = src[1], blue = src[2];
      switch (how.show) {
        case SHOW_OVERLAY: {
          // Fully transparent pixels get half the tint, opaque ones none.
          const uint32_t keep = 255 - (255 - a) / 2;
          red = mix(red, tr, keep), green = mix(green, tg, keep), blue = mix(blue, tb, keep);
          break;
        }
        case SHOW_ON_BLACK:
          red = mix(red, 0, a), green = mix(green, 0, a), blue = mix(blue, 0, a);
          break;
        case SHOW_ON_WHITE:
          red = mix(red, 255, a), green = mix(green, 255, a), blue = mix(blue, 255, a);
          break;
        case SHOW_ON_CHECKERS: {
          const uint32_t c = ((x / square + y / square) & 1) != 0 ? 0xcc : 0xff;
          red = mix(red, c, a), green = mix(green, c, a), blue = mix(blue, c, a);
          break;
        }
        default:
          red = green = blue = a;
          break;
      }
      dst[x] = 0xff000000u | red << 16 | green << 8 | blue;
    }
  }
  cairo_surface_mark_dirty(out);
  return out;
}
