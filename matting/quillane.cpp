// Coarse-to-fine matte calculation: the pyramid driver and the worker's calculation.
#include "matting/quillane.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include <umfpack.h>

#include "matting/blas_guard.h"
#include "matting/calc_control.h"
#include "matting/calc_plan.h"
#include "matting/level_strokes.h"
#include "matting/matte_session.h"
#include "matting/imgutil.h"
#include "matting/iterative_solve.h"
#include "matting/large_pages.h"
#include "matting/pyramid.h"
#include "matting/resample.h"
#include "matting/solve_alpha.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"
#include "numeric/errhandl.h"

namespace {

// Turns the upsampled matte up into trimap constraints on mask and value (in place):
// pixels sure in their whole 3 x 3 neighbourhood become constrained, and constrained pixels
// on the foreground side get the target 1.0.
void apply_trimap(double** up, double** mask, double** value, int width, int height,
                  double threshold) {
  double** fg_side = get_init_arr_t<double>(width, height);
  double** sure_fg = get_init_arr_t<double>(width, height);
  double** sure_bg = get_init_arr_t<double>(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if ((1.0 - mask[y][x]) * up[y][x] + value[y][x] >= 0.5) fg_side[y][x] = 1.0;
      if (up[y][x] > 1.0 - threshold)
        sure_fg[y][x] = 1.0;
      else if (up[y][x] < threshold)
        sure_bg[y][x] = 1.0;
    }
  double** eroded_fg = imerode(sure_fg, width, height, 1);
  double** eroded_bg = imerode(sure_bg, width, height, 1);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (eroded_fg[y][x] == 1.0) mask[y][x] = 1.0;
      if (eroded_bg[y][x] == 1.0) mask[y][x] = 1.0;
      // Values are only ever raised: a new background constraint keeps its 0.0.
      if (mask[y][x] == 1.0 && fg_side[y][x] >= 0.5) value[y][x] = 1.0;
    }
  free_img_t(fg_side);
  free_img_t(sure_fg);
  free_img_t(sure_bg);
  free_img_t(eroded_fg);
  free_img_t(eroded_bg);
}

// One level of the driver; levels and active already adjusted (threshold >= 0.02,
// active >= 1). A level whose halving would be too small is treated as the coarsest.
// total: the levels of the whole calculation, for the progress report.
double** c2f_level(TIFF_img* image, double** mask, double** value, int levels, int active,
                   double threshold, double softness, int window_radius, int* status, int total) {
  const int width = image->width, height = image->height;
  if (levels > 1 && !can_halve(width, height, window_radius)) levels = 1;
  calc_report_level(levels, total);
  if (levels <= 1) return solveAlpha(image, mask, value, softness, window_radius, status);

  matte_stage_begin(MATTE_STAGE_RESAMPLING);
  TIFF_img small = downSmpIm(image, kFilts);
  double** small_mask = downSmpArr(mask, height, width, kFilts);
  double** small_value = downSmpArr(value, height, width, kFilts);
  matte_stage_end(MATTE_STAGE_RESAMPLING);

  std::printf("levels_num %d Active_levels_num %d\n", levels, active);
  std::fflush(stdout);
  double** coarse =
      c2f_level(&small, small_mask, small_value, levels - 1, std::min(levels - 1, active),
                threshold, softness, window_radius, status, total);

  calc_report_level(levels, total);
  matte_stage_begin(MATTE_STAGE_RESAMPLING);
  double** up = upSampleAlphaUsingImg(coarse, &small, image, softness, window_radius);
  free_img_t(small_mask);
  free_img_t(small_value);
  free_img_t(coarse);
  free_TIFF(&small);
  apply_trimap(up, mask, value, width, height, threshold);
  matte_stage_end(MATTE_STAGE_RESAMPLING);

  if (active < levels) return up;  // this level is not solved: the upsampled matte stands
  free_img_t(up);
  return solveAlpha(image, mask, value, softness, window_radius, status);
}

}  // namespace

double** solveAlphaC2F(TIFF_img* image, double** mask, double** value, int levels_num,
                       int active_levels_num, double threshold, double softness, int window_radius,
                       int* status) {
  if (threshold < 0.02) threshold = 0.02;
  if (active_levels_num < 1) active_levels_num = 1;
  // Asking for more halvings than the image allows would build levels of zero or negative
  // size: stop at the last valid level and say so. The active count, counted from the
  // coarsest level, is kept within the levels actually built.
  const int levels = usable_levels(image->width, image->height, levels_num, window_radius);
  if (levels < levels_num) {
    std::printf("levels_num %d: using %d levels for a %dx%d image\n", levels_num, levels,
                image->width, image->height);
    std::fflush(stdout);
    levels_num = levels;
    active_levels_num = std::min(active_levels_num, levels);
  }
  return c2f_level(image, mask, value, levels_num, active_levels_num, threshold, softness,
                   window_radius, status, levels_num);
}

void scale2_255(double** alpha, int cols, int rows) {
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      double v = alpha[y][x];
      v = v > 1.0 || std::isnan(v) ? 255.0 : v * 255.0;
      if (v < 0.0) v = 0.0;
      alpha[y][x] = v;
    }
}

int calculate_matte(TIFF_img* image, double** stroke_mask, double** stroke_value,
                    const CalcOptions& opts, TIFF_img* alpha_img, CalcControl* control) {
  // An error left on this thread's register by an earlier run would silence the containers.
  LASClearError();
  use_large_pages_in_suitesparse();
  const int width = image->width, height = image->height;
  const int active = std::min(opts.active_levels_num, opts.levels_num);
  int status = -3;  // stays when no solve runs
  alpha_img->TIFF_type = 0;
  try {
    // Everything allocated from here on is released if the calculation stops half-way.
    AllocationScope scope;
    CalcControlBinding binding(control);
    BlasBuffers blas(1);  // this thread's, had now: OpenBLAS hangs where it cannot get one
    double** alpha = nullptr;
    switch (choose_calc_method(opts, count_unknown_pixels(stroke_mask, width, height))) {
      case CALC_METHOD_AUTO:
        alpha = solve_auto_levels(image, stroke_mask, stroke_value, opts, &status);
        break;
      case CALC_METHOD_ITERATIVE:
        alpha = solve_one_level_iterative(image, stroke_mask, stroke_value, opts, &status);
        break;
      case CALC_METHOD_LEVELS:
        if (!strokes_survive_levels(
                stroke_mask, stroke_value, width, height,
                usable_levels(width, height, opts.levels_num, opts.window_radius)))
          throw StrokesTooThin();  // a blank matte is no success
        alpha = solveAlphaC2F(image, stroke_mask, stroke_value, opts.levels_num, active,
                              opts.threshold, opts.softness, opts.window_radius, &status);
        break;
    }
    scale2_255(alpha, width, height);
    get_TIFF(alpha_img, height, width, 'g');
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        alpha_img->plane[y][x] = static_cast<uint8_t>(static_cast<int>(alpha[y][x]));
    free_img_t(alpha);
  } catch (const std::bad_alloc&) {
    status = UMFPACK_ERROR_out_of_memory;
    alpha_img->TIFF_type = 0;
  } catch (const CalcCancelled&) {
    status = CALC_STATUS_CANCELLED;
    alpha_img->TIFF_type = 0;
  } catch (const StrokesTooThin&) {
    status = CALC_STATUS_STROKES_TOO_THIN;
    alpha_img->TIFF_type = 0;
  }
  free_TIFF(image);
  free_img_t(stroke_value);
  free_img_t(stroke_mask);
  std::fputc('\a', stdout);
  std::fflush(stdout);
  return status;
}
