// The editor's state: one Editor per main window, made of records with one owner each, and
// passed to every handler as its user data. Everything here is used on the GTK main thread
// only; a calculation's worker sees none of it (it has its own CalcArgs, calc_request.h).
//
//   Document    the image, its matte and the calculation region; frozen while a calculation
//               runs (document_to_change() is the only way to change it)
//   Strokes     the stroke layer, its base and the stroke history; free to change at any time
//   Brush       the brush's size and colour, and the stroke being painted
//   ToolState   the pressed tool (brush or lasso) and the lasso outline being drawn
//   View        the window's widgets, the zoom, the view surface and what it shows
//   Calculation the options, the running request, its progress widgets, the worker list
//   LiveMatte   the live matte: its session, its running update, its state (live_matte.h)
//   MatteDisplay how the matte is shown: View > Show matte as and the overlay colour
//   Session     what the commands remember until the editor quits
#ifndef QUILLANE_GUI_EDITOR_H
#define QUILLANE_GUI_EDITOR_H

#include <cairo.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

#include "gui/calc_request.h"
#include "gui/live_matte.h"
#include "gui/matte_display.h"
#include "gui/status_line.h"
#include "gui/tool_state.h"
#include "gui/toolbar_items.h"
#include "matting/stage_profile.h"

// The image being matted. pixbuf_no_alpha: the opened image without alpha. pixbuf_alpha: the
// same image with an alpha channel, which receives the matte. The calculation region is in
// image pixels, not clamped (Calculate clamps it before use).
struct Document {
  GdkPixbuf* pixbuf_no_alpha = nullptr;
  GdkPixbuf* pixbuf_alpha = nullptr;
  gchar* opened_image = nullptr;  // absolute path of the image opened last, or null
  int calc_ROI_is_set = 0;        // "Calculate From Selection" is on
  int x_img_ROI = 0, y_img_ROI = 0, w_img_ROI = 0, h_img_ROI = 0;
  int region_image_width = 0, region_image_height = 0;  // the image the region was chosen for
};

// The stroke layer (ARGB32, one pixel per image pixel), the base that undo repaints before
// replaying strokes (null when none), and the stroke history: a list of stroke records
// (brush.h; g_malloc'ed, owned by their node), oldest first; current is the newest stroke in
// force, or null.
struct Strokes {
  cairo_surface_t* surf_layer = nullptr;
  GdkPixbuf* initialisinglayer = nullptr;
  GList* history = nullptr;
  GList* current = nullptr;
  uint64_t saved_fingerprint = 0;  // of the layer when last opened or saved; 0: never
};

// The brush: radius in image pixels (brush size / 2); colour in 0..1; alpha 1 for a painting
// brush, 0 for the eraser; the colour button's colour. Then the stroke in progress, window
// coordinates unless said otherwise.
struct Brush {
  double radius = 5.0;
  double red = 1.0, green = 1.0, blue = 1.0, alpha = 1.0;
  GdkColor color = {0, 32768, 32768, 32768};
  unsigned int his_type = 0;                // kind of the records made (0 = brush stroke)
  int finished_stroke = 1;                  // 1 while no stroke is in progress
  int stroke_idx = 8;                       // doubles in the current stroke record
  double prev_x = 0, prev_y = 0;            // previous point of the stroke
  double prev_true_x = 0, prev_true_y = 0;  // the same in storable (image) coordinates
};

// The window and what it shows. The widgets are built by quillane_create_main_window() and
// live as long as the window; main_window, drawing_area and status_bar become null when it
// goes, as do the progress widgets of Calculation. win_surf: the view surface, ARGB32 of the
// image's size times scale. pixbuf_image: whichever of the document's pixbufs is shown (never
// owns a reference). The selection is in window pixels, both corners included.
struct View {
  GtkWidget* main_window = nullptr;
  GtkWidget* drawing_area = nullptr;
  GtkWidget* toolbar = nullptr;
  GtkToolItem* tool[TOOL_COUNT] = {};
  GtkWidget* status_bar = nullptr;
  GtkWidget* scrolled_window = nullptr;
  GtkWidget* calc_roi_item = nullptr;     // the check item "Calculate _From Selection"
  GtkWidget* live_item = nullptr;         // the check item "Live matte" (View menu)
  GtkWidget* show_item[SHOW_COUNT] = {};  // the radio items of Show matte as (View menu)
  GtkAdjustment* zoom_adjustment = nullptr;
  GtkAdjustment* brush_adjustment = nullptr;
  GdkCursor* blank_cursor = nullptr;

  cairo_surface_t* win_surf = nullptr;
  GdkPixbuf* pixbuf_image = nullptr;
  double scale = 1.0;  // view pixels per image pixel (0.125 .. 4)
  int in_edit_mode = 1;
  double left_x = 0, top_y = 0, selection_w = 0, selection_h = 0;
  double cursor_x = -5.0, cursor_y = -5.0;      // pointer, for the brush cursor
  double prev_cursor_x = 0, prev_cursor_y = 0;  // cursor position at the last expose
  double m_button_x = 0, m_button_y = 0;        // last left-button press

