// Writes a photograph and a stroke layer for timing the live matte, in the editor (an xdotool
// run) or in paint_bench --live: one of the shared photographs, enlarged by a factor (bicubic
// image, nearest trimap), and as strokes the known pixels of its trimap within 3 px of an
// unknown one, the way careful strokes along an edge look.
//
//   live_inputs OUT_DIR [IMAGE [FACTOR]]     IMAGE: GT04 (default), GT13, ...; FACTOR 1 (5.16
//                                            makes GT04 about 12 megapixels)
// Writes OUT_DIR/IMAGE[_xFACTOR].png and OUT_DIR/IMAGE[_xFACTOR]_strokes.png and prints their
// names and size.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/enlarge.h"
#include "tools/png_io.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: live_inputs OUT_DIR [IMAGE [FACTOR]]\n");
    return 2;
  }
  const std::string out = argv[1], name = argc > 2 ? argv[2] : "GT04";
  const double factor = argc > 3 ? std::atof(argv[3]) : 1.0;
  const std::string data = std::string(QUILLANE_SHARED_DATA) + "/matting/" + name;
  PngPixels image, trimap;
  std::string error;
  if (!png_read(data + "_image.png", 3, &image, &error) ||
      !png_read(data + "_trimap.png", 1, &trimap, &error)) {
    std::fprintf(stderr, "live_inputs: %s\n", error.c_str());
    return 1;
  }
  if (factor != 1.0) {
    const Size size = scaled_size(image, factor);
    image = enlarge_bicubic(image, size);
    trimap = resize_nearest(trimap, size.width, size.height);
  }
  const int w = image.width, h = image.height;
  // Known pixels near the unknown band: two passes of a 1-D dilation make a 7 x 7 square.
  std::vector<char> near_rows(static_cast<size_t>(w) * h, 0), near(static_cast<size_t>(w) * h, 0);
  auto unknown = [&](size_t i) { return trimap.data[i] != 0 && trimap.data[i] != 255; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (unknown(static_cast<size_t>(y) * w + x))
        for (int d = std::max(0, x - 3); d <= std::min(w - 1, x + 3); ++d)
          near_rows[static_cast<size_t>(y) * w + d] = 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (near_rows[static_cast<size_t>(y) * w + x])
        for (int d = std::max(0, y - 3); d <= std::min(h - 1, y + 3); ++d)
          near[static_cast<size_t>(d) * w + x] = 1;
  PngPixels layer;
  layer.width = w;
  layer.height = h;
  layer.channels = 4;
  layer.data.assign(static_cast<size_t>(w) * h * 4, 0);
  for (size_t i = 0; i < near.size(); ++i)
    if (near[i] && !unknown(i)) {
      const uint8_t v = trimap.data[i];
      layer.data[4 * i] = layer.data[4 * i + 1] = layer.data[4 * i + 2] = v;
      layer.data[4 * i + 3] = 255;
    }
  char suffix[32] = "";
  if (factor != 1.0) std::snprintf(suffix, sizeof suffix, "_x%g", factor);
  const std::string photo = out + "/" + name + suffix + ".png";
  const std::string strokes = out + "/" + name + suffix + "_strokes.png";
  if (!png_write(photo, image, &error) || !png_write(strokes, layer, &error)) {
    std::fprintf(stderr, "live_inputs: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s %s %d %d\n", photo.c_str(), strokes.c_str(), w, h);
  return 0;
}
