// Foreground colour estimation ("clean edge colours"): given an image and its alpha, the colour
// each pixel's foreground has once the background that shows through a partly transparent
// pixel is taken out. A cut-out written with these colours composites over a new background
// without a fringe of the old one. No GTK.
#ifndef QUILLANE_MATTING_FOREGROUND_H
#define QUILLANE_MATTING_FOREGROUND_H

#include <cstdint>

// Tuning of the estimation. The defaults are the measured choice (see foreground.cpp).
struct ForegroundParams {
  double eps = 1e-3;    // smoothness weight between neighbours of equal alpha
  double factor = 2.0;  // ratio of the sides of two neighbouring pyramid levels
  int fine_sweeps = 4;  // sweeps at full size, doubled at every coarser level ...
  int max_sweeps = 16;  // ... up to this many
  int threads = 2;      // worker threads for the sweeps of large levels (1: none)
};

// Returned by the functions below when memory runs out; nothing is written or changed then.
const int FOREGROUND_OUT_OF_MEMORY = -2;

// Estimates the foreground colour of every pixel (the background colours are estimated along
// the way and dropped).
// In rgb: width * height pixels of 3 bytes (red, green, blue), rows top to bottom without
//   padding; pixel (x, y), 0-based, starts at rgb[3 * (y * width + x)].
// In alpha: width * height bytes in the same order, 0 transparent ... 255 opaque.
// Out foreground: width * height * 3 bytes in the order of rgb, allocated by the caller.
// Returns 0, -1 (nothing written) when a side is below 1 or a pointer is null, or
// FOREGROUND_OUT_OF_MEMORY.
int estimate_foreground(const uint8_t* rgb, const uint8_t* alpha, int width, int height,
                        uint8_t* foreground, const ForegroundParams& params = ForegroundParams());

// Cleans the edge colours of an RGBA image in place: the red, green and blue of every pixel
// whose alpha is strictly between 0 and 255 become its estimated foreground colour; all
// other bytes stay as they are.
// In-out rgba: height rows of stride bytes, each width pixels of 4 bytes (red, green, blue,
//   alpha, not premultiplied). Returns 0, or -1 and FOREGROUND_OUT_OF_MEMORY as
//   estimate_foreground (nothing changed).
int clean_edge_colours(uint8_t* rgba, int width, int height, int stride,
                       const ForegroundParams& params = ForegroundParams());

#endif
