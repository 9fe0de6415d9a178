// The estimates asked before a large calculation: their shape, not their seconds (timings are
// the benchmark's, matte_bench --estimates).
#include <gtest/gtest.h>

#include "matting/calc_plan.h"

namespace {

CalcOptions options(int auto_levels, int solver = CALC_SOLVER_DIRECT) {
  CalcOptions o;
  calc_options_default(&o);
  o.auto_levels = auto_levels;
  o.solver = solver;
  return o;
}

// Free pixels all in one region between both kinds of strokes.
FreePixels spread(double count) {
  FreePixels f;
  f.count = f.mixed = count;
  return f;
}

}  // namespace

// Fewer strokes (more unknowns) on the same region never make a calculation look cheaper, for
// every method, on regions from 0.3 to 24 megapixels.
TEST(CalcEstimate, NeverFallsAsStrokesThinOut) {
  const int sizes[][2] = {{640, 480}, {800, 563}, {1600, 1126}, {4000, 2815}, {6000, 4000}};
  for (const auto& size : sizes) {
    const double pixels = double(size[0]) * size[1];
    for (const CalcOptions& o : {options(1), options(0), options(0, CALC_SOLVER_ITERATIVE)}) {
      CalcEstimate last = {0, 0};
      for (double covered = 0.9; covered > 1e-5; covered *= 0.8) {
        const CalcEstimate e =
            estimate_calculation(size[0], size[1], spread(pixels * (1 - covered)), o);
        SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " covered " << covered
                                        << " auto " << o.auto_levels << " solver " << o.solver);
        EXPECT_GE(e.seconds, last.seconds * (1 - 1e-12));
        EXPECT_GE(e.bytes, last.bytes * (1 - 1e-12));
        last = e;
      }
    }
  }
}

// Thin strokes far apart put every free pixel between both kinds of strokes: the 4000 x 2815
// photograph with 11 thin strokes that took 44-62 s and 7 GB must not be announced as a small
// calculation again. Strokes along the edges leave only the pixels between them unsure (the
// enclosed ones are decided by the strokes around them): the same free pixels, two fifths of
// them between both kinds, cost the automatic levels much less, exactly as if the enclosed
// ones were painted.
TEST(CalcEstimate, AutomaticLevelsPayForThePixelsBetweenBothKinds) {
  const double pixels = 4000.0 * 2815.0;
  const double thin = pixels - 11 * 3 * 450.0;  // 11 strokes, 3 px by 450 px
  const CalcEstimate sparse = estimate_calculation(4000, 2815, spread(thin), options(1));
  EXPECT_GE(sparse.seconds, 44.0 / 1.5);
  EXPECT_GE(sparse.bytes, 7e9 / 1.5);
  FreePixels edges;
  edges.count = 0.99 * pixels;
  edges.mixed = 0.4 * pixels;
  const CalcEstimate banded = estimate_calculation(4000, 2815, edges, options(1));
  EXPECT_LT(banded.seconds, sparse.seconds / 2);
  EXPECT_LT(banded.bytes, sparse.bytes / 2);
  const CalcEstimate painted = estimate_calculation(4000, 2815, spread(edges.mixed), options(1));
  EXPECT_EQ(banded.seconds, painted.seconds);
  EXPECT_EQ(banded.bytes, painted.bytes);
}
