// The contract of a calculation with the outside world: progress reports, cancelling at every
// stage, and running out of memory, each ending with a status and nothing left allocated
// (the sanitizer build checks the last part for leaks).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "engine_fixtures.h"
#include "matting/calc_control.h"
#include "matting/quillane.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"
#include "numeric/errhandl.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUILLANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLANE_ASAN 1
#endif
#endif

namespace {

// Inputs of one calculation, handed over to calculate_matte() (which releases them).
struct Request {
  Request(int w, int h) : width(w), height(h) {
    std::mt19937 rng(11);
    OwnedImage scene(w, h, 'c');
    fill_scene(&scene, &rng);
    get_TIFF(&image, h, w, 'c');
    for (int ch = 0; ch < 3; ++ch)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.channels[ch][y][x] = scene.at(ch, y, x);
    mask = get_init_arr_t<double>(w, h);
    value = get_init_arr_t<double>(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w / 8; ++x) {
        mask[y][x] = 1.0;
        mask[y][w - 1 - x] = value[y][w - 1 - x] = 1.0;
      }
  }
  int run(const CalcOptions& opts, CalcControl* control, TIFF_img* matte) {
    testing::internal::CaptureStdout();  // trace lines and the bell
    const int status = calculate_matte(&image, mask, value, opts, matte, control);
    testing::internal::GetCapturedStdout();
    return status;
  }
  int width, height;
  TIFF_img image;
  double** mask;
  double** value;
};

CalcOptions options(int levels, int auto_levels, int solver) {
  CalcOptions o;
  calc_options_default(&o);
  o.levels_num = o.active_levels_num = levels;
  o.auto_levels = auto_levels;
  o.solver = solver;
  return o;
}

// Asks the control to stop when the chosen stage begins, and records the levels reported.
class CancelAt : public MatteStageObserver {
 public:
  CancelAt(CalcControl* control, MatteStage stage) : control_(control), stage_(stage) {}
  void stage_begin(MatteStage stage) override {
    seen_ = true;
    if (stage == stage_) control_->request_cancel();
    levels_.push_back(control_->progress().level);
  }
  void stage_end(MatteStage) override {}
  std::vector<int> levels_;
  bool seen_ = false;

