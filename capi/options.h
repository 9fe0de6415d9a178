// The C API's options turned into the engine's, with their ranges checked.
#ifndef QUILLANE_CAPI_OPTIONS_H
#define QUILLANE_CAPI_OPTIONS_H

#include <string>

#include "matting/calc_input.h"
#include "matting/calc_options.h"
#include "quillane/quillane.h"

// In options: as the caller filled them (the first options->size bytes are read; later
// fields keep their defaults). In width, height: the image's size.
// Out opts: the engine's options. Out region: the calculation region, cut at the image's
// edges. Out trimap: whether the strokes are a trimap. Out *message: why, on failure.
// Returns QUILLANE_OK, QUILLANE_ERROR_ARGUMENT (no size), QUILLANE_ERROR_REGION or
// QUILLANE_ERROR_OPTION. Any thread.
int read_options(const quillane_options& options, int width, int height, CalcOptions* opts,
                 CalcRegion* region, bool* trimap, std::string* message);

#endif
