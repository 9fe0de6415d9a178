// The Calculate command: making a request for a worker thread, cancelling, and the delivery of
// the result.
//
// Every calculation has a request of its own (CalcArgs). The worker owns the request's
// inputs, its control and its result from its start until thread_done() runs on the main
// thread. At most one request is current (Calculation::pass_calc_args): its progress is shown
// and its result delivered. A cancelled request is abandoned: the editor forgets it at once,
// and when its worker ends thread_done() frees the request and whatever result it made, and
// delivers nothing. The stroke layer may change while a worker runs (it has its own copies);
// the document (image, matte, region) may not: document_to_change() refuses meanwhile.
#ifndef QUILLANE_GUI_GTK_CALC_H
#define QUILLANE_GUI_GTK_CALC_H

#include <gtk/gtk.h>

#include "gui/calc_request.h"
#include "gui/editor.h"

// "clicked" of Calculate (data: the Editor). Reads the image, the stroke layer and the region,
// runs the options dialog and starts a worker; a calculation already running is cancelled, and
// the new one waits until its thread has ended (calc_slot.h). Does nothing without both a
// background stroke and another stroke in the region; refuses with the error dialog a layer painted
// everywhere and a region smaller than one window.
void cb_calc(GtkWidget* button, gpointer editor);

// Copies the options of record into args, whole.
void calc_opts_set(CalcArgs* args, const OptionArgs* record);

// Idle callback queued by the worker with its request: joins the worker, delivers the result
// of its editor's current request, frees the request. Returns FALSE.
gboolean thread_done(gpointer args);

// Delivers args' result into ed: reports a failing or warning solver status in the error
// dialog; when a matte was made, writes it into the document's pixbuf_alpha (alpha 0 outside
// the region), says in the status bar when the strokes changed since the calculation started,
// and switches to view mode. Releases nothing.
void setup_results(Editor* ed, CalcArgs* args);

// Starts the worker of ed's current request args (main thread; no calculation thread alive),
// with the live session when it serves (live_matte.h). A thread that cannot start is reported
// in the error dialog and the request is dropped.
void start_calc_worker(Editor* ed, CalcArgs* args);

// Worker thread entry; data is the request. Returns null.
gpointer winQuillaneMain(gpointer data);

// Cancels ed's current calculation, if any: the window is usable at once, the worker's result
// is discarded when it ends, and the status bar says "Calculation cancelled".
void cancel_calculation(Editor* ed);

// Cancels ed's calculation and lets go of every worker still running: each frees its own
// request when it ends. Then frees the option record. For releasing the editor.
void release_calculations(Editor* ed);

// "clicked" of the Cancel button beside the progress bar (data: the Editor).
void cb_cancel_calc(GtkWidget* button, gpointer editor);

// "key-press-event" of the main window (data: the Editor): Escape cancels a running
// calculation. Returns TRUE when it did.
gboolean cb_calc_key_press(GtkWidget* window, GdkEventKey* event, gpointer editor);

#endif
