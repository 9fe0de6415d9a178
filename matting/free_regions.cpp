#include "matting/free_regions.h"

#include <cstddef>
#include <cstdint>
#include <vector>

FreePixels count_free_pixels(double** mask, double** value, int width, int height) {
  FreePixels counted;
  if (width <= 0 || height <= 0) return counted;
  const int64_t n = static_cast<int64_t>(width) * height;
  std::vector<uint8_t> seen(static_cast<size_t>(n), 0);
  std::vector<int32_t> stack;  // pixels y * width + x of the region being filled
  for (int64_t start = 0; start < n; ++start) {
    const int sy = static_cast<int>(start / width), sx = static_cast<int>(start % width);
    if (seen[start] || mask[sy][sx] != 0.0) continue;
    // Fill the region; bits 1 and 2 collect the kinds of the strokes around it.
    int kinds = 0;
    double size = 0;
    seen[start] = 1;
    stack.push_back(static_cast<int32_t>(start));
    while (!stack.empty()) {
      const int32_t p = stack.back();
      stack.pop_back();
      ++size;
      const int y = p / width, x = p % width;
      const int ny[4] = {y, y, y - 1, y + 1}, nx[4] = {x - 1, x + 1, x, x};
      for (int k = 0; k < 4; ++k) {
        if (nx[k] < 0 || nx[k] >= width || ny[k] < 0 || ny[k] >= height) continue;
        if (mask[ny[k]][nx[k]] != 0.0) {
          kinds |= value[ny[k]][nx[k]] == 0.0 ? 1 : 2;
          continue;
        }
        const int32_t q = ny[k] * width + nx[k];
        if (seen[q]) continue;
        seen[q] = 1;
        stack.push_back(q);
      }
    }
    counted.count += size;
    if (kinds == 3) counted.mixed += size;
  }
  return counted;
}
