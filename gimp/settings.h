// The GIMP plug-in's options: what its dialog shows, what plug-in-quillane-matte takes, what
// is kept between runs (gimp_set_data) and how they become the library's options.
#ifndef QUILLANE_GIMP_SETTINGS_H
#define QUILLANE_GIMP_SETTINGS_H

#include <cstdint>

#include "quillane/quillane.h"

// Plain data of fixed size, stored byte for byte by GIMP between runs.
struct MatteSettings {
  int32_t strokes;        // drawable id of the stroke layer or trimap; -1: none chosen
  int32_t trimap;         // 1: that layer is a grey trimap
  int32_t auto_levels;    // 1: the calculation chooses its levels
  int32_t levels;         // pyramid levels, as in the editor's dialog
  int32_t active_levels;  // levels solved, from the coarsest
  double softness;
  int32_t radius;         // window radius
  int32_t clean_colours;  // 1: partly transparent pixels get their foreground colour
};

// The defaults: no layer chosen, a stroke layer, automatic levels, the rest as the editor's
// dialog has them, colours left alone.
MatteSettings default_settings();

// In settings: as chosen. Out options: the library's options for them (the threshold and the
// solver keep the library's defaults).
void settings_to_options(const MatteSettings& settings, quillane_options* options);

#endif
