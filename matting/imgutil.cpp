// Small shared operations: grey erosion and the grey level of a colour.
#include "matting/imgutil.h"

#include "numeric/allocate.h"

// In arr (height x width, [y][x]); radius >= 0. Returns a new array (free_img) whose entry
// is the minimum over the (2*radius+1)-square window, clipped (not padded) at the borders.
double** imerode(double** arr, int width, int height, int radius) {
  double** out = get_img_t<double>(width, height);
  for (int y = 0; y < height; ++y) {
    const int y0 = y - radius < 0 ? 0 : y - radius;
    const int y1 = y + radius > height - 1 ? height - 1 : y + radius;
    for (int x = 0; x < width; ++x) {
      const int x0 = x - radius < 0 ? 0 : x - radius;
      const int x1 = x + radius > width - 1 ? width - 1 : x + radius;
      double minimum = arr[y0][x0];
      for (int yy = y0; yy <= y1; ++yy)
        for (int xx = x0; xx <= x1; ++xx)
          // Replace unless greater: a NaN in the window wins, as a plain "<" would not.
          if (!(arr[yy][xx] > minimum)) minimum = arr[yy][xx];
      out[y][x] = minimum;
    }
  }
  return out;
}

// In r, g, b: 0..255. Returns the lightness (max + min) / 2, truncated: 0..255.
int rgb2grey(int r, int g, int b) {
  int hi = r > g ? r : g;
  if (b > hi) hi = b;
  int lo = r < g ? r : g;
  if (b < lo) lo = b;
  return (hi + lo) / 2;
}
