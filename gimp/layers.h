// The plug-in's side of GIMP's layers: which layer holds the strokes, reading the photograph
// and the strokes as the library wants them, writing the matte as a layer mask and the clean
// colours back. Main thread of the plug-in (libgimp is not thread-safe).
#ifndef QUILLANE_GIMP_LAYERS_H
#define QUILLANE_GIMP_LAYERS_H

#include <cstdint>
#include <string>
#include <vector>

// Whether item (in) can hold strokes for photo (in): a layer of image, not a group, not photo.
bool usable_strokes_layer(int32_t image, int32_t photo, int32_t item);

// The stroke layer offered first for photo in image: the layer named "strokes" (any case,
// anywhere in the layer tree), else the layer just above photo. -1 when there is neither.
int32_t default_strokes_layer(int32_t image, int32_t photo);

// Pixels of photo's rectangle, rows of width * 4 bytes without padding.
struct LayerPixels {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

// Out: photo's own pixels as 8-bit RGBA (R'G'B'A u8).
LayerPixels read_photo(int32_t photo);

// Out: the pixels of strokes (in) that lie over photo (in), aligned by the layers' offsets,
// as 8-bit RGBA. Where strokes does not reach: unpainted for a stroke layer, unknown (grey
// 128) for a trimap.
LayerPixels read_strokes(int32_t photo, int32_t strokes, bool trimap);

// Writes alpha (in: photo's width x height bytes, rows without padding) into photo's layer
// mask, made white first when photo has none. Returns false with *error when GIMP refuses.
bool write_mask(int32_t photo, const std::vector<uint8_t>& alpha, std::string* error);

// Writes the colours of foreground (in: RGBA as quillane_matte() gives it) into photo where
// the matte (its alpha byte) is strictly between 0 and 255; photo's alpha and all other
// pixels stay as they are, also in images of more than 8 bits.
void write_clean_colours(int32_t photo, const LayerPixels& original,
                         const std::vector<uint8_t>& foreground);

#endif
