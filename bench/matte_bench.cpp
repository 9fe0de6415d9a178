// Times a matte calculation stage by stage on the shared photographs and prints a table.
//
//   matte_bench [--data DIR] [--images GT04,GT13,...] [--quick]
//
// For every image: the trimap as constraints, and scribble-like constraints (only the known
// pixels within 3 px of the unknown region kept), each at levels 1 / active 1 and at levels 3 /
// active 2. Per stage: wall time and peak resident memory above the level at the stage's
// start (Linux: freed memory is trimmed and the peak reset through /proc/self/clear_refs at
// every stage boundary, so the figure is the stage's own working memory).
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "matting/calc_input.h"
#include "matting/quillane.h"
#include "matting/stage_profile.h"
#include "numeric/allocate.h"
#include "numeric/errhandl.h"
#include "tools/png_io.h"

namespace {

using Clock = std::chrono::steady_clock;

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when unavailable.
long status_kib(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(f, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::atol(line.c_str() + n + 1);
  return -1;
}

// Resets the peak resident size to the current one; false when the kernel refuses.
bool reset_peak() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  f.flush();
  return static_cast<bool>(f);
}

struct StageTotals {
  double seconds[MATTE_STAGE_COUNT] = {};
  double peak_mib[MATTE_STAGE_COUNT] = {};  // largest rise above the stage's start
  double max_hwm_kib = 0;                   // highest absolute peak seen at any boundary
};

class Recorder : public MatteStageObserver {
 public:
  explicit Recorder(StageTotals* totals) : totals_(totals) {}
  void stage_begin(MatteStage stage) override {
    note_peak();
    // Hand freed memory back first, so that the baseline is the memory in use.
    malloc_trim(0);
    reset_peak();
    base_kib_ = status_kib("VmRSS");
    start_[stage] = Clock::now();
  }
  void stage_end(MatteStage stage) override {
    totals_->seconds[stage] += std::chrono::duration<double>(Clock::now() - start_[stage]).count();
    const long hwm = status_kib("VmHWM");
    if (hwm >= 0 && base_kib_ >= 0)
      totals_->peak_mib[stage] = std::max(totals_->peak_mib[stage], (hwm - base_kib_) / 1024.0);
    note_peak();
  }
  void note_peak() {
    totals_->max_hwm_kib = std::max(totals_->max_hwm_kib, static_cast<double>(status_kib("VmHWM")));
  }

