#include "matting/pyramid.h"

#include <algorithm>

int level_side(int n, int filts) {
  return n % 2 + (n - 2 * filts) / 2;
}

bool can_halve(int width, int height, int window_radius) {
  const int side = 2 * std::max(window_radius, 1) + 1;
  return level_side(width) >= side && level_side(height) >= side;
}

int usable_levels(int width, int height, int levels_num, int window_radius) {
  int levels = 1;
  while (levels < levels_num && can_halve(width, height, window_radius)) {
    width = level_side(width);
    height = level_side(height);
    ++levels;
  }
  return levels;
}
