// Turns an image, its stroke layer and a calculation region into the engine's inputs.
// The editor's Calculate command and the command-line tool both use this, so that the same
// strokes give the same constraints everywhere.
//
// Stroke layer convention: a pixel whose alpha is exactly 255 is a stroke; its target alpha
// is the grey level of its colour / 255 (white 1.0 = foreground, black 0.0 = background,
// other colours an alternate transparency). Any other pixel is unpainted.
#ifndef QUILLANE_MATTING_CALC_INPUT_H
#define QUILLANE_MATTING_CALC_INPUT_H

#include <cstdint>
#include <string>

#include "numeric/tiff.h"

// Rectangle in image pixels.
struct CalcRegion {
  int x, y, w, h;
};

// Clamps region (in-out) to an image of width x height: a negative origin moves to 0, the
// right and bottom edges are cut at the image. Returns false when nothing of the region is
// left inside the image (width or height 0 or less after clamping).
bool clamp_calc_region(CalcRegion* region, int width, int height);

// Whether a region can be calculated with windows of radius window_radius (below 1 acts as
// 1): it needs at least 2R+1 pixels in each direction, else no window fits and the system is
// singular, which gives a meaningless matte.
bool calc_region_fits_window(const CalcRegion& region, int window_radius);

// Why a region does not fit, with the numbers, for the tool and the editor alike.
std::string calc_region_size_message(const CalcRegion& region, int window_radius);

enum CalcInputResult {
  CALC_INPUT_OK = 0,
  CALC_INPUT_NO_BACKGROUND = 1,    // no black stroke inside the region
  CALC_INPUT_NO_FOREGROUND = 2,    // no stroke of any other colour inside the region
  CALC_INPUT_NOTHING_UNKNOWN = 4,  // every pixel is painted: there is no matte to calculate
};

// The message for CALC_INPUT_NOTHING_UNKNOWN; callers add a hint of their own.
extern const char calc_nothing_unknown_message[];

// In rgb: image pixels, rows of rowstride bytes, n_channels 3 or 4 (red, green, blue first).
// In layer: the stroke layer, same size as the image, native-endian 32-bit ARGB words
// (cairo's ARGB32), rows of layer_stride bytes. In region: inside the image (clamp first).
// Out image: a 'c' image of the region; out *stroke_mask, *stroke_value: region-sized arrays
// (1.0 / target where constrained, 0.0 elsewhere). On CALC_INPUT_OK the caller owns the
// outputs (free_TIFF, free_img); otherwise nothing is left allocated.
// The results are or'ed together when several hold.
int read_calc_input(const uint8_t* rgb, int rowstride, int n_channels, const uint8_t* layer,
                    int layer_stride, const CalcRegion& region, TIFF_img* image,
                    double*** stroke_mask, double*** stroke_value);

#endif
