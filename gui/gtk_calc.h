// The Calculate command: the request record shared with the worker thread, the option
// record, progress, and the delivery of the result.
//
// One request record exists (pass_calc_args), so there is at most one calculation at a time.
// From the start of the worker until thread_done() runs, the record's image, arrays,
// alpha_img and status belong to the worker; commands that would change what delivery reads
// are refused meanwhile (refuse_while_calculating()).
#ifndef QUILLANE_GUI_GTK_CALC_H
#define QUILLANE_GUI_GTK_CALC_H

#include <gtk/gtk.h>

#include "numeric/tiff.h"

struct CalcArgs {
  TIFF_img* image;        // 'c' image of the region; planes released by the worker
  TIFF_img* alpha_img;    // filled by the worker with the 'g' matte; planes released on delivery
  double** stroke_mask;   // 1.0 where constrained; released by the worker
  double** stroke_value;  // target alpha where constrained; released by the worker
  int levels_num;
  int active_levels_num;
  double softness;
  double threshold;
  int window_radius;
  int status;            // solver status of the last solve, -3 when none ran
  guint progress_timer;  // source id of the 100 ms pulse timer
  GtkWidget* progress_bar;
  GtkToolItem* mode_button;  // toolbar item 0
};

struct OptionArgs {
  int levels_num;
  int active_levels_num;
  double softness;
  double threshold;
  int window_radius;
  int img_width;  // size of the opened image, set by the Open command
  int img_height;
};

extern CalcArgs* pass_calc_args;
extern OptionArgs* pass_option_args;
// 1 while idle, 0 while a worker runs or after the options dialog was cancelled.
extern int ok_to_calc;

// "clicked" of Calculate (data: the toolbar). Reads the image, the stroke layer and the region,
// runs the options dialog and starts the worker. Does nothing without both a background
// stroke and another stroke in the region.
void cb_calc(GtkWidget* button, gpointer tb);

// Copies the five options from pass_option_args into pass_calc_args.
void calc_opts_set();

// Timer callback: pulses the bar; returns TRUE to keep running.
gboolean update_progress(gpointer progress_bar);

// Idle callback queued by the worker with its own GThread: joins it and delivers the result.
// Returns FALSE.
gboolean thread_done(gpointer thread);

// Delivers the matte into pixbuf_alpha (alpha 0 outside the region), reports a failing solver
// status in the error dialog and switches to view mode.
void setup_results();

// Worker thread entry; data is pass_calc_args. Returns null.
gpointer winQuillaneMain(gpointer data);

// True from the start of a worker until its result has been delivered.
bool calculation_running();

// When a calculation is running, says so in the status bar and returns true: the caller
// must then not go on. Returns false otherwise.
bool refuse_while_calculating();

// True for a few seconds after a refusal, so that the pointer readout does not cover the
// message at once.
bool refusal_recently_shown();

// Bytes the sparse solver is expected to need for a level with `unknowns` free pixels
// (measured on photographs: about 5 KB per unknown, growing slowly with the size).
double calc_memory_estimate(double unknowns);

// Memory a calculation may need before Calculate asks the user first, in bytes; 0 (the
// default) means 80 % of the computer's physical memory.
extern double calc_memory_budget;

// Starts the worker thread; replaceable so that tests can make the start fail.
extern GThread* (*calc_thread_create)(GThreadFunc func, gpointer data, GError** error);

#endif
