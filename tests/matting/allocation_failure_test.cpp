// Running out of memory at every allocation of a small calculation, the way SuiteSparse's own
// tests do: the k-th allocation and every later one fail (memory, once exhausted, stays so),
// for k = 1, 2, ... until the calculation no longer reaches the k-th. The allocations counted
// are the engine's own (allocation_hook.h), operator new's and SuiteSparse's. Every run ends
// either with the out-of-memory status and no result, or, where only a helper thread was
// refused, with the normal result; in the sanitizer build nothing may leak.
#include <SuiteSparse_config.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>

#include "engine_fixtures.h"
#include "matting/foreground.h"
#include "numeric/allocation_hook.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

std::atomic<bool> armed{false};
std::atomic<long> asked{0};      // allocations asked for since the hook was armed
std::atomic<long> remaining{0};  // allowed before they fail

bool refuse() {
  if (!armed.load(std::memory_order_relaxed)) return false;
  ++asked;
  return remaining.fetch_sub(1) <= 1;
}

void* suitesparse_malloc(size_t n) {
  return refuse() ? nullptr : std::malloc(n);
}
void* suitesparse_calloc(size_t n, size_t size) {
  return refuse() ? nullptr : std::calloc(n, size);
}
void* suitesparse_realloc(void* p, size_t n) {
  return refuse() ? nullptr : std::realloc(p, n);
}

}  // namespace

// Every operator new of the program goes through the hook (the nothrow and array forms of the
// library call this one).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  void* p = refuse() ? nullptr : std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
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

// Largest difference between two results of the same size (255 when the sizes differ).
int largest_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 255;
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
      {"foreground", clean_edges}};
  for (const auto& [name, calculate] : methods) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> normal, result;
    remaining = std::numeric_limits<long>::max();
    ASSERT_EQ(calculate(&normal), 0);
    long k = 1, failed = 0;
    for (;; ++k) {
      asked = 0;
      remaining = k;
      const int status = calculate(&result);
      if (asked < k) break;  // the calculation made fewer than k allocations
      if (status == -1) {
        ++failed;
        EXPECT_TRUE(result.empty()) << "k " << k;
      } else {
        // Only a helper thread was refused: the result is the normal one (up to the order of
        // the helpers' sums).
        EXPECT_EQ(status, 0) << "k " << k;
        EXPECT_LE(largest_difference(result, normal), 1) << "k " << k;
      }
    }
    EXPECT_EQ(largest_difference(result, normal), 0);
    EXPECT_GT(failed, (k - 1) / 2) << "of " << k - 1 << " allocations";
    std::printf("%s: %ld allocations, %ld ended the calculation\n", name, k - 1, failed);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaks: see the report above";
#endif
  }
  SuiteSparse_config = previous_suitesparse;
  set_allocation_failure_hook(previous_hook);
}

}  // namespace
