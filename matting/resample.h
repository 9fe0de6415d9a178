// Moving data between neighbouring pyramid levels: reduction of images and constraint masks,
// and the image-guided expansion of a coarse matte. Scalar fields are 2-D double arrays from
// allocate.h indexed [y][x]; coefficient fields are 3-D arrays [y][x][k] from
// multialloc_init(). Every function allocates its result, which the caller owns, and touches
// nothing else.
#ifndef QUILLANE_MATTING_RESAMPLE_H
#define QUILLANE_MATTING_RESAMPLE_H

#include "numeric/tiff.h"

// Reduces an image by one pyramid level with the (2*filts+1)^2 binomial filter (filts 1 or 2;
// above 2 the process ends). Result: a 'c' image for 3-channel sources, else 'g', of size
// level_side() per side (pyramid.h); release its planes with free_TIFF().
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

#endif
