// The contract of a calculation with the outside world: progress reports, cancelling at every
// stage, and running out of memory, each ending with its status and nothing left allocated.
#include <sys/resource.h>
#include <unistd.h>

#include "engine_fixtures.h"
#include "matting/solver_status.h"
#include "numeric/errhandl.h"

namespace {

CalcOptions options(int levels, int automatic, int solver) {
  return {levels, levels, 1e-7, 0.02, 1, automatic, solver};  // otherwise the defaults
}

// Asks the control to stop when the chosen stage begins, and records the levels reported.
struct CancelAt : MatteStageObserver {
  CancelAt(CalcControl* c, MatteStage s) : control(c), stage(s) { set_matte_stage_observer(this); }
  ~CancelAt() override { set_matte_stage_observer(nullptr); }
  void stage_begin(MatteStage s) override {
    if (s == stage) control->request_cancel();
    levels.push_back(control->progress().level);
  }
  void stage_end(MatteStage) override {}
  CalcControl* control;
  MatteStage stage;
  std::vector<int> levels;
};

// A cancel at any stage of every method ends the calculation with its status and no matte; the
// next calculation works.
TEST(Cancel, EndsWithItsStatusAndNothingLeft) {
  const std::vector<std::pair<CalcOptions, MatteStage>> cases = {
      {options(2, 0, 0), MATTE_STAGE_RESAMPLING}, {options(1, 0, 0), MATTE_STAGE_LAPLACIAN},
      {options(1, 0, 0), MATTE_STAGE_SYMBOLIC},   {options(1, 0, 0), MATTE_STAGE_NUMERIC},
      {options(1, 0, 0), MATTE_STAGE_SOLVE},      {options(1, 1, 0), MATTE_STAGE_NUMERIC},
      {options(1, 0, 2), MATTE_STAGE_SOLVE}};
  for (auto [opts, stage] : cases) {
    SCOPED_TRACE(testing::Message() << "stage " << stage << ", levels " << opts.levels_num
                                    << ", auto " << opts.auto_levels << ", solver " << opts.solver);
    TIFF_img matte;
    CalcControl control;
    CancelAt observer(&control, stage);
    EXPECT_EQ(Scene(120, 90, 15, 11).calculate(opts, &matte, &control), CALC_STATUS_CANCELLED);
    EXPECT_EQ(matte.TIFF_type, 0);
    EXPECT_EQ(Scene(60, 50, 7, 11).calculate(opts, &matte), 0);
    EXPECT_EQ(matte.TIFF_type, 'g');
    free_TIFF(&matte);
  }
  EXPECT_STREQ(solver_status_message(CALC_STATUS_CANCELLED), "Calculation cancelled");
}

// Reports go from the coarsest level up, and read as a user reads them. (An error left in the
// thread's container register by an earlier calculation does not silence this one.)
TEST(Progress, ReportsLevelsInOrderAndReadably) {
  CalcControl control;
  CancelAt watch(&control, MATTE_STAGE_COUNT);  // never cancels
  TIFF_img matte;
  LASError(LASRangeErr, "earlier run");
  EXPECT_EQ(Scene(120, 90, 15, 11).calculate(options(3, 0, 0), &matte, &control), 0);
  free_TIFF(&matte);
  // The two halvings (levels 3 and 2), then the solves of levels 1, 2 and 3.
  EXPECT_EQ(watch.levels,
            std::vector<int>({3, 2, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3}));
  control.report(2, 3, MATTE_STAGE_SOLVE, 0.4);
  EXPECT_EQ(calc_progress_text(control.progress()), "level 2 of 3 \u00b7 solving \u00b7 40 %");
}

// Runs one calculation of the method with 150 MB of address space above its inputs, far from
// enough; exits 0 when it ended with the out-of-memory status and no matte.
[[noreturn]] void calculate_out_of_memory(int method) {
  alarm(30);  // a hung child fails instead of holding the test until its timeout
  const CalcOptions o = options(1, method == 1, method == 2 ? CALC_SOLVER_ITERATIVE : 0);
  // OpenBLAS takes a work buffer for each thread that calls it at once, at its first such call,
  // and retries for ever when that fails: a first calculation that factorises tiles on every
  // thread lets it take them, as any earlier calculation of a session would.
  TIFF_img matte;
  Scene(700, 500, 40, 11).calculate(options(1, 1, 0), &matte);
  free_TIFF(&matte);
  Scene s(1200, 900, 150, 11);
  long pages = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr || std::fscanf(f, "%ld", &pages) != 1) _exit(3);
  struct rlimit limit;
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = rlim_t(pages) * 4096 + (150u << 20);
  setrlimit(RLIMIT_AS, &limit);
  const int status = s.calculate(o, &matte);
  std::fprintf(stderr, "status %d\n", status);
  _exit(status == -1 && matte.TIFF_type == 0 ? 0 : 1);
}

// Out of memory ends a calculation of any method (direct, automatic levels, iterative) with the
// solver's out-of-memory status, and the process goes on. (Children start afresh: the solver's
// thread pools do not survive a plain fork.)
TEST(OutOfMemory, EndsTheCalculationWithItsStatus) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "RLIMIT_AS cannot limit a process under AddressSanitizer";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int method = 0; method < 3; ++method)
    EXPECT_EXIT(calculate_out_of_memory(method), testing::ExitedWithCode(0), "status -1") << method;
}

}  // namespace
