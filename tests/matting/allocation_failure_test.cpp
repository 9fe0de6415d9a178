// Running out of memory at every allocation of a small calculation, the way SuiteSparse's own
// tests do: the k-th allocation and every later one fail (memory, once exhausted, stays so),
// for k = 1, 2, ... until the calculation no longer reaches the k-th. The allocations counted
// are the engine's own (allocation_hook.h), operator new's and SuiteSparse's. Every run ends
// either with the out-of-memory status and no result, or, where only a helper thread was
// refused, with the normal result; in the sanitizer build nothing may leak.
#include <SuiteSparse_config.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <new>

#include "engine_fixtures.h"
#include "matting/foreground.h"
#include "matting/matte_session.h"
#include "tests/common/refusing_new.h"
#include "numeric/allocation_hook.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

std::atomic<bool> armed{false};
std::atomic<long> asked{0};      // allocations asked for since the hook was armed
std::atomic<long> remaining{0};  // allowed before they fail
std::vector<size_t> sizes;       // of the allocations asked for, while recording (room reserved)
std::atomic<bool> recording{false};
std::atomic<bool> only_kth{false};  // memory runs out for the k-th allocation only

bool refuse(size_t bytes) {
  if (!armed.load(std::memory_order_relaxed)) return false;
  const long n = asked++;
  if (recording && static_cast<size_t>(n) < sizes.size()) sizes[n] = bytes;
  const long left = remaining.fetch_sub(1);
  return only_kth ? left == 1 : left <= 1;
}

void* suitesparse_malloc(size_t n) {
  return refuse(n) ? nullptr : std::malloc(n);
}
void* suitesparse_calloc(size_t n, size_t size) {
  return refuse(n * size) ? nullptr : std::calloc(n, size);
}
void* suitesparse_realloc(void* p, size_t n) {
  return refuse(n) ? nullptr : std::realloc(p, n);
}

}  // namespace

bool refuse_allocation(size_t bytes) {
  return refuse(bytes);
}

namespace {

CalcOptions method_options(int automatic, int solver) {
  CalcOptions o;
  calc_options_default(&o);
  o.auto_levels = automatic;
  o.solver = solver;
  return o;
}

// One calculation of a method: its status and, in *result, what it made (empty: nothing).
using Calculation = std::function<int(std::vector<uint8_t>* result)>;

// Sends stdout (the engine's trace and bell) to /dev/null while it lives.
struct QuietStdout {
  QuietStdout() : saved(dup(1)) {
    std::fflush(stdout);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
  int saved;
};

Calculation matte_calculation(int w, int h, const CalcOptions& opts) {
  return [=](std::vector<uint8_t>* result) {
    Scene s(w, h, 3, 17);
    int status;
    TIFF_img matte;
    {
      QuietStdout quiet;
      armed = true;
      status = calculate_matte(&s.image, s.mask.a, s.value.a, opts, &matte);
      armed = false;
    }
    s.image.TIFF_type = 0;
    s.mask.a = s.value.a = nullptr;
    result->clear();
    if (matte.TIFF_type == 'g') {
      result->assign(matte.plane[0], matte.plane[0] + w * h);
      free_TIFF(&matte);
    }
    return status;
  };
}

// An update of a session with three levels and many tiles, after a first one (not counted)
// with fewer strokes; the session must work again afterwards.
int session_update(std::vector<uint8_t>* result) {
  Scene s(44, 38, 0, 13);
  auto paint = [&](int x0, int y0, int x1, int y1, double target) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        s.mask[y][x] = 1.0;
        s.value[y][x] = target;
      }
  };
  paint(3, 3, 10, 35, 0.0);  // away from the borders, so that the halvings keep them
  paint(18, 14, 25, 24, 1.0);
  MatteSessionSettings settings;
  settings.levels.coarsest_unknowns = 300;
  settings.levels.intermediate.tile_variables = settings.levels.final_level.tile_variables = 150;
  MatteSession session(s.image, method_options(1, CALC_SOLVER_DIRECT), settings);
  int levels = 0;
  MatteRequest request;
  request.deliver = [&](const SessionMatte& m) { levels = m.levels; };
  std::optional<QuietStdout> quiet(std::in_place);
  const int first = session.update(s.mask.a, s.value.a, request);
  quiet.reset();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(levels, 3);
  quiet.emplace();
  paint(30, 8, 36, 14, 1.0);
  armed = true;
  const int status = session.update(s.mask.a, s.value.a);
  armed = false;
  result->clear();
  TIFF_img matte;
  if (status == 0 && session.copy_matte(&matte)) {
    result->assign(matte.plane[0], matte.plane[0] + s.w * s.h);
    free_TIFF(&matte);
  }
  if (status != 0) {
    EXPECT_EQ(session.update(s.mask.a, s.value.a), 0) << "the session works again";
  }
  return status;
}

