// Automatic levels: a coarse-to-fine calculation that chooses its own pyramid and stays close
// to the matte of one full-size solve. This file holds its parameters and its steps; the
// calculation itself is a MatteSession's update (matte_session.h).
#ifndef QUILLANE_MATTING_AUTO_LEVELS_H
#define QUILLANE_MATTING_AUTO_LEVELS_H

#include "matting/schwarz_solver.h"

// How the automatic levels work; the defaults are the measured choice (see the benchmark).
//
// The coarsest level, with at most coarsest_unknowns free pixels, is solved directly. Every
// finer level starts from the matte carried up to it: pixels that are sure (alpha below the
// threshold or above 1 - threshold) throughout a square of radius `widen` x (2R + 1) are
// pinned to 0 or 1, and the band left free is solved iteratively from the carried matte.
// Intermediate levels are solved more tightly than the full-size one, since their band decides
// what the finer levels may still change. Tiles of 20 000 variables rather than 40 000: a
// stroke touches fewer of them, and the SAD on the shared photographs is no worse (GT04 with
// scribbles 12.16 against 12.46). The full-size level, which starts closest to its solution
// and only needs a loose one, takes tiles of 10 000 widened by 2 pixels: a quarter less time
// and memory there (12 megapixels: 17 s and 2.9 GB against 17-18 s and 3.4 GB; GT04 0.58 s
// against 0.65-0.69 s), the same 3-4 steps, and every case of accuracy_bench (--scale 2 too)
// at least as close to the ground truth.
struct AutoLevelsParams {
  double coarsest_unknowns = 5e4;
  double threshold = 0.02;  // at least the option's threshold
  double widen = 2.0;       // in windows (2R + 1 pixels)
  double final_threshold = 0.05;
  double final_widen = 1.0;
  SchwarzOptions intermediate{20000, 8, 30, 1e-3};
  SchwarzOptions final_level{10000, 2, 30, 1e-2};
};

// Number of levels for a width x height image with `unknowns` free pixels: halvings until the
// coarsest level holds at most params.coarsest_unknowns of them, as far as the size allows.
int auto_levels_count(int width, int height, double unknowns, int window_radius,
                      const AutoLevelsParams& params = AutoLevelsParams());

// Stroke pixels of a level: background (target 0) and other.
struct StrokeCount {
  double background = 0, other = 0;
};

// In mask, value: width x height, [y][x]. Counts the constrained pixels by kind. Checks for a
// cancel request, like the other steps here.
StrokeCount count_strokes(double** mask, double** value, int width, int height);

// Whether a coarser level whose strokes (halve_strokes()) count `coarse` may be used below a
// finer one with `fine`: it keeps both kinds and most of the expected quarter. Thin strokes
// vanish in the halving; a level that lost them would be solved from almost nothing and
// mislead every finer one.
bool coarse_strokes_usable(const StrokeCount& fine, const StrokeCount& coarse);

// The strokes of the next coarser level. In mask, value: the finer level's (large enough for
// the lattice: coarse pixel (r, c) sits on fine pixel (kFilts + 2r, kFilts + 2c), pyramid.h).
// Out coarse_mask, coarse_value: coarse_width x coarse_height arrays, [y][x], overwritten.
// A coarse pixel takes the stroke of its lattice pixel; a fine stroke pixel that no coarse
// pixel around it took is carried to the nearest coarse pixel, unless pixels carried there
// disagree on the target.
void halve_strokes(double** mask, double** value, double** coarse_mask, double** coarse_value,
                   int coarse_width, int coarse_height);

// The constraints of a finer level from the alpha carried up to it: where the carried alpha is
// sure (below threshold or above 1 - threshold) in a whole square of radius widen, the pixel
// is pinned to 0 or 1; the level's own strokes (mask, value, in) stay as they are. In-out up:
// clamped to 0..1 with the strokes' targets, the starting point of the level's solve. Out
// band_mask, band_value: width x height arrays, overwritten. Checks for a cancel request.
void pin_sure_pixels(double** mask, double** value, int width, int height, double** up,
                     double threshold, int widen, double** band_mask, double** band_value);

#endif
