// The live matte: while View > "Live matte" is on, the matte is recalculated after every change
// of the strokes, the region or the options, with the current options and automatic levels, on
// a worker thread and without the options dialog. One MatteSession per image and region keeps
// what the next update can use again. A change during an update cancels it; when it has
// returned (the session keeps the tiles it finished) the next update starts with the newest
// strokes: never two calculations side by side (calc_slot.h).
//
// What the canvas shows: the image composed with the newest matte in the chosen view
// (matte_display.h) as View::backdrop, in edit mode under the strokes and in view mode. The
// first matte of an update comes from the level nearest to the zoomed region's size, then the
// full-resolution one replaces it. The full-resolution matte is the image's matte: it is written
// into the document's pixbuf_alpha (alpha 0 outside the region) as Calculate's delivery does,
// without switching modes. Problems go to the live state in the status bar, never to a dialog.
//
// Everything here runs on the main thread; the worker (live_worker.h) sees only its job.
#ifndef QUILLANE_GUI_LIVE_MATTE_H
#define QUILLANE_GUI_LIVE_MATTE_H

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/calc_request.h"
#include "matting/calc_input.h"

class Editor;
class MatteSession;
struct LiveJob;

// What a session belongs to: the image (a reference is held, so that no other image can take
// its address), the region in image pixels, and the options its matte depends on.
struct LiveKey {
  GdkPixbuf* image = nullptr;
  CalcRegion region = {0, 0, 0, 0};
  double softness = 0, threshold = 0;
  int window_radius = 0;
};

// A coarse level's matte on show, kept so that another choice of Show matte as can compose it
// again; empty while the canvas shows the document's matte.
struct LivePreview {
  std::vector<uint8_t> alpha;  // width x height bytes, stretched over region
  int width = 0, height = 0;
  CalcRegion region = {0, 0, 0, 0};
};

// The live matte's state. on: the check item's state (off at start). session: made by the first
// update for key (null before, and after anything in key changed); shared with an update or a
// Calculate request that borrows it, never used by two threads at once. done_strokes: the
// fingerprint of the strokes of session's last complete update (0: none). job: the update whose
// thread is alive. pending: a change that no update has taken yet, made at changed_at
// (monotonic microseconds).
struct LiveMatte {
  bool on = false;
  std::shared_ptr<MatteSession> session;
  LiveKey key;
  uint64_t done_strokes = 0;
  LiveJob* job = nullptr;
  bool pending = false;
  gint64 changed_at = 0;
  unsigned serial = 0;           // of the last update started
  bool job_final_shown = false;  // the running update's full-resolution matte is on show
  LivePreview preview;
  GdkPixbuf* shown_image = nullptr;  // the image View::backdrop shows (a reference), or null
  guint kick = 0;                    // idle source that starts the next update, 0: none
  guint timer = 0;                   // 100 ms timer following the update's level, 0: none
  GtkWidget* state_label = nullptr;  // the live state, at the end of the status bar
};

// Something the live matte depends on changed: the stroke layer (end of a brush or eraser stroke,
// a Control-click line, a fill, Undo, Redo, Open as layer), or the image, the region or the
// options. Starts an update soon (from an idle callback), or cancels the running one so that it
// restarts with the change. Cheap, and nothing at all while the live matte is off. Main thread.
void note_strokes_changed(Editor& ed);
void note_matte_inputs_changed(Editor& ed);

// Turns the live matte on (shows the state, the document's matte in the chosen view, and starts
// an update) or off (cancels the update, forgets the session, shows the image as before).
// The menu item and the toolbar toggle are kept in step by their handlers (view_menu.h).
void set_live_matte(Editor& ed, bool on);

// The choice of Show matte as or the overlay colour changed: composes the matte on show again.
void live_display_changed(Editor& ed);

// True while an update's thread is alive.
bool live_thread_alive(const Editor& ed);

// Asks the running update, if any, to stop, so that a Calculate can start when it has returned;
// the change it was working on stays pending.
void live_make_way(Editor& ed);

// No calculation thread is alive any more and no Calculate waits: starts the pending update.
void live_resume(Editor& ed);

// For a Calculate request about to start (main thread, no thread alive): the live session when
// args' options ask for automatic levels and the image, region, softness, threshold and window
// radius are the session's, else null; a session that cannot serve releases its cache first, so
// that memory never holds two calculations.
std::shared_ptr<MatteSession> live_session_for(Editor& ed, const CalcArgs& args);

// After a Calculate delivered args' matte into the document: the live view shows it, and when it
// came from the live session, the session knows its strokes.
void live_note_delivered(Editor& ed, const CalcArgs& args);

// Short text of the live state, as the status bar shows it ("" while off).
std::string live_state_text(const Editor& ed);

// Cancels the running update (it frees itself when it ends) and releases the session, the
// picture and the sources. For releasing the editor.
void release_live_matte(Editor& ed);

#endif
