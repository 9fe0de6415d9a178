#include "matting/free_regions.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// A run of free pixels in a row, x0 <= x < x1, and its number.
struct Run {
  int x0, x1;
  int32_t id;
};

}  // namespace

// By runs rather than pixel by pixel: each row is read a few times in order, and the regions
// are unions of runs that overlap in neighbouring rows. A flood fill pixel by pixel took half
// a second at 12 megapixels, before a calculation the user is waiting for.
FreePixels count_free_pixels(double** mask, double** value, int width, int height) {
  FreePixels counted;
  std::vector<int32_t> parent;  // run -> a run of the same region, the smaller number
  std::vector<uint8_t> kinds;   // bit 1: touches background, bit 2: touches another stroke
  std::vector<int64_t> size;    // free pixels
  std::vector<Run> above, row;
  auto find = [&parent](int32_t a) {
    while (parent[a] != a) a = parent[a] = parent[parent[a]];
    return a;
  };
  auto kind = [mask, value](int y, int x) {
    return mask[y][x] == 0.0 ? 0 : value[y][x] == 0.0 ? 1 : 2;
  };
  for (int y = 0; y < height; ++y) {
    row.clear();
    const double* m = mask[y];
    for (int x = 0; x < width;) {
      if (m[x] != 0.0) {
        ++x;
        continue;
      }
      const int x0 = x;
      while (x < width && m[x] == 0.0) ++x;
      int k = (x0 > 0 ? kind(y, x0 - 1) : 0) | (x < width ? kind(y, x) : 0);
      for (int i = x0; i < x; ++i) {
        if (y > 0) k |= kind(y - 1, i);
        if (y + 1 < height) k |= kind(y + 1, i);
      }
      const int32_t id = static_cast<int32_t>(parent.size());
      parent.push_back(id);
      kinds.push_back(static_cast<uint8_t>(k));
      size.push_back(x - x0);
      row.push_back(Run{x0, x, id});
    }
    // Runs of this row and the one above that share a column are one region.
    size_t first = 0;
    for (const Run& r : row) {
      while (first < above.size() && above[first].x1 <= r.x0) ++first;
      for (size_t j = first; j < above.size() && above[j].x0 < r.x1; ++j) {
        const int32_t a = find(r.id), b = find(above[j].id);
        if (a < b) parent[b] = a;
        if (b < a) parent[a] = b;
      }
    }
    above.swap(row);
  }
  // Every run that is not its region's root adds its pixels and kinds to the root.
  for (int32_t id = 0; id < static_cast<int32_t>(parent.size()); ++id) {
    const int32_t root = find(id);
    if (root != id) {
      kinds[root] |= kinds[id];
      size[root] += size[id];
    }
  }
  for (int32_t id = 0; id < static_cast<int32_t>(parent.size()); ++id) {
    if (parent[id] != id) continue;
    counted.count += static_cast<double>(size[id]);
    if (kinds[id] == 3) counted.mixed += static_cast<double>(size[id]);
  }
  return counted;
}
