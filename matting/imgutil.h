// Small shared operations on arrays and colours: grey erosion and the grey level of a colour.
#ifndef QUILLANE_MATTING_IMGUTIL_H
#define QUILLANE_MATTING_IMGUTIL_H

// Grey erosion: each entry becomes the minimum over its (2*radius+1)-square window, clipped
// at the borders. In arr: height x width, [y][x]; note width before height. Returns a new
// array (free_img).
double** imerode(double** arr, int width, int height, int radius);

// Grey level (lightness) of an 8-bit colour: (max + min) / 2, truncated.
int rgb2grey(int r, int g, int b);

#endif