 private:
  CalcControl* control_;
  MatteStage stage_;
};

struct CancelCase {
  const char* how;
  CalcOptions opts;
  MatteStage stage;
};

class Cancel : public testing::TestWithParam<CancelCase> {};

// A cancel at any stage ends the calculation with its own status, no matte and nothing
// leaked; the next calculation on the same thread works.
TEST_P(Cancel, EndsWithItsStatusAndNothingLeft) {
  const CancelCase c = GetParam();
  CalcControl control;
  CancelAt observer(&control, c.stage);
  set_matte_stage_observer(&observer);
  Request r(120, 90);
  TIFF_img matte;
  EXPECT_EQ(r.run(c.opts, &control, &matte), CALC_STATUS_CANCELLED) << c.how;
  set_matte_stage_observer(nullptr);
  EXPECT_EQ(matte.TIFF_type, 0);
  EXPECT_STREQ(solver_status_message(CALC_STATUS_CANCELLED), "Calculation cancelled");

  Request again(60, 50);
  EXPECT_EQ(again.run(c.opts, nullptr, &matte), 0);
  EXPECT_EQ(matte.TIFF_type, 'g');
  free_TIFF(&matte);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, Cancel,
    testing::Values(CancelCase{"levels", options(2, 0, 0), MATTE_STAGE_RESAMPLING},
                    CancelCase{"direct", options(1, 0, 0), MATTE_STAGE_LAPLACIAN},
                    CancelCase{"direct", options(1, 0, 0), MATTE_STAGE_SYMBOLIC},
                    CancelCase{"direct", options(1, 0, 0), MATTE_STAGE_NUMERIC},
                    CancelCase{"direct", options(1, 0, 0), MATTE_STAGE_SOLVE},
                    CancelCase{"automatic", options(1, 1, 0), MATTE_STAGE_NUMERIC},
                    CancelCase{"iterative", options(1, 0, 2), MATTE_STAGE_SOLVE}));

// Reports go from the coarsest level up, and read as a user reads them.
TEST(Progress, ReportsLevelsInOrderAndReadably) {
  CalcControl control;
  CancelAt watch(&control, MATTE_STAGE_COUNT);  // never cancels
  set_matte_stage_observer(&watch);
  Request r(120, 90);
  TIFF_img matte;
  CalcOptions o = options(3, 0, 0);
  EXPECT_EQ(r.run(o, &control, &matte), 0);
  set_matte_stage_observer(nullptr);
  free_TIFF(&matte);
  // The two halvings (levels 3 and 2), then the solves of levels 1, 2 and 3.
  const std::vector<int> want = {3, 2, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3};
  EXPECT_EQ(watch.levels_, want);

  struct Text {
    CalcProgress p;
    const char* text;
  } texts[] = {{{0, 0, MATTE_STAGE_SOLVE, -1}, ""},
               {{2, 3, MATTE_STAGE_SOLVE, 0.4}, "level 2 of 3 \u00b7 solving \u00b7 40 %"},
               {{1, 1, MATTE_STAGE_NUMERIC, -1}, "factorising"},
               {{1, 2, MATTE_STAGE_LAPLACIAN, 1.0},
                "level 1 of 2 \u00b7 building the Laplacian \u00b7 100 %"}};
  for (const Text& t : texts) {
    CalcControl c;
    if (t.p.level > 0) c.report(t.p.level, t.p.levels, t.p.stage, t.p.fraction);
    EXPECT_EQ(calc_progress_text(c.progress()), t.text);
  }
}

// Inside a calculation an impossible allocation throws instead of ending the process, and the
// scope releases what was allocated before it; outside one it still ends the process.
TEST(OutOfMemory, ThrowsInsideACalculationOnly) {
  try {
    AllocationScope scope;
    get_img_t<double>(100, 100);  // released by the scope
    get_img_t<double>(1 << 16, 1 << 16);
    ADD_FAILURE() << "no exception";
  } catch (const std::bad_alloc&) {
  }
  EXPECT_EXIT(get_img_t<double>(1 << 16, 1 << 16), testing::ExitedWithCode(255),
              "==> malloc\\(\\) error");
}

// Runs one calculation of the given method under an address-space limit 150 MB above what the
// process holds with its inputs: far from enough for any of the solves. Exits 0 when the
// calculation ended with the out-of-memory status and no matte.
[[noreturn]] void calculate_out_of_memory(int method) {
  const CalcOptions o = options(1, method == 1, method == 2 ? CALC_SOLVER_ITERATIVE : 0);
  // OpenBLAS takes its work buffers at its first call and retries for ever when that fails:
  // a first calculation lets it take them, as any earlier calculation of a session would.
  TIFF_img matte;
  Request warm(300, 200);
  warm.run(o, nullptr, &matte);
  free_TIFF(&matte);
  Request r(1200, 900);
  long pages = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr || std::fscanf(f, "%ld", &pages) != 1) _exit(3);
  std::fclose(f);
  struct rlimit limit;
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = static_cast<rlim_t>(pages) * 4096 + (150u << 20);
  setrlimit(RLIMIT_AS, &limit);
  const int status = r.run(o, nullptr, &matte);
  std::fprintf(stderr, "status %d\n", status);
  _exit(status == -1 && matte.TIFF_type == 0 ? 0 : 1);
}

// A calculation that runs out of memory ends with the solver's out-of-memory status in every
// method (direct, automatic levels, iterative), and the process goes on. The child processes
// start afresh (the solver's thread pools do not survive a plain fork), and address-space
// limits do not work under the sanitizer.
TEST(OutOfMemory, EndsTheCalculationWithItsStatus) {
#ifdef QUILLANE_ASAN
  GTEST_SKIP() << "RLIMIT_AS cannot limit a process under AddressSanitizer";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int method = 0; method < 3; ++method)
    EXPECT_EXIT(calculate_out_of_memory(method), testing::ExitedWithCode(0), "status -1")
        << "method " << method;
#endif
}

}  // namespace
