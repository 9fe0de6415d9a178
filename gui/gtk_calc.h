// The Calculate command: the request records handed to worker threads, the option record,
// cancelling, and the delivery of the result.
//
// Every calculation has a request of its own. The worker owns the request's inputs, its
// control and its result from its start until thread_done() runs on the main thread. At most
// one request is current (pass_calc_args): its progress is shown and its result delivered.
// A cancelled request is abandoned: the window forgets it at once, and when its worker ends
// thread_done() frees the request and whatever result it made, and delivers nothing. The
// stroke layer may change while a worker runs (it has its own copies); the image and the
// calculation region may not, so Open and region changes are refused meanwhile
// (refuse_while_calculating()).
#ifndef QUILLANE_GUI_GTK_CALC_H
#define QUILLANE_GUI_GTK_CALC_H

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "matting/calc_control.h"
#include "matting/calc_input.h"
#include "matting/stage_profile.h"
#include "numeric/tiff.h"

struct CalcArgs {
  TIFF_img* image;        // 'c' image of the region; planes released by the worker
  TIFF_img* alpha_img;    // filled by the worker with the 'g' matte (no planes when none)
  double** stroke_mask;   // 1.0 where constrained; released by the worker
  double** stroke_value;  // target alpha where constrained; released by the worker
  int levels_num;
  int active_levels_num;
  double softness;
  double threshold;
  int window_radius;
  int auto_levels;       // 1: the calculation chooses its levels
  int solver;            // a CalcSolver
  int status;            // solver status of the last solve, -3 when none ran
  guint progress_timer;  // source id of the 100 ms progress timer, 0 when none
  GtkWidget* progress_bar;
  GtkWidget* cancel_button;  // "Cancel" beside the bar
  GtkToolItem* mode_button;  // toolbar item 0
  // What the matte belongs to, for delivery: the region of the image it was calculated on
  // (image pixels), a reference to that image, and the fingerprint of the region's strokes.
  CalcRegion region;
  GdkPixbuf* source;
  uint64_t strokes;
  CalcControl control;  // progress and cancel, shared with the worker
  GThread* thread;      // the worker, set by the worker before it queues thread_done()
  bool abandoned;       // cancelled: nothing is delivered
};

struct OptionArgs {
  int levels_num;
  int active_levels_num;
  double softness;
  double threshold;
  int window_radius;
  int img_width;  // size of the opened image, set by the Open command
  int img_height;
  int auto_levels;  // 1: "Choose levels automatically"
  int solver;       // a CalcSolver, the choice "Solver"
};

// The current calculation's request, or null when none runs.
extern CalcArgs* pass_calc_args;
extern OptionArgs* pass_option_args;
// 1 while idle, 0 while a worker runs or after the options dialog was cancelled.
extern int ok_to_calc;

// "clicked" of Calculate (data: the toolbar). Reads the image, the stroke layer and the region,
// runs the options dialog and starts a worker; a calculation already running is cancelled
// when the new one starts. Does nothing without both a background stroke and another stroke
// in the region; refuses with the error dialog a layer painted everywhere and a region
// smaller than one window.
void cb_calc(GtkWidget* button, gpointer tb);

// Copies the options from pass_option_args into args.
void calc_opts_set(CalcArgs* args);

// Idle callback queued by the worker with its request: joins the worker, delivers the result
// of the current request, frees the request. Returns FALSE.
gboolean thread_done(gpointer args);

// Delivers args' result: reports a failing or warning solver status in the error dialog;
// when a matte was made, writes it into pixbuf_alpha (alpha 0 outside the region), says in
// the status bar when the strokes changed since the calculation started, and switches to
// view mode. Releases nothing.
void setup_results(CalcArgs* args);

// Worker thread entry; data is the request. Returns null.
gpointer winQuillaneMain(gpointer data);

// Cancels the current calculation, if any: the window is usable at once, the worker's
// result is discarded when it ends, and the status bar says "Calculation cancelled".
void cancel_calculation();

// "clicked" of the Cancel button beside the progress bar.
void cb_cancel_calc(GtkWidget* button, gpointer data);

// "key-press-event" of the main window: Escape cancels a running calculation. Returns TRUE
// when it did.
gboolean cb_calc_key_press(GtkWidget* window, GdkEventKey* event, gpointer data);

// True from the start of a worker until its result has been delivered or it was cancelled.
bool calculation_running();

// Workers not yet joined, the current one and cancelled ones still finishing.
int calc_workers_alive();

// When a calculation is running, says so in the status bar and returns true: the caller
// must then not go on. Returns false otherwise.
bool refuse_while_calculating();

// Shows text on the status bar's message context and keeps the pointer readout from covering
// it for a few seconds. Returns the message id (gtk_statusbar_remove), 0 without a window.
guint show_status_message(const char* text);

// True for a few seconds after show_status_message() or a refusal, so that the pointer
// readout does not cover the message at once.
bool refusal_recently_shown();

// Memory a calculation may need before Calculate asks the user first, in bytes; 0 (the
// default) means 80 % of the computer's physical memory.
extern double calc_memory_budget;

// Starts the worker thread; replaceable so that tests can make the start fail.
extern GThread* (*calc_thread_create)(GThreadFunc func, gpointer data, GError** error);

// Installed on every worker thread for its calculation (null: none), so that tests and
// profiling can watch the engine's stages where they run.
extern MatteStageObserver* calc_worker_observer;

#endif
