// Single-level alpha solve, resampling between pyramid levels, erosion and grey levels.
// Scalar fields are 2-D double arrays from allocate.h indexed [y][x]; coefficient fields
// are 3-D arrays [y][x][k] from multialloc_init(). Every function allocates its result,
// which the caller owns, and touches nothing else.
#ifndef QUILLANE_MATTING_IMGUTIL_H
#define QUILLANE_MATTING_IMGUTIL_H

#include "numeric/tiff.h"

// Solves (L + 100*mask)*alpha = 100*mask*value at one level (L: matting Laplacian) with
// UMFPACK and clamps the result to 0..1 (NaN stays). In image, mask, value; out *status:
// UMFPACK's status of the solve step. Returns a new height x width array (free_img).
double** solveAlpha(const TIFF_img* image, double** mask, double** value, double softness,
                    int window_radius, int* status);

// Reduces an image by one pyramid level with the (2*filts+1)^2 binomial filter (filts 1 or 2;
// above 2 the process ends). Result: a 'c' image for 3-channel sources, else 'g', of size
// N mod 2 + (N - 2*filts) / 2 per side; release its planes with free_TIFF().
TIFF_img downSmpIm(const TIFF_img* image, int filts);

// Reduces a 0/1 constraint array (height x width) by one level; an output entry is 1.0 where
// at least half of the filter weight around its lattice pixel is 1. New array (free_img).
double** downSmpArr(double** arr, int height, int width, int filts);

// Expands a coarse matte to the fine image's size guided by the fine image (local linear
// model fitted on the coarse level). New fine-size array, not clamped (free_img).
double** upSampleAlphaUsingImg(double** alpha, const TIFF_img* coarse, const TIFF_img* fine,
                               double eps, int win);

// Fits alpha ~ sum_c a_c * I_c / 255 + b in every window of the image; border pixels copy
// the nearest interior fit. New field [height][width][channels + 1] (multifree(, 3)).
double*** getLinearCoeff(double** alpha, const TIFF_img* image, double eps, int win);

// Expands a coarse field [height][width][depth] to [new_height][new_width][depth] by zero
// insertion and the expand filter. New field (multifree(, 3)).
double*** upSmpArr(double*** in, int height, int width, int depth, int new_height, int new_width,
                   int filts);

// Grey erosion: each entry becomes the minimum over its (2*radius+1)-square window, clipped
// at the borders. Note width before height. New array (free_img).
double** imerode(double** arr, int width, int height, int radius);

// Grey level (lightness) of an 8-bit colour: (max + min) / 2, truncated.
int rgb2grey(int r, int g, int b);

#endif
