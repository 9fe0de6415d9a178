// Automatic levels: a coarse-to-fine calculation that chooses its own pyramid and stays close
// to the matte of one full-size solve.
#ifndef QUILLANE_MATTING_AUTO_LEVELS_H
#define QUILLANE_MATTING_AUTO_LEVELS_H

#include "matting/calc_options.h"
#include "matting/schwarz_solver.h"
#include "numeric/tiff.h"

// How the automatic levels work; the defaults are the measured choice (see the benchmark).
//
// The coarsest level, with at most coarsest_unknowns free pixels, is solved directly. Every
// finer level starts from the matte carried up to it: pixels that are sure (alpha below the
// threshold or above 1 - threshold) throughout a square of radius `widen` x (2R + 1) are
// pinned to 0 or 1, and the band left free is solved iteratively from the carried matte.
// Intermediate levels are solved more tightly than the full-size one, since their band decides
// what the finer levels may still change.
struct AutoLevelsParams {
  double coarsest_unknowns = 5e4;
  double threshold = 0.02;  // at least the option's threshold
  double widen = 2.0;       // in windows (2R + 1 pixels)
  double final_threshold = 0.05;
  double final_widen = 1.0;
  SchwarzOptions intermediate{40000, 8, 30, 1e-3};
  SchwarzOptions final_level{40000, 8, 30, 1e-2};
};

// Number of levels for a width x height image with `unknowns` free pixels: halvings until the
// coarsest level holds at most params.coarsest_unknowns of them, as far as the size allows.
int auto_levels_count(int width, int height, double unknowns, int window_radius,
                      const AutoLevelsParams& params = AutoLevelsParams());

// Solves the matte of image (in) with levels chosen from its size and its unknown pixels.
// In mask, value: the constraints (height x width, [y][x]; 1.0 = constrained, target alpha
// 0..1), not changed. softness, threshold and window_radius come from opts; its levels are
// ignored. Out *status: 0. Returns a new height x width alpha array (free_img), 0..1.
// Throws CalcCancelled and std::bad_alloc like every stage of a calculation.
double** solve_auto_levels(TIFF_img* image, double** mask, double** value, const CalcOptions& opts,
                           int* status, const AutoLevelsParams& params = AutoLevelsParams());

#endif
