#include "gui/layer_state.h"

#include <algorithm>

namespace {

CalcRegion whole_layer(const Strokes& strokes) {
  return {0, 0, cairo_image_surface_get_width(strokes.surf_layer),
          cairo_image_surface_get_height(strokes.surf_layer)};
}

}  // namespace

uint64_t surface_fingerprint(cairo_surface_t* surface, const CalcRegion& region) {
  cairo_surface_flush(surface);
  const int W = cairo_image_surface_get_width(surface);
  const int H = cairo_image_surface_get_height(surface);
  const int x0 = std::max(region.x, 0), y0 = std::max(region.y, 0);
  const int x1 = std::min(region.x + region.w, W), y1 = std::min(region.y + region.h, H);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  // FNV-1a over the 32-bit pixels, with the rectangle mixed in first.
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](uint64_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  mix(uint64_t(x0) << 32 | uint32_t(y0));
  mix(uint64_t(x1) << 32 | uint32_t(y1));
  for (int y = y0; y < y1; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
    for (int x = x0; x < x1; ++x) mix(row[x]);
  }
  return h == 0 ? 1 : h;
}

uint64_t layer_fingerprint(const Strokes& strokes, const CalcRegion& region) {
  return surface_fingerprint(strokes.surf_layer, region);
}

void note_layer_saved(Strokes* strokes) {
  strokes->saved_fingerprint = layer_fingerprint(*strokes, whole_layer(*strokes));
}

void note_layer_unsaved(Strokes* strokes) {
  strokes->saved_fingerprint = 0;  // a real fingerprint is never 0
}

bool layer_has_unsaved_changes(const Strokes& strokes) {
  return layer_fingerprint(strokes, whole_layer(strokes)) != strokes.saved_fingerprint;
}