  // A surface copy of pixbuf_image for repainting small areas (image_source.h), and below
  // 100 % the same already scaled to the zoom scaled_for.
  GdkPixbuf* source_pixbuf = nullptr;
  cairo_surface_t* source_surface = nullptr;
  cairo_surface_t* scaled_source = nullptr;
  double scaled_for = 0;
  // While the live matte is on: the image composed with its matte (matte_display.h), drawn in
  // place of pixbuf_image. Owned; null otherwise. Set through set_backdrop() (image_source.h),
  // which keeps its copy scaled to the zoom backdrop_scaled_for below 100 % in step.
  cairo_surface_t* backdrop = nullptr;
  cairo_surface_t* scaled_backdrop = nullptr;
  double backdrop_scaled_for = 0;
  StatusMessages said;          // what the status bar said last
  bool restoring_zoom = false;  // the zoom adjustment is being put back after a refusal
};

// The progress of the current calculation in the status bar.
struct CalcProgressView {
  GtkWidget* progress_bar = nullptr;   // pulses with "C A L C U L A T I N G"
  GtkWidget* stage_label = nullptr;    // the engine's report: level, stage and fraction
  GtkWidget* cancel_button = nullptr;  // "Cancel"
  guint progress_timer = 0;            // source id of the 100 ms timer, 0 when none
};

// Calculations. At most one request is current (pass_calc_args): its progress is shown and
// its result delivered. A cancelled request is forgotten at once and stays in `workers` until
// its worker has been joined.
struct Calculation {
  OptionArgs* pass_option_args = nullptr;  // the options of the next calculation (owned)
  CalcArgs* pass_calc_args = nullptr;      // the current request, or null
  int ok_to_calc = 1;                      // the options dialog's last answer: 1 OK, 0 not
  std::vector<CalcArgs*> workers;          // requests whose workers have not been joined
  CalcProgressView progress;
  guint changed_message = 0;    // id of "strokes changed since this calculation", 0 when none
  guint cancelled_message = 0;  // id of "Calculation cancelled", 0 when none

  // Memory the computer can give the editor, in bytes (memory_budget.h); 0 means 80 % of
  // its physical memory (or of ulimit -v). Calculate asks before a calculation that needs
  // more; Open refuses an image that needs more.
  double memory_budget = 0;
  // Starts the worker thread; null: g_thread_try_new(). Tests make the start fail with it.
  GThread* (*thread_create)(GThreadFunc func, gpointer data, GError** error) = nullptr;
  // Installed on every worker thread for its calculation (null: none), so that tests and
  // profiling can watch the engine's stages where they run.
  MatteStageObserver* worker_observer = nullptr;

  // True from the start of a worker until its result has been delivered or it was cancelled.
  bool running() const { return pass_calc_args != nullptr; }
  // Workers not yet joined: the current one and cancelled ones still finishing.
  int workers_alive() const { return static_cast<int>(workers.size()); }
};

// Remembered for the life of the program: the file dialogs' folders and names, the Save
// dialog's "Clean edge colours" (off at start; Copy follows it) and "Matte only (grey PNG)"
// (off at start; Copy in view mode follows it), and the recovery files this run wrote
// (recovery.h).
struct Session {
  gchar* open_folder = nullptr;
  gchar* save_folder = nullptr;
  gchar* layer_name = nullptr;  // path chosen last for the stroke layer, extension cut
  gchar* image_name = nullptr;  // path chosen last for the image
  bool clean_edges_wanted = false;
  bool matte_only_wanted = false;
  GSList* recovery_files = nullptr;   // written or restored by this run
  gchar* recovery_written = nullptr;  // written last ...
  uint64_t recovery_fingerprint = 0;  // ... holding the layer of this fingerprint
};

class Editor;

// The document to change, or null while a calculation runs: the running calculation's matte
// is placed by the image and the region it started with. Unless quiet, a refusal is said in
// the status bar. Every command that replaces the image, writes the matte or changes the
// region takes the document from here.
Document* document_to_change(Editor* ed, bool quiet = false);

class Editor {
 public:
  View view;
  Brush brush;
  ToolState tools;
  Strokes strokes;
  Calculation calc;
  LiveMatte live;
  MatteDisplay display;
  Session session;

  // The document, to read.
  const Document& doc() const { return doc_; }

 private:
  friend Document* document_to_change(Editor* ed, bool quiet);
  Document doc_;
};

// The editor of the window that widget is in, following dialogs to the window they are
// transient for; null when there is none.
Editor* editor_of(GtkWidget* widget);

// Makes widget, a main window, the window of ed for editor_of().
void set_editor_of_window(GtkWidget* window, Editor* ed);

#endif
