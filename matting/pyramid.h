// The image pyramid of the coarse-to-fine calculations: the halving filter, the size of a
// coarser level, and how many levels an image can have.
#ifndef QUILLANE_MATTING_PYRAMID_H
#define QUILLANE_MATTING_PYRAMID_H

// Half-size of the halving filter every driver uses: a (2 * kFilts + 1)^2 = 5 x 5 window.
const int kFilts = 2;

// In n: a side (height or width) of a level; filts: the filter half-size. Returns the side of
// the next coarser level, n mod 2 + (n - 2 * filts) / 2 truncated toward zero: the number of
// lattice positions filts, filts + 2, ... below n - filts (640 -> 318, 641 -> 319, 5 -> 1).
// Zero or negative for sides too small to halve.
int level_side(int n, int filts = kFilts);

// Whether a width x height level can be halved with kFilts: both sides of the coarser level
// are at least 2 * window_radius + 1 (radius at least 1), so that it has windows and the
// guided upsampling has an interior to fit.
bool can_halve(int width, int height, int window_radius);

// Number of levels, at most levels_num and at least 1, that a width x height image can have
// with windows of radius window_radius: halving stops where can_halve() fails.
int usable_levels(int width, int height, int levels_num, int window_radius);

#endif
