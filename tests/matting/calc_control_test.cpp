// The contract of a calculation with the outside world: progress reports, cancelling at every
// stage, and running out of memory, each ending with a status and nothing left allocated
// (the sanitizer build checks the last part).
#include <sys/resource.h>
#include <unistd.h>

#include "engine_fixtures.h"
#include "matting/solver_status.h"
#include "numeric/errhandl.h"

namespace {

CalcOptions options(int levels, int auto_levels, int solver) {
  CalcOptions o;
  calc_options_default(&o);
  o.levels_num = o.active_levels_num = levels;
  o.auto_levels = auto_levels;
  o.solver = solver;
  return o;
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

struct CancelCase {
  const char* how;
  CalcOptions opts;
  MatteStage stage;
};

void PrintTo(const CancelCase& c, std::ostream* os) {
  *os << c.how;
}

class Cancel : public testing::TestWithParam<CancelCase> {};

// A cancel at any stage ends the calculation with its own status, no matte and nothing
// leaked; the next calculation on the same thread works.
TEST_P(Cancel, EndsWithItsStatusAndNothingLeft) {
  const CancelCase c = GetParam();
  TIFF_img matte;
  CalcControl control;
  CancelAt observer(&control, c.stage);
  EXPECT_EQ(Scene(120, 90, 15, 11).calculate(c.opts, &matte, &control), CALC_STATUS_CANCELLED);
  EXPECT_EQ(matte.TIFF_type, 0);
  EXPECT_STREQ(solver_status_message(CALC_STATUS_CANCELLED), "Calculation cancelled");
  EXPECT_EQ(Scene(60, 50, 7, 11).calculate(c.opts, &matte), 0);
  EXPECT_EQ(matte.TIFF_type, 'g');
  free_TIFF(&matte);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, Cancel,
    testing::Values(CancelCase{"levels", options(2, 0, 0), MATTE_STAGE_RESAMPLING},
                    CancelCase{"laplacian", options(1, 0, 0), MATTE_STAGE_LAPLACIAN},
                    CancelCase{"symbolic", options(1, 0, 0), MATTE_STAGE_SYMBOLIC},
                    CancelCase{"numeric", options(1, 0, 0), MATTE_STAGE_NUMERIC},
                    CancelCase{"solve", options(1, 0, 0), MATTE_STAGE_SOLVE},
                    CancelCase{"automatic", options(1, 1, 0), MATTE_STAGE_NUMERIC},
                    CancelCase{"iterative", options(1, 0, 2), MATTE_STAGE_SOLVE}),
    [](const testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.how); });

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
  const struct {
    CalcProgress p;
    const char* text;
  } texts[] = {{{0, 0, MATTE_STAGE_SOLVE, -1}, ""},
               {{2, 3, MATTE_STAGE_SOLVE, 0.4}, "level 2 of 3 \u00b7 solving \u00b7 40 %"},
               {{1, 1, MATTE_STAGE_NUMERIC, -1}, "factorising"},
               {{1, 2, MATTE_STAGE_LAPLACIAN, 1.0},
                "level 1 of 2 \u00b7 building the Laplacian \u00b7 100 %"}};
  for (const auto& t : texts) {
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
  alarm(30);  // a hung child fails instead of holding the test until its timeout
  const CalcOptions o = options(1, method == 1, method == 2 ? CALC_SOLVER_ITERATIVE : 0);
  // OpenBLAS takes its work buffers at its first call and retries for ever when that fails:
  // a first calculation lets it take them, as any earlier calculation of a session would.
  TIFF_img matte;
  Scene(300, 200, 37, 11).calculate(o, &matte);
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

// A calculation that runs out of memory ends with the solver's out-of-memory status in every
// method (direct, automatic levels, iterative), and the process goes on. The children start
// afresh (the solver's thread pools do not survive a plain fork); address-space limits do not
// work under the sanitizer.
TEST(OutOfMemory, EndsTheCalculationWithItsStatus) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "RLIMIT_AS cannot limit a process under AddressSanitizer";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int method = 0; method < 3; ++method)
    EXPECT_EXIT(calculate_out_of_memory(method), testing::ExitedWithCode(0), "status -1") << method;
}

}  // namespace
