// The in-memory image record of the engine and the allocation of its byte planes.
#ifndef QUILLANE_NUMERIC_TIFF_H
#define QUILLANE_NUMERIC_TIFF_H

#include <cstdint>

// Image record. The record itself belongs to whoever declares it; get_TIFF() and
// free_TIFF() manage only the planes and the plane table.
//   TIFF_type: 'g' grey (plane), 'p' palette (plane + palette),
//              'c' RGB (channels[0..2]), 'a' RGBA (channels[0..3]).
// Planes are height x width byte arrays from get_img(), indexed [y][x].
struct TIFF_img {
  int32_t height;
  int32_t width;
  char TIFF_type;
  uint8_t** plane;      // grey plane or palette indices
  uint8_t*** channels;  // colour planes: red, green, blue (and alpha)
  char compress_type;   // 'u': uncompressed, the only value in use
  uint8_t** palette;    // 256 rows x 3 columns (red, green, blue)
};

// Stores height, width, type and 'u' in *img (always, before any check) and allocates the
// planes for the type. Returns 0, or 1 with a message on stderr for a non-positive size or
// an unknown type letter (nothing allocated then). Exhausted memory ends the process.
// Release the planes with free_TIFF().
int get_TIFF(TIFF_img* img, int height, int width, char type);

// Releases the planes that get_TIFF() allocated for img->TIFF_type; other letters free
// nothing. The record's fields are left as they were.
void free_TIFF(TIFF_img* img);

// Number of colour channels the engine reads from an image: 3 for 'c' and 'a', else 1.
inline int channel_count(const TIFF_img& img) {
  return img.TIFF_type == 'c' || img.TIFF_type == 'a' ? 3 : 1;
}

#endif
