#include "matting/calc_options.h"

#include <algorithm>
#include <cstring>

const CalcOptionSpec calc_option_table[CALC_OPTION_COUNT] = {
    {"levels", "Down scale image this many times for larger images", 1, 1, 1, 1, 1, 1, 0, true},
    {"active", "Recalculate matte in this many steps when upscaling", 1, 1, 1, 1, 1, 1, 0, true},
    {"softness", "Degree edges are softened in the matte", 1e-7, 1e-7, 1e-5, 1e-7, 0, 1e-7, 7,
     false},
    {"threshold", "Threshold value for trimatte from down scaled matte", 0.02, 0, 0.5, 0.01, 0,
     0.01, 2, false},
    {"radius", "Window size. Try down scaling (more efficient) first!", 1, 1, 5, 1, 0, 1, 0, true},
};

namespace {
const char* const kOffOn[] = {"off", "on"};
const char* const kSolvers[] = {"direct", "auto", "iterative"};
const char* const kSolverLabels[] = {"direct (exact, for small images)",
                                     "automatic (iterative for large images)",
                                     "iterative (large images)"};
}  // namespace

const CalcChoiceSpec calc_auto_levels_choice = {
    "auto", "Choose levels automatically", 0, kOffOn, kOffOn, 2};
const CalcChoiceSpec calc_solver_choice = {"solver", "Solver",      CALC_SOLVER_DIRECT,
                                           kSolvers, kSolverLabels, 3};

int calc_choice_find(const CalcChoiceSpec& choice, const char* text) {
  for (int i = 0; i < choice.count; ++i)
    if (std::strcmp(choice.values[i], text) == 0) return i;
  return -1;
}

const CalcOptionId calc_option_dialog_order[CALC_OPTION_COUNT] = {
    OPT_LEVELS, OPT_ACTIVE_LEVELS, OPT_THRESHOLD, OPT_SOFTNESS, OPT_WINDOW_RADIUS};

const CalcOptionId calc_option_reset_order[CALC_OPTION_COUNT] = {
    OPT_LEVELS, OPT_ACTIVE_LEVELS, OPT_WINDOW_RADIUS, OPT_SOFTNESS, OPT_THRESHOLD};

void calc_options_default(CalcOptions* opts) {
  for (int id = 0; id < CALC_OPTION_COUNT; ++id)
    calc_option_set(opts, static_cast<CalcOptionId>(id), calc_option_table[id].default_value);
  opts->auto_levels = calc_auto_levels_choice.default_value;
  opts->solver = calc_solver_choice.default_value;
}

int levels_bound(int img_width, int img_height) {
  return std::max(std::min(img_width, img_height) / 10, 1);
}

double calc_option_upper(CalcOptionId id, int img_width, int img_height, int levels_num) {
  switch (id) {
    case OPT_LEVELS:
      return levels_bound(img_width, img_height);
    case OPT_ACTIVE_LEVELS:
      return std::max(levels_num, 1);
    default:
      return calc_option_table[id].upper;
  }
}

double calc_option_get(const CalcOptions& opts, CalcOptionId id) {
  switch (id) {
    case OPT_LEVELS:
      return opts.levels_num;
    case OPT_ACTIVE_LEVELS:
      return opts.active_levels_num;
    case OPT_SOFTNESS:
      return opts.softness;
    case OPT_THRESHOLD:
      return opts.threshold;
    case OPT_WINDOW_RADIUS:
      return opts.window_radius;
    default:
      return 0;
  }
}

void calc_option_set(CalcOptions* opts, CalcOptionId id, double value) {
  switch (id) {
    case OPT_LEVELS:
      opts->levels_num = static_cast<int>(value);
      break;
    case OPT_ACTIVE_LEVELS:
      opts->active_levels_num = static_cast<int>(value);
      break;
    case OPT_SOFTNESS:
      opts->softness = value;
      break;
    case OPT_THRESHOLD:
      opts->threshold = value;
      break;
    case OPT_WINDOW_RADIUS:
      opts->window_radius = static_cast<int>(value);
      break;
    default:
      break;
  }
}
