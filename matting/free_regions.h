// Where the free pixels of a calculation lie with respect to its strokes.
//
// A connected region of free pixels that only strokes of one kind bound (the inside of a
// foreground outlined in white, a background outlined in black, with the image's edges) has
// that kind's target as its exact matte: a constant solves the system there. Only regions that
// touch both a background stroke and another stroke have an unsure matte, and only those cost
// the automatic levels a band. Strokes painted along the edges leave a narrow such region;
// thin strokes far apart, one region as large as the image.
#ifndef QUILLANE_MATTING_FREE_REGIONS_H
#define QUILLANE_MATTING_FREE_REGIONS_H

struct FreePixels {
  double count = 0;  // the free pixels
  double mixed = 0;  // those in a region that touches both kinds of strokes
};

// In mask, value: width x height, [y][x]; mask 1.0 constrained (value 0.0 background, else
// other), 0.0 free. Regions are 4-connected; a region touches a kind when one of its pixels
// has a 4-neighbour constrained to it. Throws std::bad_alloc when its work arrays (13 bytes a
// run of free pixels in a row: a few bytes a pixel at most) cannot be had.
FreePixels count_free_pixels(double** mask, double** value, int width, int height);

#endif
