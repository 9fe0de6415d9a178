// The matting Laplacian of one pyramid level.
#ifndef QUILLANE_MATTING_GET_LAPLACIAN_H
#define QUILLANE_MATTING_GET_LAPLACIAN_H

#include "numeric/qmatrix.h"
#include "numeric/tiff.h"

// Builds L = D - W over all (2r+1)^2 windows not entirely constrained by mask (1.0 =
// constrained). Variables are numbered column-major and 1-based: pixel (x, y) is
// x * height + y + 1. Returns a symmetric matrix "A" storing the upper triangle, rows in
// ascending column order with the diagonal first; rows of pixels in no processed window are
// empty. softness < 1e-7 acts as 1e-7, window_radius < 1 as 1. The caller releases the
// matrix with Q_Destr().
QMatrix getLaplacian1(const TIFF_img* image, double** mask, double softness, int window_radius);

#endif
