// Enlargement of the shared photographs for the benchmarks' large rows.
#ifndef QUILLANE_BENCH_ENLARGE_H
#define QUILLANE_BENCH_ENLARGE_H

#include "tools/png_io.h"

struct Size {
  int width, height;
};

// The image's size times f, rounded.
Size scaled_size(const PngPixels& in, double f);

// In: an 8-bit image of any channel count. Returns it resized to size by bicubic convolution
// (Keys, a = -0.5; pixel centres aligned, edges clamped), smooth enough to keep soft edges soft.
PngPixels enlarge_bicubic(const PngPixels& in, Size size);

#endif  // QUILLANE_BENCH_ENLARGE_H
