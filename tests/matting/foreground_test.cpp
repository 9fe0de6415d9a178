// Foreground estimation: on a composite of two photographs with a ground-truth alpha the
// estimate is far closer to the true foreground than the image is, also once composited over
// a new background; a constant image gives back its own colour at any size.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "matting/foreground.h"
#include "tools/png_io.h"

namespace {

TEST(Foreground, RecoversTheForegroundOfAPhotographComposite) {
  const std::string data = std::string(QUILLANE_SHARED_DATA) + "/matting/";
  struct stat st;
  if (stat((data + "README.md").c_str(), &st) != 0)
    GTEST_SKIP() << "shared data not found at " << data;
  // F and B: two photographs cut to their common size; alpha: GT04's ground truth fitted to it
  // by nearest neighbour.
  PngPixels f, b, gt;
  std::string error;
  ASSERT_TRUE(png_read(data + "GT13_image.png", 3, &f, &error) &&
              png_read(data + "GT18_image.png", 3, &b, &error) &&
              png_read(data + "GT04_gt.png", 1, &gt, &error))
      << error;
  const int w = std::min(f.width, b.width), h = std::min(f.height, b.height);
  std::vector<uint8_t> alpha(size_t(w) * h), truth(alpha.size() * 3), image(truth.size()),
      estimate(truth.size());
  for (size_t i = 0; i < truth.size(); ++i) {
    const size_t x = i / 3 % w, y = i / 3 / w;
    alpha[i / 3] =
        gt.data[(2 * y + 1) * gt.height / (2 * h) * gt.width + (2 * x + 1) * gt.width / (2 * w)];
    truth[i] = f.data[(y * f.width + x) * 3 + i % 3];
    image[i] = uint8_t(std::lround(
        (alpha[i / 3] * truth[i] + (255 - alpha[i / 3]) * b.data[(y * b.width + x) * 3 + i % 3]) /
        255.0));
  }
  ASSERT_EQ(estimate_foreground(image.data(), alpha.data(), w, h, estimate.data()), 0);
  // Mean absolute errors in grey levels over the partly transparent pixels: of the colours
  // themselves, and of the cut-out composited over plain green.
  auto over = [](int a, int c, int background) {
    return std::lround((a * c + (255 - a) * background) / 255.0);
  };
  const int green[3] = {0, 200, 0};
  double image_error = 0, estimate_error = 0, image_over = 0, estimate_over = 0, n = 0;
  for (size_t i = 0; i < truth.size(); ++i) {
    const int a = alpha[i / 3], t = truth[i], g = green[i % 3];
    if (a == 0 || a == 255) continue;
    image_error += std::abs(image[i] - t);
    estimate_error += std::abs(estimate[i] - t);
    image_over += std::abs(over(a, image[i], g) - over(a, t, g));
    estimate_over += std::abs(over(a, estimate[i], g) - over(a, t, g));
    ++n;
  }
  ASSERT_GT(n, 3 * 100000);  // GT04's soft edges cover a large part of the picture
  std::printf("mean error, image %.2f estimate %.2f; over green, image %.2f estimate %.2f\n",
              image_error / n, estimate_error / n, image_over / n, estimate_over / n);
  // Measured 22.5 -> 5.7 and 6.9 -> 1.8: the bounds leave about a quarter of margin.
  EXPECT_LT(estimate_error, image_error / 3);
  EXPECT_LT(estimate_over / n, 2.3);
}

// Every pyramid level, enlargement and sweep must keep a constant colour exactly, at sizes
// down to one pixel and with odd ratios, whatever the alpha.
TEST(Foreground, AConstantImageIsItsOwnForeground) {
  for (const auto& s :
       std::vector<std::pair<int, int>>{{1, 1}, {2, 7}, {5, 4}, {37, 23}, {130, 3}, {301, 257}}) {
    std::vector<uint8_t> rgb, alpha, out(size_t(s.first) * s.second * 3);
    for (int i = 0; i < s.first * s.second; ++i) {
      rgb.insert(rgb.end(), {201, 17, 96});
      alpha.push_back((i % s.first * 37 + i / s.first * 11) % 256);
    }
    ASSERT_EQ(estimate_foreground(rgb.data(), alpha.data(), s.first, s.second, out.data()), 0);
    EXPECT_EQ(out, rgb) << s.first << "x" << s.second;
  }
}

}  // namespace
