// Defaults and ranges of the C API's options: the engine's option table, so that they stay
// those of the editor and the tool.
#include "capi/options.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

quillane_options defaults() {
  CalcOptions d;
  calc_options_default(&d);
  quillane_options o;
  std::memset(&o, 0, sizeof o);
  o.size = sizeof o;
  o.trimap = 0;
  o.auto_levels = d.auto_levels;
  o.levels = d.levels_num;
  o.active_levels = d.active_levels_num;
  o.softness = d.softness;
  o.threshold = d.threshold;
  o.window_radius = d.window_radius;
  o.solver = d.solver;
  return o;
}

std::string format(const char* format, double a, double b, double c) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// Checks value against [lower, upper] (NaN fails); the message names the field.
bool in_range(const char* field, double value, double lower, double upper, const char* why,
              std::string* message) {
  if (value >= lower && value <= upper) return true;
  *message = std::string("options.") + field +
             format(" %g is out of range %g..%g", value, lower, upper) + why;
  return false;
}

bool is_flag(const char* field, int value, std::string* message) {
  if (value == 0 || value == 1) return true;
  *message = std::string("options.") + field + " must be 0 or 1, not " + std::to_string(value);
  return false;
}

}  // namespace

extern "C" void quillane_options_init_sized(quillane_options* options, size_t size) {
  if (options == nullptr || size < sizeof options->size) return;
  const quillane_options d = defaults();
  std::memset(static_cast<void*>(options), 0, size);
  std::memcpy(static_cast<void*>(options), &d, std::min(size, sizeof d));
  options->size = size;
}

int read_options(const quillane_options& given, int width, int height, CalcOptions* opts,
                 CalcRegion* region, bool* trimap, std::string* message) {
  if (given.size < sizeof given.size) {
    *message = "options not filled by quillane_options_init()";
    return QUILLANE_ERROR_ARGUMENT;
  }
  quillane_options o = defaults();
  std::memcpy(static_cast<void*>(&o), &given, std::min(given.size, sizeof o));

  *region = {0, 0, width, height};
  if (o.region_width != 0 || o.region_height != 0) {
    const CalcRegion asked = {o.region_x, o.region_y, o.region_width, o.region_height};
    *region = asked;
    char text[200];
    if (asked.w <= 0 || asked.h <= 0 || !clamp_calc_region(region, width, height)) {
      std::snprintf(text, sizeof text, "the region %d,%d,%d,%d lies outside the %dx%d image",
                    asked.x, asked.y, asked.w, asked.h, width, height);
      *message = text;
      return QUILLANE_ERROR_REGION;
    }
  }
  if (!is_flag("trimap", o.trimap, message) || !is_flag("auto_levels", o.auto_levels, message))
    return QUILLANE_ERROR_OPTION;
  if (!in_range("window_radius", o.window_radius, calc_option_table[OPT_WINDOW_RADIUS].lower,
                calc_option_table[OPT_WINDOW_RADIUS].upper, "", message))
    return QUILLANE_ERROR_OPTION;
  // Smaller than one window: the system would be singular and the matte meaningless.
  if (!calc_region_fits_window(*region, o.window_radius)) {
    *message = calc_region_size_message(*region, o.window_radius);
    return QUILLANE_ERROR_REGION;
  }
  const std::string size =
      " for a " + std::to_string(region->w) + "x" + std::to_string(region->h) + " region";
  const bool ok =
      in_range("softness", o.softness, calc_option_table[OPT_SOFTNESS].lower,
               calc_option_table[OPT_SOFTNESS].upper, "", message) &&
      in_range("threshold", o.threshold, calc_option_table[OPT_THRESHOLD].lower,
               calc_option_table[OPT_THRESHOLD].upper, "", message) &&
      in_range("solver", o.solver, QUILLANE_SOLVER_DIRECT, QUILLANE_SOLVER_ITERATIVE, "",
               message) &&
      // Chosen by the calculation itself with automatic levels.
      (o.auto_levels != 0 ||
       (in_range("levels", o.levels, calc_option_table[OPT_LEVELS].lower,
                 calc_option_upper(OPT_LEVELS, region->w, region->h, o.levels), size.c_str(),
                 message) &&
        in_range("active_levels", o.active_levels, calc_option_table[OPT_ACTIVE_LEVELS].lower,
                 calc_option_upper(OPT_ACTIVE_LEVELS, region->w, region->h, o.levels),
                 " (at most levels)", message)));
  if (!ok) return QUILLANE_ERROR_OPTION;

  calc_options_default(opts);
  opts->auto_levels = o.auto_levels;
  opts->levels_num = o.levels;
  opts->active_levels_num = o.active_levels;
  opts->softness = o.softness;
  opts->threshold = o.threshold;
  opts->window_radius = o.window_radius;
  opts->solver = o.solver;
  *trimap = o.trimap != 0;
  return QUILLANE_OK;
}
