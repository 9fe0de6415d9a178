// Reading the caller's image and strokes the way the editor reads its own: through
// read_calc_input() on RGB pixels and a 32-bit ARGB layer.
#include "capi/input.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The engine's grey level of a colour, (max + min) / 2.
int grey_of(int r, int g, int b) {
  const int hi = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int lo = r < g ? (r < b ? r : b) : (g < b ? g : b);
  return (hi + lo) / 2;
}

// Red, green, blue and alpha of pixel (x, y); alpha 255 without an alpha channel.
void read_rgba(const quillane_pixels& p, int x, int y, int rgba[4]) {
  const uint8_t* s =
      p.data + static_cast<size_t>(y) * p.stride + static_cast<size_t>(x) * p.channels;
  const bool grey = p.channels <= 2;
  rgba[0] = s[0];
  rgba[1] = grey ? s[0] : s[1];
  rgba[2] = grey ? s[0] : s[2];
  rgba[3] = p.channels == 2 ? s[1] : p.channels == 4 ? s[3] : 255;
}

}  // namespace

bool pixels_usable(const quillane_pixels* p, const char* what, std::string* message) {
  if (p == nullptr || p->data == nullptr)
    *message = std::string(what) + " is missing";
  else if (p->width < 1 || p->height < 1)
    *message = std::string(what) + " has no pixels";
  else if (p->channels < 1 || p->channels > 4)
    *message = std::string(what) + " needs 1 to 4 channels, not " + std::to_string(p->channels);
  else if (p->width > INT_MAX / 4 || p->stride < p->width * p->channels)
    *message = "the stride of " + std::string(what) + ", " + std::to_string(p->stride) +
               ", is less than its width times its channels";
  else
    return true;
  return false;
}

int read_pixels_input(const quillane_pixels& image, const quillane_pixels& strokes, bool trimap,
                      const CalcRegion& region, TIFF_img* calc_image, double*** stroke_mask,
                      double*** stroke_value, std::string* message) {
  const int w = image.width, h = image.height;
  // The engine reads 3 or 4 channels directly; grey images are spread to RGB first.
  std::vector<uint8_t> spread;
  const uint8_t* rgb = image.data;
  int rgb_stride = image.stride, rgb_channels = image.channels;
  if (image.channels <= 2) {
    spread.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int c[4];
        read_rgba(image, x, y, c);
        std::memset(&spread[(static_cast<size_t>(y) * w + x) * 3], c[0], 3);
      }
    rgb = spread.data();
    rgb_stride = w * 3;
    rgb_channels = 3;
  }
  // The layer as the editor holds it: native 32-bit ARGB words. Only opaque words are read,
  // so their colour needs no premultiplication.
  std::vector<uint32_t> layer(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int c[4];
      read_rgba(strokes, x, y, c);
      uint32_t word;
      if (trimap) {
        const int grey = grey_of(c[0], c[1], c[2]);
        word = grey == 0 ? 0xff000000u : grey == 255 ? 0xffffffffu : 0u;
      } else {
        word = uint32_t(c[3]) << 24 | uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | uint32_t(c[2]);
      }
      layer[static_cast<size_t>(y) * w + x] = word;
    }

  const int input =
      read_calc_input(rgb, rgb_stride, rgb_channels, reinterpret_cast<const uint8_t*>(layer.data()),
                      w * 4, region, calc_image, stroke_mask, stroke_value);
  if (input == CALC_INPUT_OK) return QUILLANE_OK;
  const bool whole = region.w == w && region.h == h;
  const std::string where = whole ? (trimap ? "" : " in the image") : " inside the region";
  // A trimap or a photograph given as strokes paints every pixel: say so first.
  if (input & CALC_INPUT_NOTHING_UNKNOWN) {
    *message = calc_nothing_unknown_message;
    return QUILLANE_ERROR_NOTHING_UNKNOWN;
  }
  if (input == (CALC_INPUT_NO_BACKGROUND | CALC_INPUT_NO_FOREGROUND)) {
    *message = (trimap ? "no 0 and no 255 in the trimap" : "no strokes") + where +
               (trimap ? "" : ": paint background (black) and foreground strokes");
    return QUILLANE_ERROR_NO_STROKES;
  }
  if (input == CALC_INPUT_NO_BACKGROUND) {
    *message =
        (trimap ? "no background (0) in the trimap" : "no background (opaque black) stroke") +
        where;
    return QUILLANE_ERROR_NO_BACKGROUND;
  }
  *message =
      (trimap ? "no foreground (255) in the trimap" : "no foreground or alternate-colour stroke") +
      where;
  return QUILLANE_ERROR_NO_FOREGROUND;
}