// Clean edge colours of an image whose alpha ramps across it; large enough for helper threads.
int clean_edges(std::vector<uint8_t>* result) {
  const int w = 300, h = 240;
  std::vector<uint8_t> rgba(size_t(w) * h * 4);
  for (size_t i = 0; i < rgba.size(); ++i)
    rgba[i] = uint8_t(i % 4 == 3 ? i / 4 % w * 255 / (w - 1) : i * 37 % 251);
  const std::vector<uint8_t> before = rgba;
  armed = true;
  const int status = clean_edge_colours(rgba.data(), w, h, w * 4);
  armed = false;
  result->clear();
  if (status == 0) *result = rgba;
  EXPECT_TRUE(status == 0 || rgba == before) << "changed although it failed";
  return status == FOREGROUND_OUT_OF_MEMORY ? -1 : status;
}

// Largest difference between two results of the same size (256 when the sizes differ).
int largest_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

TEST(OutOfMemory, EveryAllocationOfACalculationCanFail) {
  const auto previous_hook = set_allocation_failure_hook(refuse);
  const SuiteSparse_config_struct previous_suitesparse = SuiteSparse_config;
  SuiteSparse_config.malloc_func = suitesparse_malloc;
  SuiteSparse_config.calloc_func = suitesparse_calloc;
  SuiteSparse_config.realloc_func = suitesparse_realloc;
  const std::vector<std::pair<const char*, Calculation>> methods = {
      {"direct", matte_calculation(12, 10, method_options(0, CALC_SOLVER_DIRECT))},
      {"automatic", matte_calculation(16, 14, method_options(1, CALC_SOLVER_DIRECT))},
      {"iterative", matte_calculation(16, 14, method_options(0, CALC_SOLVER_ITERATIVE))},
      {"foreground", clean_edges},
      {"session update", session_update}};
  for (const auto& [name, calculate] : methods) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> normal, result;
    remaining = std::numeric_limits<long>::max();
    sizes.assign(100000, 0);
    recording = true;
    asked = 0;
    ASSERT_EQ(calculate(&normal), 0);
    recording = false;
    // Every k while there are few; else the first 20 and, spread over the calculation, 40 of
    // the first allocations of each size (the places where a failure meets new code).
    const long total = asked;
    std::vector<long> ks, firsts;
    std::set<size_t> seen;
    for (long k = 1; k <= total; ++k)
      if (total <= 1000 || k <= 20) {
        ks.push_back(k);
      } else if (seen.insert(sizes[k - 1]).second) {
        firsts.push_back(k);
      }
    for (size_t i = 0; i < 40 && !firsts.empty(); ++i) ks.push_back(firsts[i * firsts.size() / 40]);
    ks.erase(std::unique(ks.begin(), ks.end()), ks.end());
    ks.push_back(total + 1);
    long failed = 0, tried = 0;
    for (long k : ks) {
      asked = 0;
      remaining = k;
      const int status = calculate(&result);
      if (asked < k) {  // the calculation made fewer than k allocations: it is whole
        EXPECT_EQ(status, 0) << "k " << k;
        EXPECT_EQ(largest_difference(result, normal), 0) << "k " << k;
        break;
      }
      ++tried;
      if (status == -1) {
        ++failed;
        EXPECT_TRUE(result.empty()) << "k " << k;
      } else {
        // Only a helper thread was refused: the result is the normal one.
        EXPECT_EQ(status, 0) << "k " << k;
        EXPECT_EQ(largest_difference(result, normal), 0) << "k " << k;
      }
    }
    EXPECT_GT(failed, tried / 2) << "of " << tried << " allocations";
    std::printf("%s: %ld allocations, %ld tried, %ld ended the calculation\n", name, total, tried,
                failed);
    // A session that runs out of memory for a moment drops its factorisations and calculates
    // again: the update ends with the normal matte.
    only_kth = std::string(name) == "session update";
    for (long k : ks) {
      if (!only_kth || k > total) break;
      asked = 0;
      remaining = k;
      EXPECT_EQ(calculate(&result), 0) << "k " << k;
      EXPECT_EQ(largest_difference(result, normal), 0) << "k " << k;
    }
    only_kth = false;
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaks: see the report above";
#endif
  }
  SuiteSparse_config = previous_suitesparse;
  set_allocation_failure_hook(previous_hook);
}

}  // namespace
