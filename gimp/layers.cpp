// GIMP's layers through libgimp and GEGL buffers.
#include "gimp/layers.h"

#include <libgimp/gimp.h>

#include <cstring>

namespace {

// Every layer of image, depth first, top to bottom, groups included.
void collect_layers(int32_t parent, bool is_image, std::vector<int32_t>* out) {
  gint count = 0;
  gint* ids =
      is_image ? gimp_image_get_layers(parent, &count) : gimp_item_get_children(parent, &count);
  for (gint i = 0; i < count; ++i) {
    out->push_back(ids[i]);
    if (gimp_item_is_group(ids[i])) collect_layers(ids[i], false, out);
  }
  g_free(ids);
}

// The layers beside item in its group (or at the top of image), top to bottom.
std::vector<int32_t> siblings(int32_t image, int32_t item) {
  const int32_t parent = gimp_item_get_parent(item);
  gint count = 0;
  gint* ids =
      parent > 0 ? gimp_item_get_children(parent, &count) : gimp_image_get_layers(image, &count);
  std::vector<int32_t> out(ids, ids + count);
  g_free(ids);
  return out;
}

LayerPixels read_rect(int32_t drawable, int x, int y, int width, int height) {
  LayerPixels p;
  p.width = width;
  p.height = height;
  p.rgba.resize(static_cast<size_t>(width) * height * 4);
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  const GeglRectangle rect = {x, y, width, height};
  gegl_buffer_get(buffer, &rect, 1.0, babl_format("R'G'B'A u8"), p.rgba.data(), GEGL_AUTO_ROWSTRIDE,
                  GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  return p;
}

}  // namespace

bool usable_strokes_layer(int32_t image, int32_t photo, int32_t item) {
  return item != photo && gimp_item_is_valid(item) && gimp_item_is_layer(item) &&
         !gimp_item_is_group(item) && gimp_item_get_image(item) == image;
}

int32_t default_strokes_layer(int32_t image, int32_t photo) {
  std::vector<int32_t> layers;
  collect_layers(image, true, &layers);
  for (int32_t id : layers) {
    gchar* name = gimp_item_get_name(id);
    const bool named = name != nullptr && g_ascii_strcasecmp(name, "strokes") == 0;
    g_free(name);
    if (named && usable_strokes_layer(image, photo, id)) return id;
  }
  const std::vector<int32_t> beside = siblings(image, photo);
  for (size_t i = 1; i < beside.size(); ++i)
    if (beside[i] == photo && usable_strokes_layer(image, photo, beside[i - 1]))
      return beside[i - 1];
  return -1;
}

LayerPixels read_photo(int32_t photo) {
  return read_rect(photo, 0, 0, gimp_drawable_width(photo), gimp_drawable_height(photo));
}

LayerPixels read_strokes(int32_t photo, int32_t strokes, bool trimap) {
  gint px = 0, py = 0, sx = 0, sy = 0;
  gimp_drawable_offsets(photo, &px, &py);
  gimp_drawable_offsets(strokes, &sx, &sy);
  const int w = gimp_drawable_width(photo), h = gimp_drawable_height(photo);
  // Photo pixel (x, y) lies over stroke pixel (x + px - sx, y + py - sy); beyond the stroke
  // layer GEGL gives transparent black.
  LayerPixels p = read_rect(strokes, px - sx, py - sy, w, h);
  if (!trimap) return p;
  const int sw = gimp_drawable_width(strokes), sh = gimp_drawable_height(strokes);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int u = x + px - sx, v = y + py - sy;
      if (u < 0 || v < 0 || u >= sw || v >= sh)
        std::memcpy(&p.rgba[(static_cast<size_t>(y) * w + x) * 4], "\x80\x80\x80\xff", 4);
    }
  return p;
}

bool write_mask(int32_t photo, const std::vector<uint8_t>& alpha, std::string* error) {
  int32_t mask = gimp_layer_get_mask(photo);
  if (mask < 0) {
    mask = gimp_layer_create_mask(photo, GIMP_ADD_MASK_WHITE);
    if (mask < 0 || !gimp_layer_add_mask(photo, mask)) {
      *error = "GIMP could not add a layer mask to the photograph's layer";
      return false;
    }
  }
  const int w = gimp_drawable_width(photo), h = gimp_drawable_height(photo);
  GeglBuffer* buffer = gimp_drawable_get_buffer(mask);
  const GeglRectangle rect = {0, 0, w, h};
  // A mask's value is its opacity: linear, whatever the image's precision.
  gegl_buffer_set(buffer, &rect, 0, babl_format("Y u8"), alpha.data(), GEGL_AUTO_ROWSTRIDE);
  g_object_unref(buffer);
  gimp_drawable_update(mask, 0, 0, w, h);
  return true;
}

void write_clean_colours(int32_t photo, const LayerPixels& original,
                         const std::vector<uint8_t>& foreground) {
  const int w = original.width, h = original.height;
  GeglBuffer* buffer = gimp_drawable_get_buffer(photo);
  std::vector<uint8_t> run;
  for (int y = 0; y < h; ++y) {
    int x = 0;
    while (x < w) {
      // Only runs of cleaned pixels are written: the others keep their full precision.
      auto cleaned = [&](int i) {
        const uint8_t a = foreground[(static_cast<size_t>(y) * w + i) * 4 + 3];
        return a > 0 && a < 255;
      };
      if (!cleaned(x)) {
        ++x;
        continue;
      }
      int end = x;
      while (end < w && cleaned(end)) ++end;
      run.assign(foreground.begin() + (static_cast<size_t>(y) * w + x) * 4,
                 foreground.begin() + (static_cast<size_t>(y) * w + end) * 4);
      for (int i = x; i < end; ++i)  // the layer keeps its own alpha
        run[(i - x) * 4 + 3] = original.rgba[(static_cast<size_t>(y) * w + i) * 4 + 3];
      const GeglRectangle rect = {x, y, end - x, 1};
      gegl_buffer_set(buffer, &rect, 0, babl_format("R'G'B'A u8"), run.data(), GEGL_AUTO_ROWSTRIDE);
      x = end;
    }
  }
  g_object_unref(buffer);
  gimp_drawable_update(photo, 0, 0, w, h);
}
