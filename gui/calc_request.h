// The two records of a calculation: the options the user chose (OptionArgs), and the request
// a worker thread calculates (CalcArgs). Both hold the options as one CalcOptions value, the
// one place where they live; a request copies it whole when it is made.
#ifndef QUILLANE_GUI_CALC_REQUEST_H
#define QUILLANE_GUI_CALC_REQUEST_H

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>

#include "matting/calc_control.h"
#include "matting/calc_input.h"
#include "matting/calc_options.h"
#include "matting/stage_profile.h"
#include "numeric/tiff.h"

class Editor;
class MatteSession;

// The options of the next calculation, edited by the options dialog on the main thread.
struct OptionArgs {
  CalcOptions options;
  int img_width;  // size of the opened image, set by the Open command (1 x 1 before)
  int img_height;
};

// One calculation. The worker owns the inputs, options, control and outputs from its start
// until thread_done() runs on the main thread; the main thread keeps to the fields marked
// "main thread" meanwhile.
struct CalcArgs {
  CalcOptions options;           // copied from the option record when the request is made
  TIFF_img* image;               // 'c' image of the region; planes released by the worker
  TIFF_img* alpha_img;           // filled by the worker with the 'g' matte (no planes when none)
  double** stroke_mask;          // 1.0 where constrained; released by the worker
  double** stroke_value;         // target alpha where constrained; released by the worker
  int status;                    // solver status of the last solve, -3 when none ran
  CalcControl control;           // progress and cancel, shared with the worker at any time
  MatteStageObserver* observer;  // installed on the worker's thread (null: none); borrowed
  GThread* thread;               // the worker, set by the worker before it queues thread_done()
  // The live matte's session, updated instead of a calculation from scratch when it serves
  // (null: none); the worker's from its start until thread_done().
  std::shared_ptr<MatteSession> session;
  // Main thread: what the matte belongs to, for delivery: the region of the image it was
  // calculated on (image pixels), a reference to that image, and the fingerprint of the
  // region's strokes; the editor that asked (null once that editor is gone), and whether the
  // request was cancelled (nothing is delivered then).
  CalcRegion region;
  GdkPixbuf* source;
  uint64_t strokes;
  Editor* editor;
  bool abandoned;
  bool waiting;  // made, but its worker waits until another calculation's thread has ended
};

#endif
