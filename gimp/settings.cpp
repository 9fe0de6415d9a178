#include "gimp/settings.h"

#include "matting/calc_options.h"

MatteSettings default_settings() {
  CalcOptions d;
  calc_options_default(&d);
  MatteSettings s;
  s.strokes = -1;
  s.trimap = 0;
  s.auto_levels = 1;  // unlike the editor: full quality at a fraction of the time
  s.levels = d.levels_num;
  s.active_levels = d.active_levels_num;
  s.softness = d.softness;
  s.radius = d.window_radius;
  s.clean_colours = 0;  // the photograph's pixels change only when asked
  return s;
}

void settings_to_options(const MatteSettings& settings, quillane_options* options) {
  quillane_options_init(options);
  options->trimap = settings.trimap;
  options->auto_levels = settings.auto_levels;
  options->levels = settings.levels;
  options->active_levels = settings.active_levels;
  options->softness = settings.softness;
  options->window_radius = settings.radius;
}
