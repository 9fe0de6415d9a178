// How far the automatic levels fall behind the exact (one-level, direct) solve, case by case.
//
//   accuracy_bench [--data DIR] [--images GT04,GT13,GT18,lemur] [--exact-cache DIR]
//                  [--scale F] [--only SUBSTRING]
//
// Cases generated from the shared photographs: both trimaps (lemur has one); scribble layers
// cut from the trimap (a known pixel stays known only within B px of an unknown one) for B =
// 2, 4, 8; random halves of the scribble layer's 48 px cells (two seeds); and with --scale F
// (e.g. 2) the trimap and the B = 4 scribbles of the image enlarged F times (bicubic image
// and truth, nearest trimap). Every case is solved exactly (calculate_matte with one level)
// and with the automatic levels (a MatteSession's first update, as calculate_matte runs them).
// Prints each case's SAD against the truth (lemur: the FBA reference), the ratio of the
// automatic levels' SAD to the exact solve's, and the worst ratio. The exact mattes can be
// kept in --exact-cache DIR between runs (files named by case), since they dominate the time.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/enlarge.h"
#include "bench/split.h"
#include "matting/calc_input.h"
#include "matting/matte_session.h"
#include "matting/quillane.h"
#include "numeric/allocate.h"
#include "tools/png_io.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
  std::string name;
  const PngPixels* image;
  PngPixels truth;
  std::vector<uint32_t> layer;
};

// Layer words of a trimap: 0 background, 255 foreground, else unpainted; with band >= 0 a
// known pixel stays known only within band px (Chebyshev) of an unknown one.
std::vector<uint32_t> trimap_layer(const PngPixels& trimap, int band) {
  const int w = trimap.width, h = trimap.height;
  auto unknown = [&](int x, int y) {
    const uint8_t t = trimap.data[static_cast<size_t>(y) * w + x];
    return t != 0 && t != 255;
  };
  std::vector<uint8_t> near(static_cast<size_t>(w) * h, band < 0 ? 1 : 0);
  if (band >= 0) {
    std::vector<uint8_t> rows(near.size(), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (unknown(x, y))
          for (int d = std::max(0, x - band); d <= std::min(w - 1, x + band); ++d)
            rows[static_cast<size_t>(y) * w + d] = 1;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (rows[static_cast<size_t>(y) * w + x])
          for (int d = std::max(0, y - band); d <= std::min(h - 1, y + band); ++d)
            near[static_cast<size_t>(d) * w + x] = 1;
  }
  std::vector<uint32_t> layer(near.size(), 0);
  for (size_t i = 0; i < layer.size(); ++i) {
    const uint8_t t = trimap.data[i];
    if ((t == 0 || t == 255) && near[i]) layer[i] = t == 0 ? 0xff000000u : 0xffffffffu;
  }
  return layer;
}

// The layer with only a random half of its cell x cell squares kept (seeded); the others
// unpainted. Keeps drawing until both kinds of stroke are left.
std::vector<uint32_t> random_cells(const std::vector<uint32_t>& layer, int w, int h, int cell,
                                   unsigned seed) {
  std::mt19937 rng(seed);
  const int cw = (w + cell - 1) / cell, ch = (h + cell - 1) / cell;
  for (;;) {
    std::vector<uint32_t> out(layer.size(), 0);
    std::vector<uint8_t> keep(static_cast<size_t>(cw) * ch);
    for (auto& k : keep) k = rng() % 2;
    bool fg = false, bg = false;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        if (!keep[static_cast<size_t>(y / cell) * cw + x / cell]) continue;
        out[i] = layer[i];
        fg = fg || layer[i] == 0xffffffffu;
        bg = bg || layer[i] == 0xff000000u;
      }
    if (fg && bg) return out;
  }
}

double sad(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double s = 0;
  for (size_t i = 0; i < a.size(); ++i) s += std::abs(a[i] - b[i]) / 255.0;
  return s / 1000.0;
}

