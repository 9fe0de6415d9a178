// Coarse-to-fine matte calculation: the top of the engine.
#ifndef QUILLANE_MATTING_QUILLANE_H
#define QUILLANE_MATTING_QUILLANE_H

#include "matting/calc_control.h"
#include "matting/calc_options.h"
#include "numeric/tiff.h"

// Solves the matte of image (in) coarse to fine. In-out mask, value: the constraints
// (height x width, 1.0 = constrained; target alpha 0..1), changed in place by the trimap of
// finer levels. Out *status: status of the last (finest) solve; untouched when none ran.
// Levels beyond what the image size allows are not built: halving stops at the last valid
// level and a line on stdout says how many levels were used.
// Returns a new height x width alpha array (free_img), nominally 0..1.
double** solveAlphaC2F(TIFF_img* image, double** mask, double** value, int levels_num,
                       int active_levels_num, double threshold, double softness, int window_radius,
                       int* status);

// In place: each v becomes 255 if v > 1 or NaN, else v * 255, then 0 if below 0.
void scale2_255(double** alpha, int cols, int rows);

// The worker's calculation: runs solveAlphaC2F() on the inputs (with active levels at most
// levels_num), or the automatic levels (auto_levels.h) when opts ask for them, converts the
// matte to bytes in alpha_img (out: a 'g' image of the same size, planes owned by the caller,
// free_TIFF()), releases image's planes, stroke_mask and stroke_value, and writes the bell
// character to stdout. Clears this thread's sparse container error register first.
// In-out control (borrowed, may be null): receives progress and may cancel.
// Returns the solver status, -3 when no solve ran, UMFPACK's -1 (out of memory) when any
// allocation failed, CALC_STATUS_CANCELLED when control asked to stop,
// CALC_STATUS_STROKES_TOO_THIN when several levels would lose the strokes of one kind
// (level_strokes.h). In the last three cases no matte is made: alpha_img gets no planes (its
// TIFF_type is 0, so free_TIFF() frees nothing) and everything the calculation allocated is
// released.
int calculate_matte(TIFF_img* image, double** stroke_mask, double** stroke_value,
                    const CalcOptions& opts, TIFF_img* alpha_img, CalcControl* control = nullptr);

#endif
