#include "matting/calc_options.h"

#include <algorithm>
#include <cstring>

constexpr CalcOptionSpec calc_option_table[CALC_OPTION_COUNT] = {
    {OPT_LEVELS, "levels", "N", "Down scale image this many times for larger images",
     "Pyramid levels: the image is halved this many times less one, solved small and carried "
     "up. Large photographs calculate much faster with 2 or 3.",
     "a tenth of the smaller side", 1, 1, 1, 1, 1, 1, 0, true},
    {OPT_ACTIVE_LEVELS, "active", "N", "Recalculate matte in this many steps when upscaling",
     "On how many levels, from the coarsest, the matte is solved; the finer ones are only "
     "upsampled, guided by the image.",
     "the levels", 1, 1, 1, 1, 1, 1, 0, true},
    {OPT_SOFTNESS, "softness", "E", "Degree edges are softened in the matte",
     "Regularisation of the local colour model; larger values give softer edges.", nullptr, 1e-7,
     1e-7, 1e-5, 1e-7, 0, 1e-7, 7, false},
    {OPT_THRESHOLD, "threshold", "T", "Threshold value for trimatte from down scaled matte",
     "At each finer level, pixels whose upsampled alpha is this close to 0 or 1 become "
     "constraints; only the band in between is solved again.",
     nullptr, 0.02, 0, 0.5, 0.01, 0, 0.01, 2, false},
    {OPT_WINDOW_RADIUS, "radius", "R", "Window size. Try down scaling (more efficient) first!",
     "Radius of the local windows. Try down scaling first: larger windows cost much more.", nullptr,
     1, 1, 5, 1, 0, 1, 0, true},
};

namespace {

// Whether every row sits at the index of its id (checked when compiling).
constexpr bool rows_in_option_order() {
  for (int i = 0; i < CALC_OPTION_COUNT; ++i)
    if (calc_option_table[i].id != i) return false;
  return true;
}
static_assert(rows_in_option_order(), "calc_option_table is indexed by CalcOptionId");

const char* const kOffOn[] = {"off", "on"};
const char* const kSolvers[] = {"direct", "auto", "iterative"};
const char* const kSolverLabels[] = {"direct (exact, for small images)",
                                     "automatic (iterative for large images)",
                                     "iterative (large images)"};
}  // namespace

const CalcChoiceSpec calc_auto_levels_choice = {
    "auto",
    "Choose levels automatically",
    "The calculation picks the levels and steps itself from the image size and the unknown "
    "pixels, staying close to the full-resolution matte at a fraction of its time and memory.",
    0,
    kOffOn,
    kOffOn,
    2};
const CalcChoiceSpec calc_solver_choice = {
    "solver",
    "Solver",
    "How a calculation at full size (one level, levels not chosen automatically) solves its "
    "system: the sparse direct solve, or an iterative solve that needs far less time and memory "
    "on large photographs and agrees with it to a fraction of a percent; automatic takes the "
    "iterative one on large calculations.",
    CALC_SOLVER_DIRECT,
    kSolvers,
    kSolverLabels,
    3};

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
