// Times the foreground estimation (clean edge colours) on the shared photographs and on one of
// them enlarged to about 12 megapixels, and prints seconds per megapixel.
//
//   foreground_bench [--data DIR] [--sweep]
//
// --sweep instead measures the parameter choices: on composites with a known foreground
// (I = alpha F + (1 - alpha) B from two photographs and a ground-truth alpha) it prints, for
// each setting, the mean error of the estimate against the true foreground over the partly
// transparent pixels, and the time.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/enlarge.h"
#include "matting/foreground.h"
#include "tools/png_io.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The top-left w x h part of an image.
PngPixels crop(const PngPixels& in, int w, int h) {
  PngPixels out;
  out.width = w;
  out.height = h;
  out.channels = in.channels;
  for (int y = 0; y < h; ++y) {
    const auto row = in.data.begin() + static_cast<size_t>(y) * in.width * in.channels;
    out.data.insert(out.data.end(), row, row + static_cast<size_t>(w) * in.channels);
  }
  return out;
}

// Best of `runs` timings of one estimation.
double time_estimate(const PngPixels& rgb, const PngPixels& alpha, const ForegroundParams& p,
                     int runs) {
  std::vector<uint8_t> fg(rgb.data.size());
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const Clock::time_point t0 = Clock::now();
    estimate_foreground(rgb.data.data(), alpha.data.data(), rgb.width, rgb.height, fg.data(), p);
    best = std::min(best, seconds_since(t0));
  }
  return best;
}

struct Composite {
  PngPixels image, truth, alpha;
};

// I = alpha F + (1 - alpha) B rounded to bytes, on the common size of F and B; alpha fitted.
Composite make_composite(const PngPixels& f, const PngPixels& b, const PngPixels& alpha) {
  const int w = std::min(f.width, b.width), h = std::min(f.height, b.height);
  Composite c;
  c.truth = crop(f, w, h);
  const PngPixels back = crop(b, w, h);
  c.alpha = resize_nearest(alpha, w, h);
  c.image = c.truth;
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
    const double a = c.alpha.data[i] / 255.0;
    for (int k = 0; k < 3; ++k)
      c.image.data[i * 3 + k] = static_cast<uint8_t>(
          std::lround(a * c.truth.data[i * 3 + k] + (1 - a) * back.data[i * 3 + k]));
  }
  return c;
}

// Mean absolute error (grey levels) of colours against the truth over 0 < alpha < 255.
double edge_error(const Composite& c, const std::vector<uint8_t>& colours) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = 0; i < c.alpha.data.size(); ++i) {
    if (c.alpha.data[i] == 0 || c.alpha.data[i] == 255) continue;
    for (int k = 0; k < 3; ++k) sum += std::abs(colours[i * 3 + k] - c.truth.data[i * 3 + k]);
    n += 3;
  }
  return sum / static_cast<double>(n);
}