// The matte of a case as bytes: exact (one level, direct) or with the automatic levels.
// *seconds: the calculation's wall time.
std::vector<uint8_t> solve(const Case& c, bool exact, double* seconds) {
  const PngPixels& image = *c.image;
  TIFF_img calc_image;
  double** mask = nullptr;
  double** value = nullptr;
  if (read_calc_input(image.data.data(), image.width * 3, 3,
                      reinterpret_cast<const uint8_t*>(c.layer.data()), image.width * 4,
                      {0, 0, image.width, image.height}, &calc_image, &mask,
                      &value) != CALC_INPUT_OK) {
    std::fprintf(stderr, "%s: unusable constraints\n", c.name.c_str());
    std::exit(1);
  }
  // The solver's trace goes to stdout: keep it out of the table.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, 1);
  close(null_fd);
  std::vector<uint8_t> bytes;
  const Clock::time_point start = Clock::now();
  TIFF_img matte;
  int status;
  if (exact) {
    CalcOptions o;
    calc_options_default(&o);
    status = calculate_matte(&calc_image, mask, value, o, &matte);  // releases the inputs
  } else {
    CalcOptions o;
    calc_options_default(&o);
    MatteSessionSettings settings;
    settings.cache_bytes = 0;
    MatteSession session(calc_image, o, settings);
    status = session.update(mask, value);
    if (status == 0 && !session.copy_matte(&matte)) status = -1;
    free_TIFF(&calc_image);
    free_img(reinterpret_cast<void**>(mask));
    free_img(reinterpret_cast<void**>(value));
  }
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  if (status != 0) {
    std::fprintf(stderr, "%s: status %d\n", c.name.c_str(), status);
    std::exit(1);
  }
  bytes.assign(matte.plane[0], matte.plane[0] + static_cast<size_t>(image.width) * image.height);
  free_TIFF(&matte);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  std::string data = std::string(QUILLANE_SHARED_DATA) + "/matting";
  std::vector<std::string> names = {"GT04", "GT13", "GT18", "lemur"};
  std::string cache, only;
  double scale = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--data" && i + 1 < argc) {
      data = argv[++i];
    } else if (a == "--images" && i + 1 < argc) {
      names = split(argv[++i]);
    } else if (a == "--exact-cache" && i + 1 < argc) {
      cache = argv[++i];
    } else if (a == "--scale" && i + 1 < argc) {
      scale = std::atof(argv[++i]);
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--data DIR] [--images A,B] [--exact-cache DIR] "
                   "[--scale F] [--only SUBSTRING]\n",
                   argv[0]);
      return 2;
    }
  }

  // Images live as long as the cases that point at them.
  std::vector<std::unique_ptr<PngPixels>> images;
  std::vector<Case> cases;
  for (const std::string& name : names) {
    PngPixels image, truth;
    std::string error;
    const std::string truth_file = name == "lemur" ? "_fba_ref.png" : "_gt.png";
    if (!png_read(data + "/" + name + "_image.png", 3, &image, &error) ||
        !png_read(data + "/" + name + truth_file, 1, &truth, &error)) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
      return 1;
    }
    std::vector<std::pair<std::string, PngPixels>> trimaps;
    for (const char* t : {"trimap", "trimap2"}) {
      PngPixels trimap;
      if (png_read(data + "/" + name + "_" + t + ".png", 1, &trimap, &error))
        trimaps.emplace_back(t, trimap);
    }
    images.emplace_back(new PngPixels(image));
    const PngPixels* held = images.back().get();
    const int w = image.width, h = image.height;
    for (const auto& t : trimaps)
      cases.push_back({name + " " + t.first, held, truth, trimap_layer(t.second, -1)});
    const PngPixels& trimap = trimaps[0].second;
    for (int band : {2, 4, 8})
      cases.push_back(
          {name + " scribble" + std::to_string(band), held, truth, trimap_layer(trimap, band)});
    const std::vector<uint32_t> scribble = trimap_layer(trimap, 4);
    for (unsigned seed : {1u, 2u})
      cases.push_back({name + " cells" + std::to_string(seed), held, truth,
                       random_cells(scribble, w, h, 48, seed)});
    if (scale > 0) {
      const Size size = scaled_size(image, scale);
      images.emplace_back(new PngPixels(enlarge_bicubic(image, size)));
      const PngPixels* big = images.back().get();
      const PngPixels big_truth = enlarge_bicubic(truth, size);
      const PngPixels big_trimap = resize_nearest(trimap, size.width, size.height);
      char tag[32];
      std::snprintf(tag, sizeof tag, " x%g", scale);
      cases.push_back({name + tag + " trimap", big, big_truth, trimap_layer(big_trimap, -1)});
      cases.push_back({name + tag + " scribble4", big, big_truth, trimap_layer(big_trimap, 4)});
    }
  }

  std::printf("%-22s %9s %9s %9s %8s %7s %7s\n", "case", "unknowns", "SAD exact", "SAD auto",
              "auto/ex", "s exact", "s auto");
  double worst = 0;
  std::string worst_case;
  for (const Case& c : cases) {
    if (!only.empty() && c.name.find(only) == std::string::npos) continue;
    long unknowns = 0;
    for (uint32_t v : c.layer) unknowns += v == 0;
    std::string file = c.name;
    std::replace(file.begin(), file.end(), ' ', '_');
    file = cache + "/" + file + ".exact";
    std::vector<uint8_t> exact;
    double t_exact = -1, t_auto = 0;  // -1: the exact matte came from the cache
    const size_t n = static_cast<size_t>(c.image->width) * c.image->height;
    if (!cache.empty()) {
      std::ifstream f(file, std::ios::binary);
      exact.resize(n);
      if (!f.read(reinterpret_cast<char*>(exact.data()), static_cast<std::streamsize>(n)))
        exact.clear();
    }
    if (exact.empty()) {
      exact = solve(c, true, &t_exact);
      if (!cache.empty()) {
        std::ofstream f(file, std::ios::binary);
        f.write(reinterpret_cast<const char*>(exact.data()), static_cast<std::streamsize>(n));
      }
    }
    const std::vector<uint8_t> automatic = solve(c, false, &t_auto);
    const double se = sad(exact, c.truth.data), sa = sad(automatic, c.truth.data);
    if (sa / se > worst) {
      worst = sa / se;
      worst_case = c.name;
    }
    std::printf("%-22s %9ld %9.3f %9.3f %8.4f %7.2f %7.2f\n", c.name.c_str(), unknowns, se, sa,
                sa / se, t_exact, t_auto);
    std::fflush(stdout);
  }
  std::printf("worst auto/exact SAD ratio: %.4f (%s)\n", worst, worst_case.c_str());
  return 0;
}
