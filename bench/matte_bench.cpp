// Times matte calculations on the shared photographs and prints tables.
//
//   matte_bench [--data DIR] [--images GT04,GT13,...] [--quick] [--scaled] [--direct-scaled]
//               [--write-layers DIR]
//
// For every image: the trimap as constraints, and scribble-like constraints (only the known
// pixels within 3 px of the unknown region kept), each solved at one level (the direct solve),
// at levels 3 / active 2, with automatic levels and with the iterative one-level solve. For
// each run: wall time, peak resident memory above the run's start, SAD against the ground
// truth (the reference alpha for lemur) and against the one-level result. A second table gives
// the time of each stage (Linux: freed memory is trimmed and the peak reset through
// /proc/self/clear_refs at every stage boundary).
//
// --scaled adds GT04 with scribbles enlarged 2, 3, 4.35 and 5.16 times (bicubic image, nearest
// trimap, the scribble rule applied after enlarging) with automatic levels, and at twice the
// size the iterative solve; --direct-scaled also solves twice the size at one level (about
// 150 s and 12 GB), against which the others are compared. The growth exponent of the
// automatic levels' time over the pixel count is fitted on a log-log scale.
//
// --cancel measures how long a cancel takes to end a calculation: GT04 with scribbles at one
// level (direct); twice its size (and with --scaled 5.16 times) with automatic levels, an
// update of a session and (twice) the iterative solve; each cancelled after several delays
// (--delays A,B,... seconds). It prints the stage running at the cancel, the time until the
// calculation returned, and the longest time by stage.
//
// --incremental adds strokes one at a time to a matte session (GT04, and with --scaled also
// GT04 enlarged 5.16 times, about 12 MP): the scribble constraints cut into square cells (48
// px at GT04's size), the cells added in a random order (fixed seed) that starts with one of
// each kind; once from the first two cells on, once from all cells but the last N. Each
// update's time, peak memory of the process and cache, and the tiles factorised and reused,
// next to a calculation from scratch with the same strokes (a new session) and how far the two
// mattes are apart. --steps N: updates per table (12); --refine: only the second table;
// --cache-gb G: the sessions' cache (MatteSessionSettings::cache_bytes).
//
// --estimates compares estimate_calculation() with the measured time and peak memory: GT04
// with its trimap, its scribbles and hand-painted-like strokes (11 strokes 3 px thin, far
// apart, inside the trimap's sure regions), GT18 with such strokes, and GT04's strokes
// enlarged 2 and 3 times (with --large also 5.16 times, about 12 MP, and its scribbles there),
// by method; "mixed" counts the free pixels in regions between both kinds of strokes.
//
// --write-layers DIR writes the constraint layers as PNG stroke layers, to time the tool.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "matting/auto_levels.h"
#include "matting/calc_control.h"
#include "matting/calc_input.h"
#include "matting/calc_plan.h"
#include "matting/matte_session.h"
#include "matting/quillane.h"
#include "matting/stage_profile.h"
#include "numeric/allocate.h"
#include "bench/enlarge.h"
#include "bench/split.h"
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
};

class Recorder : public MatteStageObserver {
 public:
  explicit Recorder(StageTotals* totals) : totals_(totals) {}
  void stage_begin(MatteStage stage) override { start_[stage] = Clock::now(); }
  void stage_end(MatteStage stage) override {
    totals_->seconds[stage] += std::chrono::duration<double>(Clock::now() - start_[stage]).count();
  }

 private:
  StageTotals* totals_;
  Clock::time_point start_[MATTE_STAGE_COUNT];
};

