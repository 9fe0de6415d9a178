// The tables the tool and the editor share, and the check of strokes against the levels.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "matting/calc_control.h"
#include "matting/level_strokes.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"

namespace {

// The editor's message of every failing status, exactly; the tool advises on each.
TEST(Tables, EveryFailingStatusHasItsMessageAndAdvice) {
  const std::string numeric =
      "failure: invalid numeric object\nyou can try:\nScaling the image down using an external "
      "application or increase\nthe number of scaling steps in the calculation options.\n\nOr "
      "tighten the image trimatte i.e. paint out more foregound and\nbackground pixels.\n\nOr in "
      "preview mode (left tool bar button) drag the mouse to select\na smaller region of the "
      "image and make that the calculation region\nfrom the edit menu. Don't forget you'll need "
      "to toggle back to\nthe edit mode to perform the calculation.";
  for (auto [status, message] : std::vector<std::tuple<int, std::string>>{
           {-1, "failure: out_of_memory"},
           {-3, numeric},
           {-4, "failure: invalid symbolic object"},
           {-5, "failure: argument missing"},
           {-6, "failure: n nonpositive"},
           {-8, "failure: invalid matrix"},
           {-11, "failure: different pattern"},
           {-13, "failure: invalid system"},
           {-15, "failure: invalid permutation"},
           {-17, "failure: internal error"},
           {-911, "failure: UMF internal error"},
           {CALC_STATUS_CANCELLED, "Calculation cancelled"}}) {
    ASSERT_NE(solver_status_message(status), nullptr) << status;
    EXPECT_EQ(solver_status_message(status), message);
    const SolverStatusInfo* info = solver_status_info(status);
    EXPECT_EQ(message.substr(0, message.find('\n')), info->message);
    EXPECT_EQ(std::string(info->tool_advice).empty(), status == CALC_STATUS_CANCELLED);
  }
  for (int status : {0, 1, 2, -2, -18, -1002}) EXPECT_EQ(solver_status_message(status), nullptr);
  EXPECT_EQ(solver_warning_message(0), "");
  EXPECT_EQ(solver_warning_message(1).rfind("warning: the system is singular", 0), 0u);
}

// Stage rows in their enum's order, and the progress text made from the labels.
TEST(Tables, StagesHaveNamesAndLabels) {
  for (int s = 0; s < MATTE_STAGE_COUNT; ++s) EXPECT_EQ(matte_stage_table[s].stage, s);
  EXPECT_STREQ(matte_stage_name(MATTE_STAGE_NUMERIC), "numeric");
  EXPECT_STREQ(matte_stage_label(static_cast<MatteStage>(MATTE_STAGE_COUNT)), "calculating");
  EXPECT_EQ(calc_progress_text({2, 3, MATTE_STAGE_SOLVE, 0.4}),
            "level 2 of 3 \u00b7 solving \u00b7 40 %");
}

// Vertical strokes of a width, background at column x0 and foreground 32 columns to its right,
// on a 64 x 48 image: which survive how many levels (each halving drops two pixels at the
// border and keeps what at least half of its 5 x 5 filter covers).
TEST(LevelStrokes, ThinStrokesAndStrokesAtTheEdgeDoNotSurviveTheHalving) {
  const int w = 64, h = 48;
  for (auto [width, x0, levels, survive] :
       std::vector<std::tuple<int, int, int, bool>>{{1, 10, 1, true},   // no halving
                                                    {1, 10, 2, false},  // one pixel: gone at once
                                                    {3, 10, 2, true},
                                                    {3, 10, 3, true},
                                                    {3, 11, 3, false},  // two pixels, then one
                                                    {6, 10, 3, true},
                                                    {8, 10, 4, true},
                                                    {2, 0, 2, false},  // on the border
                                                    {6, 0, 2, true}}) {
    double** mask = get_init_arr_t<double>(w, h);
    double** value = get_init_arr_t<double>(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = x0; x < x0 + width; ++x) mask[y][x] = mask[y][x + 32] = value[y][x + 32] = 1.0;
    EXPECT_EQ(strokes_survive_levels(mask, value, w, h, levels), survive)
        << width << " pixels at " << x0 << ", " << levels << " levels";
    free_img_t(mask);
    free_img_t(value);
  }
}

}  // namespace
