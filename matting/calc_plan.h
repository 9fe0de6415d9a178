// The plan of a matte calculation, decided before it starts: which method solves it and what it
// is expected to cost.
#ifndef QUILLANE_MATTING_CALC_PLAN_H
#define QUILLANE_MATTING_CALC_PLAN_H

#include "matting/calc_options.h"
#include "matting/free_regions.h"

// In mask: width x height, [y][x], 1.0 = constrained. Returns the number of free (0.0) pixels.
// Inside a calculation it checks for a cancel request (throws CalcCancelled).
double count_unknown_pixels(double** mask, int width, int height);

enum CalcMethod {
  CALC_METHOD_LEVELS = 0,  // solveAlphaC2F with the options' levels (one level: the direct solve)
  CALC_METHOD_AUTO = 1,    // the automatic levels
  CALC_METHOD_ITERATIVE = 2,  // one level by conjugate gradients from the automatic levels' matte
};

// In opts; unknowns: the free pixels of the region. The method a calculation uses: automatic
// levels when asked for; the iterative solve for one level when the solver option asks for it
// ("auto": above CALC_ITERATIVE_UNKNOWNS unknowns); otherwise the levels of the options.
CalcMethod choose_calc_method(const CalcOptions& opts, double unknowns);

// What a calculation is expected to cost on this machine class, for the question asked before
// a large one.
struct CalcEstimate {
  double seconds;
  double bytes;  // peak memory
};

// In width x height: the region; free: its free pixels (count_free_pixels()); opts: the
// options. Rough figures, from measurements on photographs.
CalcEstimate estimate_calculation(int width, int height, const FreePixels& free,
                                  const CalcOptions& opts);

#endif
