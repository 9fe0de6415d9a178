// Whether the strokes survive the halvings of a coarse-to-fine calculation.
//
// The coarse-to-fine driver halves the strokes with the image (downSmpArr(): a 5 x 5 filter,
// then a threshold at one half), so strokes thinner than about three pixels vanish after a
// halving or two, and strokes along the image's edges go with the border each halving drops.
// A coarsest level left without the strokes of one kind is solved to a blank or flat matte,
// which the finer levels then take as sure: the calculation would end as a success with a
// useless matte. This check, beside the driver, refuses such a calculation before it starts.
#ifndef QUILLANE_MATTING_LEVEL_STROKES_H
#define QUILLANE_MATTING_LEVEL_STROKES_H

// In mask, value (height x width, [y][x]; not changed): the constraints, 1.0 where a stroke
// is, with its target; levels: the levels the driver builds. Returns true when, at every
// coarser level, each kind of stroke (background: target 0; foreground or alternate-colour:
// any other) keeps at least a quarter of the pixels its area at full size leads to expect (a
// quarter of the area per halving); also for one level and for a kind that has no stroke. Throws
// std::bad_alloc inside a calculation when memory runs out, as every stage does.
bool strokes_survive_levels(double** mask, double** value, int width, int height, int levels);

// Thrown on the calculating thread when the strokes do not survive the levels asked;
// calculate_matte() turns it into CALC_STATUS_STROKES_TOO_THIN.
struct StrokesTooThin {};

#endif
