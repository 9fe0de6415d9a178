// The matte of one pyramid level by the sparse direct solve.
#ifndef QUILLANE_MATTING_SOLVE_ALPHA_H
#define QUILLANE_MATTING_SOLVE_ALPHA_H

#include "numeric/tiff.h"

// Solves (L + 100*mask)*alpha = 100*mask*value at one level (L: matting Laplacian) with
// UMFPACK and clamps the result to 0..1 (NaN stays). In image, mask, value; out *status:
// UMFPACK's status of the solve step. Returns a new height x width array (free_img).
double** solveAlpha(const TIFF_img* image, double** mask, double** value, double softness,
                    int window_radius, int* status);

#endif