 private:
  StageTotals* totals_;
  Clock::time_point start_[MATTE_STAGE_COUNT];
  long base_kib_ = 0;
};

struct Photo {
  std::string name;
  PngPixels image, trimap;
};

// Layer words of a trimap (0 background, 255 foreground, else unpainted); with scribble, a
// known pixel stays known only within 3 px (a 7 x 7 square) of an unknown one.
std::vector<uint32_t> constraint_layer(const PngPixels& trimap, bool scribble, long* unknowns) {
  const int w = trimap.width, h = trimap.height;
  std::vector<uint32_t> layer(static_cast<size_t>(w) * h);
  std::vector<int> near_unknown(static_cast<size_t>(w) * h, 0);
  if (scribble) {
    // Two passes of a 1-D dilation by 3 make the 7 x 7 square.
    std::vector<int> rows(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t t = trimap.data[static_cast<size_t>(y) * w + x];
        if (t != 0 && t != 255)
          for (int d = std::max(0, x - 3); d <= std::min(w - 1, x + 3); ++d)
            rows[static_cast<size_t>(y) * w + d] = 1;
      }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (rows[static_cast<size_t>(y) * w + x])
          for (int d = std::max(0, y - 3); d <= std::min(h - 1, y + 3); ++d)
            near_unknown[static_cast<size_t>(d) * w + x] = 1;
  }
  *unknowns = 0;
  for (size_t i = 0; i < layer.size(); ++i) {
    const uint8_t t = trimap.data[i];
    const bool known = (t == 0 || t == 255) && (!scribble || near_unknown[i]);
    layer[i] = !known ? 0u : t == 0 ? 0xff000000u : 0xffffffffu;
    *unknowns += !known;
  }
  return layer;
}

struct Row {
  std::string image, constraints, config;
  long unknowns = 0;
  int status = 0;
  StageTotals totals;
  double total_seconds = 0, total_peak_mib = 0;
};

Row run_case(const Photo& p, bool scribble, int levels, int active) {
  Row row;
  row.image = p.name;
  row.constraints = scribble ? "scribble" : "trimap";
  row.config = std::to_string(levels) + "/" + std::to_string(active);
  const std::vector<uint32_t> layer = constraint_layer(p.trimap, scribble, &row.unknowns);
  TIFF_img image;
  double** mask = nullptr;
  double** value = nullptr;
  const CalcRegion region = {0, 0, p.image.width, p.image.height};
  if (read_calc_input(p.image.data.data(), p.image.width * 3, 3,
                      reinterpret_cast<const uint8_t*>(layer.data()), p.image.width * 4, region,
                      &image, &mask, &value) != CALC_INPUT_OK) {
    std::fprintf(stderr, "%s: constraints lack a kind of stroke\n", p.name.c_str());
    std::exit(1);
  }
  LASClearError();
  Recorder recorder(&row.totals);
  malloc_trim(0);
  reset_peak();
  const long start_rss = status_kib("VmRSS");
  set_matte_stage_observer(&recorder);
  const Clock::time_point start = Clock::now();
  row.status = -3;
  double** alpha = solveAlphaC2F(&image, mask, value, levels, active, 0.02, 1e-7, 1, &row.status);
  row.total_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  recorder.note_peak();
  set_matte_stage_observer(nullptr);
  row.total_peak_mib = (row.totals.max_hwm_kib - start_rss) / 1024.0;
  free_img_t(alpha);
  free_img_t(mask);
  free_img_t(value);
  free_TIFF(&image);
  return row;
}

void print_header() {
  std::printf("%-6s %-9s %-5s %8s |", "image", "cons", "L/A", "unknowns");
  for (int s = 0; s < MATTE_STAGE_COUNT; ++s)
    std::printf(" %10s", matte_stage_name(static_cast<MatteStage>(s)));
  std::printf(" %10s\n", "total");
}

void print_row(const Row& r, bool memory) {
  std::printf("%-6s %-9s %-5s %8ld |", r.image.c_str(), r.constraints.c_str(), r.config.c_str(),
              r.unknowns);
  for (int s = 0; s < MATTE_STAGE_COUNT; ++s)
    std::printf(" %10.2f", memory ? r.totals.peak_mib[s] : r.totals.seconds[s]);
  std::printf(" %10.2f%s\n", memory ? r.total_peak_mib : r.total_seconds,
              r.status == 0 ? "" : "  (solver status not 0)");
}

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    const size_t comma = s.find(',', start);
    out.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string data = QUILLANE_SHARED_DATA "/matting";
  std::vector<std::string> names = {"GT04", "GT13", "GT18", "lemur"};
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--data" && i + 1 < argc) {
      data = argv[++i];
    } else if (a == "--images" && i + 1 < argc) {
      names = split(argv[++i]);
    } else if (a == "--quick") {
      quick = true;
    } else {
      std::fprintf(stderr, "usage: %s [--data DIR] [--images A,B,...] [--quick]\n", argv[0]);
      return 2;
    }
  }
  if (!reset_peak())
    std::fprintf(stderr, "note: cannot reset the peak; memory columns are rough\n");

  std::vector<Row> rows;
  for (const std::string& name : names) {
    Photo p;
    p.name = name;
    std::string error;
    if (!png_read(data + "/" + name + "_image.png", 3, &p.image, &error) ||
        !png_read(data + "/" + name + "_trimap.png", 1, &p.trimap, &error)) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
      return 1;
    }
    for (bool scribble : {false, true})
      for (int config = 0; config < (quick ? 1 : 2); ++config) {
        const int levels = config == 0 ? 1 : 3, active = config == 0 ? 1 : 2;
        // The solver's own trace goes to stdout between rows; keep it out of the table.
        std::fflush(stdout);
        const int saved = dup(1);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
        Row r = run_case(p, scribble, levels, active);
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        std::fprintf(stderr, "%s %s %s: %.2f s\n", r.image.c_str(), r.constraints.c_str(),
                     r.config.c_str(), r.total_seconds);
        rows.push_back(r);
      }
  }
  std::printf("\nTime per stage (seconds; stages summed over all levels of a run)\n");
  print_header();
  for (const Row& r : rows) print_row(r, false);
  std::printf(
      "\nPeak memory per stage (MiB of resident memory above the stage's start; total "
      "above the run's start)\n");
  print_header();
  for (const Row& r : rows) print_row(r, true);
  return 0;
}