struct Photo {
  std::string name;
  PngPixels image, trimap, truth;
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

// The calculations compared.
enum Method { ONE_LEVEL, LEVELS_3_2, AUTO, ITERATIVE, METHOD_COUNT };
const char* const kMethodNames[METHOD_COUNT] = {"1/1", "3/2", "auto", "iterative"};

struct Run {
  std::string image, constraints, method;
  long unknowns = 0;
  int status = 0;
  double seconds = 0, peak_mib = 0;
  double sad_truth = -1, sad_one_level = -1;
  StageTotals stages;
  std::vector<uint8_t> matte;
};

CalcOptions options_for(Method m) {
  CalcOptions o;
  calc_options_default(&o);
  if (m == LEVELS_3_2) {
    o.levels_num = 3;
    o.active_levels_num = 2;
  }
  if (m == AUTO) o.auto_levels = 1;
  if (m == ITERATIVE) o.solver = CALC_SOLVER_ITERATIVE;
  return o;
}

double sad(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double s = 0;
  for (size_t i = 0; i < a.size(); ++i) s += std::abs(a[i] - b[i]) / 255.0;
  return s / 1000.0;
}

Run run_case(const std::string& name, const PngPixels& image, const std::vector<uint32_t>& layer,
             Method method) {
  Run run;
  run.image = name;
  run.method = kMethodNames[method];
  TIFF_img calc_image;
  double** mask = nullptr;
  double** value = nullptr;
  const CalcRegion region = {0, 0, image.width, image.height};
  if ((read_calc_input(image.data.data(), image.width * 3, 3,
                       reinterpret_cast<const uint8_t*>(layer.data()), image.width * 4, region,
                       &calc_image, &mask, &value) &
       (CALC_INPUT_NO_BACKGROUND | CALC_INPUT_NO_FOREGROUND)) != 0) {
    std::fprintf(stderr, "%s: constraints lack a kind of stroke\n", name.c_str());
    std::exit(1);
  }
  // The solver's trace goes to stdout: keep it out of the tables.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, 1);
  close(null_fd);

  Recorder recorder(&run.stages);
  malloc_trim(0);
  reset_peak();
  const long start_rss = status_kib("VmRSS");
  set_matte_stage_observer(&recorder);
  const Clock::time_point start = Clock::now();
  TIFF_img matte;
  run.status = calculate_matte(&calc_image, mask, value, options_for(method), &matte);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  set_matte_stage_observer(nullptr);
  run.peak_mib = (status_kib("VmHWM") - start_rss) / 1024.0;
  if (matte.TIFF_type == 'g') {
    run.matte.assign(matte.plane[0],
                     matte.plane[0] + static_cast<size_t>(image.width) * image.height);
    free_TIFF(&matte);
  }

  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::fprintf(stderr, "%s %s: %.2f s\n", name.c_str(), run.method.c_str(), run.seconds);
  return run;
}

void print_runs(const std::vector<Run>& runs) {
  std::printf("%-10s %-9s %-9s %9s %9s %10s %9s %9s\n", "image", "cons", "method", "unknowns",
              "seconds", "peak MiB", "SAD gt", "SAD 1/1");
  for (const Run& r : runs) {
    std::printf("%-10s %-9s %-9s %9ld %9.2f %10.0f", r.image.c_str(), r.constraints.c_str(),
                r.method.c_str(), r.unknowns, r.seconds, r.peak_mib);
    for (double v : {r.sad_truth, r.sad_one_level})
      if (v >= 0)
        std::printf(" %9.3f", v);
      else
        std::printf(" %9s", "-");
    std::printf("%s\n", r.status == 0 ? "" : "  (status not 0)");
  }
}

void print_stages(const std::vector<Run>& runs) {
  std::printf("%-10s %-9s %-9s |", "image", "cons", "method");
  for (int s = 0; s < MATTE_STAGE_COUNT; ++s)
    std::printf(" %10s", matte_stage_name(static_cast<MatteStage>(s)));
  std::printf("\n");
  for (const Run& r : runs) {
    std::printf("%-10s %-9s %-9s |", r.image.c_str(), r.constraints.c_str(), r.method.c_str());
    for (int s = 0; s < MATTE_STAGE_COUNT; ++s) std::printf(" %10.2f", r.stages.seconds[s]);
    std::printf("\n");
  }
}

// What cancel_latency() runs: a calculation with the control, which sets *started when the
// part to cancel begins.
using Cancellable = std::function<void(CalcControl*, std::atomic<bool>* started)>;

// Starts run on a thread, cancels it delay seconds after it said it started and returns how
// long it then took to return; *stage: what it was doing when cancelled (or "finished").
double cancel_latency(const Cancellable& run, double delay, std::string* stage) {
  CalcControl control;
  std::atomic<bool> done{false}, started{false};
  Clock::time_point returned;
  std::thread worker([&] {
    run(&control, &started);
    returned = Clock::now();
    done = true;
  });
  while (!started && !done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Clock::time_point start = Clock::now();
  while (!done && std::chrono::duration<double>(Clock::now() - start).count() < delay)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const Clock::time_point cancelled = Clock::now();
  *stage = done ? "finished" : calc_progress_text(control.progress());
  control.request_cancel();
  worker.join();
  return std::max(0.0, std::chrono::duration<double>(returned - cancelled).count());
}

// The stage of a progress text ("level 2 of 3 · factorising · 40 %" -> "factorising").
std::string stage_kind(const std::string& text) {
  const std::string dot = " \u00b7 ";
  size_t start = 0;
  while (true) {
    const size_t end = text.find(dot, start);
    const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
    if (part.compare(0, 6, "level ") != 0 && part.find('%') == std::string::npos) return part;
    if (end == std::string::npos) return text;
    start = end + dot.size();
  }
}

// A calculation of the method on the constraints of layer, for cancel_latency().
Cancellable calculation(const PngPixels& image, const std::vector<uint32_t>& layer, Method method) {
  return [&image, &layer, method](CalcControl* control, std::atomic<bool>* started) {
    TIFF_img calc_image, matte;
    double** mask = nullptr;
    double** value = nullptr;
    read_calc_input(image.data.data(), image.width * 3, 3,
                    reinterpret_cast<const uint8_t*>(layer.data()), image.width * 4,
                    {0, 0, image.width, image.height}, &calc_image, &mask, &value);
    *started = true;
    calculate_matte(&calc_image, mask, value, options_for(method), &matte, control);
    if (matte.TIFF_type == 'g') free_TIFF(&matte);
  };
}

// An update of a session that has calculated the strokes of layer but one cell (of 48 px at
// GT04's size, scaled), adding that cell; the session is made again for each run.
Cancellable session_update(const PngPixels& image, const std::vector<uint32_t>& layer, int cell) {
  return [&image, &layer, cell](CalcControl* control, std::atomic<bool>* started) {
    const int w = image.width, h = image.height;
    std::vector<uint32_t> fewer = layer;
    for (int y = h / 2; y < std::min(h, h / 2 + cell); ++y)
      for (int x = w / 2; x < std::min(w, w / 2 + cell); ++x) fewer[size_t(y) * w + x] = 0;
    TIFF_img calc_image;
    double** mask = nullptr;
    double** value = nullptr;
    read_calc_input(image.data.data(), w * 3, 3, reinterpret_cast<const uint8_t*>(fewer.data()),
                    w * 4, {0, 0, w, h}, &calc_image, &mask, &value);
    MatteSession session(calc_image, options_for(AUTO));
    free_TIFF(&calc_image);
    session.update(mask, value);
    free_img_t(mask);
    free_img_t(value);
    read_calc_input(image.data.data(), w * 3, 3, reinterpret_cast<const uint8_t*>(layer.data()),
                    w * 4, {0, 0, w, h}, &calc_image, &mask, &value);
    free_TIFF(&calc_image);
    *started = true;
    session.update(mask, value, MatteRequest(), control);
    free_img_t(mask);
    free_img_t(value);
  };
}

bool write_layer(const std::string& path, const std::vector<uint32_t>& layer, int w, int h) {
  PngPixels p;
  p.width = w;
  p.height = h;
  p.channels = 4;
  p.data.resize(layer.size() * 4);
  for (size_t i = 0; i < layer.size(); ++i) {
    const uint32_t v = layer[i];
    p.data[4 * i] = v >> 16 & 255;
    p.data[4 * i + 1] = v >> 8 & 255;
    p.data[4 * i + 2] = v & 255;
    p.data[4 * i + 3] = v >> 24;
  }
  std::string error;
  return png_write(path, p, &error);
}

// The cells of a stroke layer (cell x cell pixels) that hold strokes, each as the list of its
// stroke pixels (y * width + x), in a random order that starts with one cell of each kind.
std::vector<std::vector<int>> stroke_cells(const std::vector<uint32_t>& layer, int w, int h,
                                           int cell) {
  std::vector<std::vector<int>> cells;
  for (int cy = 0; cy < h; cy += cell)
    for (int cx = 0; cx < w; cx += cell) {
      std::vector<int> c;
      for (int y = cy; y < std::min(h, cy + cell); ++y)
        for (int x = cx; x < std::min(w, cx + cell); ++x)
          if (layer[static_cast<size_t>(y) * w + x] != 0) c.push_back(y * w + x);
      if (!c.empty()) cells.push_back(std::move(c));
    }
  std::mt19937 rng(1);
  std::shuffle(cells.begin(), cells.end(), rng);
  auto background = [&](const std::vector<int>& c) {
    for (int i : c)
      if (layer[i] == 0xff000000u) return true;
    return false;
  };
  auto foreground = [&](const std::vector<int>& c) {
    for (int i : c)
      if (layer[i] == 0xffffffffu) return true;
    return false;
  };
  for (size_t i = 0; i < cells.size(); ++i)
    if (background(cells[i])) {
      std::swap(cells[0], cells[i]);
      break;
    }
  for (size_t i = 1; i < cells.size(); ++i)
    if (foreground(cells[i])) {
      std::swap(cells[1], cells[i]);
      break;
    }
  return cells;
}

// Share of pixels whose bytes differ by at most 2.
double share_within_2(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t close = 0;
  for (size_t i = 0; i < a.size(); ++i) close += std::abs(a[i] - b[i]) <= 2;
  return static_cast<double>(close) / a.size();
}

std::vector<uint8_t> matte_bytes(const TIFF_img& m) {
  return std::vector<uint8_t>(m.plane[0], m.plane[0] + static_cast<size_t>(m.width) * m.height);
}

// Updates of one session: the first after cells 0 .. first - 1 (at least two: both kinds of
// stroke), then one cell more each, steps times.
void run_incremental(const std::string& name, const PngPixels& image, const PngPixels& trimap,
                     const PngPixels& truth, int cell, int first, int steps,
                     const MatteSessionSettings& settings) {
  const int w = image.width, h = image.height;
  long unknowns = 0;
  const std::vector<uint32_t> scribbles = constraint_layer(trimap, true, &unknowns);
  const std::vector<std::vector<int>> cells = stroke_cells(scribbles, w, h, cell);
  std::vector<uint32_t> layer(scribbles.size(), 0);
  CalcOptions opts = options_for(AUTO);
  const CalcRegion region = {0, 0, w, h};
  TIFF_img calc_image;
  double** mask = nullptr;
  double** value = nullptr;
  auto read = [&] {
    read_calc_input(image.data.data(), w * 3, 3, reinterpret_cast<const uint8_t*>(layer.data()),
                    w * 4, region, &calc_image, &mask, &value);
  };
  first = std::max(2, std::min(first, static_cast<int>(cells.size()) - steps));
  std::printf("\n%s (%d x %d): %d of its %zu cells (%d px) of strokes, then one more at a time\n",
              name.c_str(), w, h, first, cells.size(), cell);
  std::printf("%4s %8s %9s %9s %10s %10s %7s %7s %9s %9s %8s | %s\n", "step", "strokes", "update s",
              "scratch s", "peak MiB", "cache MiB", "tiles", "reused", "SAD gt", "SAD scr",
              "<=2/255", "update: laplacian numeric solve resampling");
  std::fflush(stdout);
  const int saved = dup(1);  // the engine's trace and bell stay out of the table
  std::unique_ptr<MatteSession> session;
  long painted = 0;
  for (int c = 0; c < first + steps && c < static_cast<int>(cells.size()); ++c) {
    for (int i : cells[c]) layer[i] = scribbles[i];
    painted += static_cast<long>(cells[c].size());
    if (c + 1 < first) continue;
    const int step = c + 1 - first;
    read();
    if (!session) session.reset(new MatteSession(calc_image, opts, settings));
    free_TIFF(&calc_image);
    const int null_fd = open("/dev/null", O_WRONLY);
    std::fflush(stdout);
    dup2(null_fd, 1);
    close(null_fd);
    malloc_trim(0);
    reset_peak();
    StageTotals stages;
    Recorder recorder(&stages);
    set_matte_stage_observer(&recorder);
    Clock::time_point start = Clock::now();
    const int status = session->update(mask, value);
    const double update_s = std::chrono::duration<double>(Clock::now() - start).count();
    set_matte_stage_observer(nullptr);
    const double peak = status_kib("VmHWM") / 1024.0;
    TIFF_img got;
    session->copy_matte(&got);
    const std::vector<uint8_t> incremental = matte_bytes(got);
    free_TIFF(&got);
    free_img_t(mask);
    free_img_t(value);
    // From scratch: what calculate_matte() does with automatic levels.
    read();
    TIFF_img want;
    start = Clock::now();
    calculate_matte(&calc_image, mask, value, opts, &want);
    const double scratch_s = std::chrono::duration<double>(Clock::now() - start).count();
    const std::vector<uint8_t> scratch = matte_bytes(want);
    free_TIFF(&want);
    std::fflush(stdout);
    dup2(saved, 1);
    std::printf(
        "%4d %8ld %9.2f %9.2f %10.0f %10.0f %7d %7d %9.3f %9.3f %7.2f%% | %.2f %.2f %.2f %.2f%s\n",
        step, painted, update_s, scratch_s, peak, session->cached_bytes() / 1048576.0,
        session->tiles_factorised(), session->tiles_reused(), sad(incremental, truth.data),
        sad(scratch, truth.data), 100 * share_within_2(incremental, scratch),
        stages.seconds[MATTE_STAGE_LAPLACIAN], stages.seconds[MATTE_STAGE_NUMERIC],
        stages.seconds[MATTE_STAGE_SOLVE], stages.seconds[MATTE_STAGE_RESAMPLING],
        status == 0 ? "" : "  (status not 0)");
    std::fflush(stdout);
  }
  close(saved);
}

// Layer words of hand-painted-like strokes for a trimap: up to `count` horizontal strokes
// `thickness` px thin and about a ninth of the width long, on rows spread over the image,
// each inside one sure region (0 or 255 throughout, with a margin), kinds alternating as far
// as the trimap allows. Exits when one kind is missing.
std::vector<uint32_t> thin_strokes(const PngPixels& trimap, int count, int thickness) {
  const int w = trimap.width, h = trimap.height, length = std::max(8, w / 9);
  const int margin = thickness + 2;
  std::vector<uint32_t> layer(static_cast<size_t>(w) * h, 0);
  auto sure = [&](int x, int y, uint8_t kind) {
    for (int yy = std::max(0, y - margin); yy <= std::min(h - 1, y + margin); ++yy)
      if (trimap.data[static_cast<size_t>(yy) * w + x] != kind) return false;
    return true;
  };
  int painted[2] = {0, 0};
  // Candidate rows, then in each row the first run long enough of the kind wanted next.
  const int rows = 4 * count;
  for (int r = 0; r < rows && painted[0] + painted[1] < count; ++r) {
    const int y = margin + (h - 2 * margin) * (2 * r + 1) / (2 * rows);
    for (int want : {painted[0] <= painted[1] ? 0 : 1, painted[0] <= painted[1] ? 1 : 0}) {
      const uint8_t kind = want == 0 ? 0 : 255;
      if (painted[want] >= (count + 1) / 2) continue;
      int run = 0, at = -1;
      // Runs start in the row's middle third first, then anywhere: strokes away from the edge.
      for (int x = 0; x < w && at < 0; ++x) {
        run = sure(x, y, kind) ? run + 1 : 0;
        if (run >= length + 2 * margin) at = x - run + 1 + margin;
      }
      if (at < 0) continue;
      for (int yy = y - thickness / 2; yy < y - thickness / 2 + thickness; ++yy)
        for (int x = at; x < at + length; ++x)
          layer[static_cast<size_t>(yy) * w + x] = want == 0 ? 0xff000000u : 0xffffffffu;
      ++painted[want];
      break;
    }
  }
  if (painted[0] == 0 || painted[1] == 0) {
    std::fprintf(stderr, "thin strokes: the trimap lacks room for both kinds\n");
    std::exit(1);
  }
  return layer;
}

// The free pixels of a constraint layer over image, read as the editor reads its strokes.
FreePixels free_pixels_of(const PngPixels& image, const std::vector<uint32_t>& layer) {
  TIFF_img calc_image;
  double** mask = nullptr;
  double** value = nullptr;
  if (read_calc_input(image.data.data(), image.width * 3, 3,
                      reinterpret_cast<const uint8_t*>(layer.data()), image.width * 4,
                      {0, 0, image.width, image.height}, &calc_image, &mask,
                      &value) != CALC_INPUT_OK) {
    std::fprintf(stderr, "constraints lack a kind of stroke or a free pixel\n");
    std::exit(1);
  }
  free_TIFF(&calc_image);
  const FreePixels free = count_free_pixels(mask, value, image.width, image.height);
  free_img_t(mask);
  free_img_t(value);
  return free;
}

// Estimate against measurement: each case solved by the methods listed, one row each.
void run_estimates(const Photo& gt04, const Photo* gt18, bool large) {
  struct EstimateCase {
    std::string name;
    PngPixels image;
    std::vector<uint32_t> layer;
    std::vector<Method> methods;
  };
  std::vector<EstimateCase> cases;
  long dummy;
  cases.push_back({"GT04 trimap",
                   gt04.image,
                   constraint_layer(gt04.trimap, false, &dummy),
                   {ONE_LEVEL, AUTO, ITERATIVE}});
  cases.push_back({"GT04 scribble",
                   gt04.image,
                   constraint_layer(gt04.trimap, true, &dummy),
                   {ONE_LEVEL, AUTO, ITERATIVE}});
  cases.push_back(
      {"GT04 strokes", gt04.image, thin_strokes(gt04.trimap, 11, 3), {ONE_LEVEL, AUTO, ITERATIVE}});
  if (gt18 != nullptr)
    cases.push_back(
        {"GT18 strokes", gt18->image, thin_strokes(gt18->trimap, 11, 3), {ONE_LEVEL, AUTO}});
  std::vector<double> factors = {2.0, 3.0};
  if (large) factors.push_back(5.16);
  for (double f : factors) {
    const PngPixels image = enlarge_bicubic(gt04.image, scaled_size(gt04.image, f));
    const PngPixels trimap = resize_nearest(gt04.trimap, image.width, image.height);
    char name[64];
    std::snprintf(name, sizeof name, "GT04 x%.2g strokes", f);
    std::vector<Method> methods = {AUTO};
    if (f == 2.0) methods.push_back(ITERATIVE);
    cases.push_back({name, image, thin_strokes(trimap, 11, 3), methods});
    if (f > 5) {  // the tool's 12 MP case: strokes along the edges
      std::snprintf(name, sizeof name, "GT04 x%.2g scribble", f);
      cases.push_back({name, image, constraint_layer(trimap, true, &dummy), {AUTO}});
    }
  }
  std::printf("%-20s %-9s %9s %9s %6s | %8s %8s %6s | %8s %8s %6s\n", "case", "method", "unknowns",
              "mixed", "MP", "est s", "meas s", "ratio", "est MiB", "meas MiB", "ratio");
  for (const EstimateCase& c : cases) {
    const FreePixels free = free_pixels_of(c.image, c.layer);
    for (Method m : c.methods) {
      const CalcEstimate e =
          estimate_calculation(c.image.width, c.image.height, free, options_for(m));
      const Run r = run_case(c.name, c.image, c.layer, m);
      const double est_mib = e.bytes / (1024.0 * 1024.0);
      std::printf("%-20s %-9s %9.0f %9.0f %6.2f | %8.2f %8.2f %6.2f | %8.0f %8.0f %6.2f%s\n",
                  c.name.c_str(), kMethodNames[m], free.count, free.mixed,
                  c.image.width * 1e-6 * c.image.height, e.seconds, r.seconds,
                  r.seconds / e.seconds, est_mib, r.peak_mib, r.peak_mib / est_mib,
                  r.status == 0 ? "" : "  (status not 0)");
      std::fflush(stdout);
    }
  }
}
}  // namespace

int main(int argc, char** argv) {
  std::string data = QUILLANE_SHARED_DATA "/matting";
  std::vector<std::string> names = {"GT04", "GT13", "GT18", "lemur"};
  std::string layers_dir;
  bool quick = false, scaled = false, direct_scaled = false, cancel = false, incremental = false;
  bool refine_only = false, estimates = false, large = false;
  std::vector<double> delays = {0.05, 0.2, 0.5, 1.0, 1.5, 2.0, 3.0, 3.5, 5.0, 8.0, 12.0, 20.0};
  MatteSessionSettings settings;
  int steps = 12;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--data" && i + 1 < argc) {
      data = argv[++i];
    } else if (a == "--images" && i + 1 < argc) {
      names = split(argv[++i]);
    } else if (a == "--write-layers" && i + 1 < argc) {
      layers_dir = argv[++i];
    } else if (a == "--incremental") {
      incremental = true;
    } else if (a == "--cache-gb" && i + 1 < argc) {
      settings.cache_bytes = std::atof(argv[++i]) * 1e9;
    } else if (a == "--refine") {
      incremental = refine_only = true;
    } else if (a == "--steps" && i + 1 < argc) {
      steps = std::atoi(argv[++i]);
    } else if (a == "--delays" && i + 1 < argc) {
      delays.clear();
      for (const std::string& d : split(argv[++i])) delays.push_back(std::atof(d.c_str()));
    } else if (a == "--estimates") {
      estimates = true;
    } else if (a == "--large") {
      large = true;
    } else if (a == "--cancel") {
      cancel = true;
    } else if (a == "--quick") {
      quick = true;
    } else if (a == "--scaled") {
      scaled = true;
    } else if (a == "--direct-scaled") {
      scaled = direct_scaled = true;
    } else {
      std::fprintf(
          stderr,
          "usage: %s [--data DIR] [--images A,B,...] [--quick] [--scaled] "
          "[--direct-scaled] [--cancel [--delays A,B]] [--incremental|--refine [--steps N] "
          "[--cache-gb G]] "
          "[--estimates [--large]] [--write-layers DIR]\n",
          argv[0]);
      return 2;
    }
  }
  if (!reset_peak())
    std::fprintf(stderr, "note: cannot reset the peak; memory columns are rough\n");

  std::vector<Run> runs;
  std::vector<Photo> photos;
  for (const std::string& name : names) {
    Photo p;
    p.name = name;
    std::string error;
    const std::string truth = data + "/" + name + (name == "lemur" ? "_fba_ref.png" : "_gt.png");
    if (!png_read(data + "/" + name + "_image.png", 3, &p.image, &error) ||
        !png_read(data + "/" + name + "_trimap.png", 1, &p.trimap, &error) ||
        !png_read(truth, 1, &p.truth, &error)) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
      return 1;
    }
    if (incremental) {
      // The first strokes, where each changes the uncertain band everywhere, and refining an
      // almost complete set, where a stroke changes the band near it.
      if (!refine_only) run_incremental(name, p.image, p.trimap, p.truth, 48, 2, steps, settings);
      run_incremental(name, p.image, p.trimap, p.truth, 48, 1 << 30, steps, settings);
      if (scaled && name == "GT04") {
        const PngPixels image = enlarge_bicubic(p.image, scaled_size(p.image, 5.16));
        const PngPixels trimap = resize_nearest(p.trimap, image.width, image.height);
        const PngPixels truth = enlarge_bicubic(p.truth, scaled_size(p.truth, 5.16));
        if (!refine_only)
          run_incremental(name + "x5.16", image, trimap, truth, 248, 2, steps, settings);
        run_incremental(name + "x5.16", image, trimap, truth, 248, 1 << 30, steps, settings);
      }
      continue;
    }
    if (estimates) {  // its own cases, below
      photos.push_back(std::move(p));
      continue;
    }
    for (bool scribble : {false, true}) {
      long unknowns = 0;
      const std::vector<uint32_t> layer = constraint_layer(p.trimap, scribble, &unknowns);
      if (!layers_dir.empty())
        write_layer(layers_dir + "/" + name + (scribble ? "_scribble.png" : "_trimap.png"), layer,
                    p.image.width, p.image.height);
      std::vector<uint8_t> one_level;
      for (int m = 0; m < METHOD_COUNT; ++m) {
        if (quick && m != ONE_LEVEL && m != AUTO) continue;
        Run r = run_case(name, p.image, layer, static_cast<Method>(m));
        r.constraints = scribble ? "scribble" : "trimap";
        r.unknowns = unknowns;
        r.sad_truth = sad(r.matte, p.truth.data);
        if (m == ONE_LEVEL) one_level = r.matte;
        if (!one_level.empty()) r.sad_one_level = sad(r.matte, one_level);
        r.matte.clear();
        runs.push_back(std::move(r));
      }
    }
    photos.push_back(std::move(p));
  }
  if (incremental) return 0;
  if (estimates) {
    const Photo* gt04 = nullptr;
    const Photo* gt18 = nullptr;
    for (const Photo& p : photos) {
      if (p.name == "GT04") gt04 = &p;
      if (p.name == "GT18") gt18 = &p;
    }
    if (gt04 == nullptr) {
      std::fprintf(stderr, "--estimates needs GT04 among the images\n");
      return 1;
    }
    run_estimates(*gt04, gt18, large);
    return 0;
  }
  std::printf(
      "\nShared photographs (SAD /1000 over all pixels; \"SAD 1/1\": against the one-level "
      "result)\n");
  print_runs(runs);
  std::printf("\nTime per stage (seconds, summed over the levels of a run)\n");
  print_stages(runs);

  const Photo* gt04 = nullptr;
  for (const Photo& p : photos)
    if (p.name == "GT04") gt04 = &p;
  if (cancel && gt04 != nullptr) {
    std::printf("\nCancel: time from the request to the calculation's return\n");
    std::printf("%-10s %-9s %7s  %-44s %9s\n", "image", "method", "after", "stage at the cancel",
                "seconds");
    std::vector<PngPixels> images = {gt04->image};
    std::vector<std::vector<uint32_t>> layers;
    for (double f : scaled ? std::vector<double>{2.0, 5.16} : std::vector<double>{2.0})
      images.push_back(enlarge_bicubic(gt04->image, scaled_size(gt04->image, f)));
    for (const PngPixels& image : images) {
      long unknowns = 0;
      layers.push_back(constraint_layer(resize_nearest(gt04->trimap, image.width, image.height),
                                        true, &unknowns));
    }
    struct Case {
      std::string name, method;
      Cancellable run;
    };
    std::vector<Case> cases = {{"GT04", "1/1", calculation(images[0], layers[0], ONE_LEVEL)}};
    for (size_t i = 1; i < images.size(); ++i) {
      const std::string name = i == 1 ? "GT04x2" : "GT04x5.16";
      const int cell = static_cast<int>(48 * images[i].width / gt04->image.width);
      cases.push_back({name, "auto", calculation(images[i], layers[i], AUTO)});
      if (i == 1)
        cases.push_back({name, "iterative", calculation(images[i], layers[i], ITERATIVE)});
      cases.push_back({name, "update", session_update(images[i], layers[i], cell)});
    }
    std::map<std::string, double> worst;  // by stage, over all but the direct solve
    for (const Case& c : cases)
      for (double delay : delays) {
        std::string stage;
        const double seconds = cancel_latency(c.run, delay, &stage);
        std::printf("%-10s %-9s %6.2fs  %-44s %9.3f\n", c.name.c_str(), c.method.c_str(), delay,
                    stage.c_str(), seconds);
        std::fflush(stdout);
        if (c.method == "1/1") continue;
        const std::string kind = stage_kind(stage);
        worst[kind] = std::max(worst[kind], seconds);
      }
    std::printf("\nLongest cancel by stage (all but the direct solve)\n");
    for (const auto& [stage, seconds] : worst)
      std::printf("  %-24s %6.3f s\n", stage.c_str(), seconds);
  }

  if (scaled) {
    if (gt04 == nullptr) {
      std::fprintf(stderr, "--scaled needs GT04 among the images\n");
      return 1;
    }
    std::vector<Run> big;
    std::vector<double> mp, seconds;
    for (double f : {1.0, 2.0, 3.0, 4.35, 5.16}) {
      const PngPixels image =
          f == 1.0 ? gt04->image : enlarge_bicubic(gt04->image, scaled_size(gt04->image, f));
      const PngPixels trimap = resize_nearest(gt04->trimap, image.width, image.height);
      const PngPixels truth = enlarge_bicubic(gt04->truth, scaled_size(gt04->truth, f));
      long unknowns = 0;
      const std::vector<uint32_t> layer = constraint_layer(trimap, true, &unknowns);
      char name[32];
      std::snprintf(name, sizeof name, "GT04x%.2f", f);
      std::vector<uint8_t> one_level;
      for (Method m : {ONE_LEVEL, AUTO, ITERATIVE}) {
        if (m == ONE_LEVEL && (f != 2.0 || !direct_scaled)) continue;
        if (m == ITERATIVE && f != 2.0) continue;
        Run r = run_case(name, image, layer, m);
        r.constraints = "scribble";
        r.unknowns = unknowns;
        r.sad_truth = sad(r.matte, truth.data);
        if (m == ONE_LEVEL) one_level = r.matte;
        if (!one_level.empty()) r.sad_one_level = sad(r.matte, one_level);
        if (m == AUTO) {
          mp.push_back(image.width * static_cast<double>(image.height) / 1e6);
          seconds.push_back(r.seconds);
        }
        r.matte.clear();
        big.push_back(std::move(r));
      }
    }
    std::printf("\nGT04 with scribbles, enlarged (SAD gt: against the enlarged ground truth)\n");
    print_runs(big);
    std::printf("\nTime per stage (seconds)\n");
    print_stages(big);
    // Least-squares slope of log(time) over log(pixels).
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(mp.size());
    for (size_t i = 0; i < mp.size(); ++i) {
      const double x = std::log(mp[i]), y = std::log(seconds[i]);
      sx += x;
      sy += y;
      sxx += x * x;
      sxy += x * y;
    }
    if (mp.size() >= 2)
      std::printf("\nAutomatic levels: time grows as pixels^%.2f from %.2f to %.2f MP\n",
                  (n * sxy - sx * sy) / (n * sxx - sx * sx), mp.front(), mp.back());
  }
  return 0;
}