void sweep(const std::string& data) {
  PngPixels im[3], gt[3];
  const char* names[3] = {"GT04", "GT13", "GT18"};
  std::string error;
  for (int i = 0; i < 3; ++i)
    if (!png_read(data + "/" + names[i] + "_image.png", 3, &im[i], &error) ||
        !png_read(data + "/" + names[i] + "_gt.png", 1, &gt[i], &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return;
    }
  // F, B, alpha: the first as in the tests, two more with the roles turned round.
  const Composite comps[3] = {make_composite(im[1], im[2], gt[0]),
                              make_composite(im[2], im[0], gt[1]),
                              make_composite(im[0], im[1], gt[2])};
  std::printf("mean error over 0 < alpha < 1 (grey levels), composites F/B/alpha:\n");
  std::printf("%-34s %9s %9s %9s %8s\n", "setting", "13/18/04", "18/04/13", "04/13/18", "ms");
  std::printf("%-34s", "the image itself");
  for (const Composite& c : comps) std::printf(" %9.2f", edge_error(c, c.image.data));
  std::printf("\n");
  auto row = [&](const char* label, const ForegroundParams& p) {
    std::printf("%-34s", label);
    double ms = 0;
    for (const Composite& c : comps) {
      std::vector<uint8_t> fg(c.image.data.size());
      const Clock::time_point t0 = Clock::now();
      estimate_foreground(c.image.data.data(), c.alpha.data.data(), c.image.width, c.image.height,
                          fg.data(), p);
      ms += seconds_since(t0) * 1000;
      std::printf(" %9.2f", edge_error(c, fg));
    }
    std::printf(" %8.1f\n", ms / 3);
  };
  const ForegroundParams d;
  char label[64];
  row("defaults", d);
  for (double eps : {1e-5, 1e-4, 1e-3, 2e-3, 5e-3, 1e-2, 2e-2, 5e-2, 0.1}) {
    ForegroundParams p = d;
    p.eps = eps;
    std::snprintf(label, sizeof label, "eps %g", eps);
    row(label, p);
  }
  // Sweeps at full size, and either as many at every level or doubled per level up to 16.
  for (double f : {1.5, 2.0, 3.0})
    for (int fine : {1, 2, 4, 6, 10})
      for (int cap : {fine, 16}) {
        if (cap < fine) continue;
        ForegroundParams p = d;
        p.factor = f;
        p.fine_sweeps = fine;
        p.max_sweeps = cap;
        std::snprintf(label, sizeof label, "factor %g sweeps %d..%d", f, fine, cap);
        row(label, p);
      }
  for (int t : {1, 2}) {
    ForegroundParams p = d;
    p.threads = t;
    std::snprintf(label, sizeof label, "threads %d", t);
    row(label, p);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string data = std::string(QUILLANE_SHARED_DATA) + "/matting";
  bool do_sweep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--data" && i + 1 < argc) {
      data = argv[++i];
    } else if (a == "--sweep") {
      do_sweep = true;
    } else {
      std::fprintf(stderr, "usage: %s [--data DIR] [--sweep]\n", argv[0]);
      return 2;
    }
  }
  if (do_sweep) {
    sweep(data);
    return 0;
  }
  struct Input {
    std::string name, alpha;
  };
  const Input inputs[] = {
      {"GT04", "GT04_gt"}, {"GT13", "GT13_gt"}, {"GT18", "GT18_gt"}, {"lemur", "lemur_fba_ref"}};
  std::printf("%-18s %11s %6s %12s %12s\n", "image", "size", "MP", "s/MP 1 thr", "s/MP 2 thr");
  ForegroundParams one, two;
  one.threads = 1;
  two.threads = 2;
  PngPixels big_rgb, big_alpha;
  for (const Input& in : inputs) {
    PngPixels rgb, alpha;
    std::string error;
    if (!png_read(data + "/" + in.name + "_image.png", 3, &rgb, &error) ||
        !png_read(data + "/" + in.alpha + ".png", 1, &alpha, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    const double mp = rgb.width * static_cast<double>(rgb.height) / 1e6;
    std::printf("%-18s %5dx%-5d %6.2f %12.3f %12.3f\n", in.name.c_str(), rgb.width, rgb.height, mp,
                time_estimate(rgb, alpha, one, 3) / mp, time_estimate(rgb, alpha, two, 3) / mp);
    if (in.name == "GT04") {
      // About 12 megapixels, smoothly enlarged so that the edges stay soft.
      const double s = std::sqrt(12e6 / (rgb.width * static_cast<double>(rgb.height)));
      const int w = static_cast<int>(rgb.width * s), h = static_cast<int>(rgb.height * s);
      big_rgb = enlarge_bicubic(rgb, {w, h});
      big_alpha = enlarge_bicubic(alpha, {w, h});
    }
  }
  const double mp = big_rgb.width * static_cast<double>(big_rgb.height) / 1e6;
  std::printf("%-18s %5dx%-5d %6.2f %12.3f %12.3f\n", "GT04 enlarged", big_rgb.width,
              big_rgb.height, mp, time_estimate(big_rgb, big_alpha, one, 1) / mp,
              time_estimate(big_rgb, big_alpha, two, 1) / mp);
  // The process's peak: the enlarged inputs and output (7 bytes a pixel) plus the estimation's
  // own working memory.
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory %.0f MiB (%.0f bytes per pixel of the enlarged image)\n",
              usage.ru_maxrss / 1024.0, usage.ru_maxrss * 1024.0 / (mp * 1e6));
  return 0;
}
