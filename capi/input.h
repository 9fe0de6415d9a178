// The C API's pixel buffers turned into the engine's inputs.
#ifndef QUILLANE_CAPI_INPUT_H
#define QUILLANE_CAPI_INPUT_H

#include <string>

#include "matting/calc_input.h"
#include "numeric/tiff.h"
#include "quillane/quillane.h"

// Whether p (in; null allowed) describes a usable buffer: data, sides of at least 1, 1 to 4
// channels, a stride of at least width * channels. Out *message: why not, naming it `what`.
bool pixels_usable(const quillane_pixels* p, const char* what, std::string* message);

// In image, strokes: usable buffers of one size (pixels_usable). In trimap: strokes is a grey
// trimap (0 background, 255 foreground, other levels unknown; alpha not read), else a stroke
// layer (a pixel of alpha 255 is a stroke whose target is its grey level / 255; without an
// alpha channel every pixel is). In region: inside the image.
// Out calc_image, *stroke_mask, *stroke_value: as read_calc_input() makes them, owned by the
// caller on QUILLANE_OK (free_TIFF, free_img_t); nothing is left allocated otherwise.
// Returns QUILLANE_OK or the QUILLANE_ERROR_NO_* / NOTHING_UNKNOWN status of the strokes,
// with *message saying which. Throws std::bad_alloc when memory runs out (inside an
// AllocationScope of the calling thread). Any thread.
int read_pixels_input(const quillane_pixels& image, const quillane_pixels& strokes, bool trimap,
                      const CalcRegion& region, TIFF_img* calc_image, double*** stroke_mask,
                      double*** stroke_value, std::string* message);

#endif
