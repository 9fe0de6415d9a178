// How the live matte is shown: the image composed with a matte into an opaque picture, in one
// of five ways (View > Show matte as). The picture is drawn in place of the image in edit mode
// (the strokes on top) and in view mode while the live matte is on (View::backdrop).
//
// compose_matte() touches nothing but its arguments, so that a worker thread can make the
// picture of a matte it has just calculated.
#ifndef QUILLANE_GUI_MATTE_DISPLAY_H
#define QUILLANE_GUI_MATTE_DISPLAY_H

#include <cairo.h>
#include <gdk/gdk.h>

#include <cstdint>

#include "matting/calc_input.h"

enum MatteShow {
  SHOW_OVERLAY,      // "Overlay": the background tinted with the overlay colour at 50 %
  SHOW_ON_BLACK,     // "On black"
  SHOW_ON_WHITE,     // "On white"
  SHOW_ON_CHECKERS,  // "On checkerboard"
  SHOW_ALPHA,        // "Alpha": the matte as grey, black transparent
  SHOW_COUNT
};

// The user's choice, remembered between runs (display_prefs.h). The overlay colour is in 16-bit
// channels, as the colour dialog gives it.
struct MatteDisplay {
  MatteShow show = SHOW_OVERLAY;
  GdkColor tint = {0, 0xffff, 0, 0xc000};  // magenta: rare in photographs, seen on any of them
};

// The menu label of a choice ("Overlay", ...), and its short name in the preferences file
// ("overlay", "black", "white", "checkerboard", "alpha"). Static strings.
const char* matte_show_label(MatteShow show);
const char* matte_show_name(MatteShow show);

// The choice called name in the preferences file; SHOW_COUNT when there is none.
MatteShow matte_show_from_name(const char* name);

// A matte to compose, as bytes 0..255 at alpha[row * stride + column * step] for a width x
// height raster that covers region of the image (stretched over it, nearest pixel). Image
// pixels outside region have alpha 0, as a delivered matte gives them.
struct MatteSource {
  const uint8_t* alpha;
  int width, height;
  int stride, step;
  CalcRegion region;
};

// In rgb: the image (rows of rowstride bytes, n_channels 3 or 4, red first), width x height.
// In matte, how. Returns a new RGB24 surface of the image's size (cairo_surface_destroy), or
// null when cairo cannot make one (no memory). Any thread.
cairo_surface_t* compose_matte(const uint8_t* rgb, int rowstride, int n_channels, int width,
                               int height, const MatteSource& matte, const MatteDisplay& how);

// The side of a checkerboard square, in image pixels, for an image of width x height.
int checker_square(int width, int height);

#endif
