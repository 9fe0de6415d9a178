// Automatic levels: a coarse-to-fine calculation that chooses its own pyramid and stays close
// to the matte of one full-size solve.
#ifndef QUILLANE_MATTING_AUTO_LEVELS_H
#define QUILLANE_MATTING_AUTO_LEVELS_H

#include "matting/calc_options.h"
#include "numeric/tiff.h"

// Solves the matte of image (in) with levels chosen from its size and its unknown pixels.
// In-out mask, value: the constraints (height x width, [y][x]; 1.0 = constrained, target
// alpha 0..1); changed in place. softness, threshold and window_radius come from opts; its
// levels are ignored. Out *status: the status of the last solve. Returns a new height x width
// alpha array (free_img), nominally 0..1.
double** solve_auto_levels(TIFF_img* image, double** mask, double** value, const CalcOptions& opts,
                           int* status);

// What a calculation is expected to cost on this machine class, for the question asked before
// a large one.
struct CalcEstimate {
  double seconds;
  double bytes;  // peak memory
};

// In width x height: the region; unknowns: its free pixels; opts: the options (automatic levels
// or not). Rough figures, from measurements on photographs.
CalcEstimate estimate_calculation(int width, int height, double unknowns, const CalcOptions& opts);

#endif
