// What the stroke layer holds compared with earlier moments: fingerprints of its strokes,
// and whether it has changes that were never saved.
#ifndef QUILLANE_GUI_LAYER_STATE_H
#define QUILLANE_GUI_LAYER_STATE_H

#include <cairo.h>

#include <cstdint>

#include "gui/editor.h"
#include "matting/calc_input.h"

// Fingerprint of the pixels of an ARGB32 surface inside region (pixels; cut to the surface).
// Equal pixels give equal fingerprints; any changed pixel almost surely changes it. Never 0.
uint64_t surface_fingerprint(cairo_surface_t* surface, const CalcRegion& region);

// The same for the stroke layer.
uint64_t layer_fingerprint(const Strokes& strokes, const CalcRegion& region);

// The layer as it is now is kept in a file (just opened or saved), or holds nothing worth
// keeping (in-out strokes: its saved fingerprint).
void note_layer_saved(Strokes* strokes);

// The layer as it is now is kept in no file the user chose (restored after a crash).
void note_layer_unsaved(Strokes* strokes);

// True when the layer differs from what it was at the last note_layer_saved().
bool layer_has_unsaved_changes(const Strokes& strokes);

#endif
