#include "bench/enlarge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Keys' cubic convolution weight (a = -0.5).
double cubic(double t) {
  t = std::fabs(t);
  if (t <= 1) return (1.5 * t - 2.5) * t * t + 1;
  if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
  return 0;
}

}  // namespace

PngPixels enlarge_bicubic(const PngPixels& in, Size size) {
  PngPixels out;
  out.width = size.width;
  out.height = size.height;
  out.channels = in.channels;
  out.data.resize(static_cast<size_t>(out.width) * out.height * in.channels);
  auto taps = [](int n_out, int n_in, std::vector<int>* index, std::vector<double>* weight) {
    for (int i = 0; i < n_out; ++i) {
      const double u = (i + 0.5) * n_in / n_out - 0.5;
      const int u0 = static_cast<int>(std::floor(u)) - 1;
      for (int k = 0; k < 4; ++k) {
        index->push_back(std::clamp(u0 + k, 0, n_in - 1));
        weight->push_back(cubic(u - (u0 + k)));
      }
    }
  };
  std::vector<int> xi, yi;
  std::vector<double> xw, yw;
  taps(out.width, in.width, &xi, &xw);
  taps(out.height, in.height, &yi, &yw);
  const int c = in.channels;
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x)
      for (int ch = 0; ch < c; ++ch) {
        double sum = 0;
        for (int a = 0; a < 4; ++a) {
          const uint8_t* row = &in.data[static_cast<size_t>(yi[4 * y + a]) * in.width * c];
          double r = 0;
          for (int b = 0; b < 4; ++b) r += xw[4 * x + b] * row[xi[4 * x + b] * c + ch];
          sum += yw[4 * y + a] * r;
        }
        out.data[(static_cast<size_t>(y) * out.width + x) * c + ch] =
            static_cast<uint8_t>(std::clamp(std::lround(sum), 0L, 255L));
      }
  return out;
}

Size scaled_size(const PngPixels& in, double f) {
  return {static_cast<int>(std::lround(in.width * f)),
          static_cast<int>(std::lround(in.height * f))};
}
