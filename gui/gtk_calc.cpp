#include "gui/gtk_calc.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include <unistd.h>

#include "gui/calc_progress.h"
#include "gui/calc_slot.h"
#include "gui/dialog_run.h"
#include "gui/image_source.h"
#include "gui/layer_state.h"
#include "gui/live_matte.h"
#include "gui/matte_write.h"
#include "gui/memory_budget.h"
#include "gui/modes.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "gui/status_line.h"
#include "matting/calc_plan.h"
#include "matting/matte_session.h"
#include "matting/pyramid.h"
#include "matting/quillane.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"

namespace {

void release_inputs(TIFF_img* image, double** mask, double** value) {
  free_TIFF(image);
  free_img_t(mask);
  free_img_t(value);
  g_free(image);
}

// Frees a request whose worker has been joined (or never started) and what it still holds.
void free_request(CalcArgs* args) {
  if (args->alpha_img != nullptr) free_TIFF(args->alpha_img);
  g_free(args->alpha_img);
  g_free(args->image);  // the record; the worker released its planes
  if (args->source != nullptr) g_object_unref(args->source);
  delete args;
}

// The editor lets go of the current request: no progress, commands allowed again.
void forget_current(Editor* ed) {
  if (ed->calc.pass_calc_args != nullptr) hide_calc_progress(ed);
  ed->calc.pass_calc_args = nullptr;
  // The refusal no longer holds; a message that replaced it meanwhile stays.
  withdraw_refusal(ed->view.status_bar, &ed->view.said);
}

// Asks the current worker to stop and leaves it to free itself when it ends.
void abandon_current(Editor* ed) {
  CalcArgs* args = ed->calc.pass_calc_args;
  if (args == nullptr) return;
  args->control.request_cancel();
  args->abandoned = true;
  forget_current(ed);
  if (args->waiting) {  // never started: no worker will free it
    release_inputs(args->image, args->stroke_mask, args->stroke_value);
    args->image = nullptr;
    free_request(args);
  }
}

void forget_worker(Calculation* calc, CalcArgs* args) {
  auto& w = calc->workers;
  w.erase(std::remove(w.begin(), w.end(), args), w.end());
}

std::string duration(double seconds) {
  char text[32];
  if (seconds < 90)
    std::snprintf(text, sizeof text, "about %.0f s", std::max(seconds, 1.0));
  else
    std::snprintf(text, sizeof text, "about %.0f min", seconds / 60);
  return text;
}

enum { RESPONSE_AUTO_LEVELS = 1 };

// The coarsest level is solved for every free pixel; finer levels only in the band the trimap
// leaves, so the coarsest level decides what the solver needs. When that is more than the
// computer can give, the calculation would take very long or fail: ask first, and offer the
// automatic levels. In mask, value: the calculation's strokes. True to go on; in-out record:
// auto_levels set when they were chosen.
bool confirm_memory(GtkWidget* parent, double budget, double** mask, double** value, int w, int h,
                    OptionArgs* record) {
  FreePixels free_pixels;
  try {
    free_pixels = count_free_pixels(mask, value, w, h);
  } catch (const std::bad_alloc&) {  // no room to look at the regions: assume the costlier
    free_pixels.count = free_pixels.mixed = count_unknown_pixels(mask, w, h);
  }
  const CalcOptions& chosen = record->options;
  const CalcEstimate need = estimate_calculation(w, h, free_pixels, chosen);
  // Over several levels the coarsest, solved for every free pixel, is what the figure means.
  double unknowns = free_pixels.count;
  if (chosen.auto_levels == 0) {
    const int levels = usable_levels(w, h, std::max(chosen.levels_num, 1), chosen.window_radius);
    unknowns /= std::pow(4.0, levels - 1);
  }
  if (need.bytes <= budget) return true;

  CalcOptions automatic = chosen;
  automatic.auto_levels = 1;
  CalcEstimate fast = estimate_calculation(w, h, free_pixels, automatic);
  GtkWidget* top = gtk_widget_get_toplevel(parent);
  GtkWidget* ask = gtk_message_dialog_new(
      GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr,
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE,
      "This calculation solves for about %.1f million pixels and may need about %s of "
      "memory; this computer can give about %s.\n\n"
      "It may take very long, or fail. %s",
      unknowns / 1e6, memory_amount(need.bytes).c_str(), memory_amount(budget).c_str(),
      chosen.auto_levels != 0
          ? "Paint more strokes, or calculate a smaller region.\n\nCalculate anyway?"
          : "Automatic levels calculate coarse to fine and stay close to the full-resolution "
            "matte.");
  gtk_window_set_title(GTK_WINDOW(ask), "Large calculation");
  if (chosen.auto_levels != 0) {
    gtk_dialog_add_buttons(GTK_DIALOG(ask), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL,
                           "Calculate _anyway", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(ask), GTK_RESPONSE_CANCEL);
  } else {
    std::string label = "Calculate with automatic levels\n (" + duration(fast.seconds) + ")";
    gtk_dialog_add_buttons(GTK_DIALOG(ask), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL,
                           "Calculate at full resolution anyway", GTK_RESPONSE_ACCEPT,
                           label.c_str(), RESPONSE_AUTO_LEVELS, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(ask), RESPONSE_AUTO_LEVELS);
  }
  gint answer = run_dialog(GTK_DIALOG(ask));
  gtk_widget_destroy(ask);
  if (answer == RESPONSE_AUTO_LEVELS) record->options.auto_levels = 1;
  return answer == GTK_RESPONSE_ACCEPT || answer == RESPONSE_AUTO_LEVELS;
}

// The worker's calculation with the live session (same options, automatic levels): its
// update gives the matte a calculation from scratch gives, from the work it kept. Releases the
// inputs and rings the bell as calculate_matte() does. Returns the status.
int update_session(CalcArgs* args) {
  int status =
      args->session->update(args->stroke_mask, args->stroke_value, MatteRequest(), &args->control);
  try {
    if (status == 0 && !args->session->copy_matte(args->alpha_img)) status = -3;
  } catch (const std::bad_alloc&) {
    status = -1;  // UMFPACK_ERROR_out_of_memory
  }
  free_TIFF(args->image);
  free_img_t(args->stroke_mask);
  free_img_t(args->stroke_value);
  std::fputc('\a', stdout);
  std::fflush(stdout);
  return status;
}

// Why nothing can be calculated when every pixel is painted, with a hint for the editor.
std::string nothing_unknown_text(bool in_region) {
  return std::string(calc_nothing_unknown_message) + ".\nStrokes cover every pixel of the " +
         (in_region ? "region" : "image") +
         ", so the matte is already decided everywhere.\n"
         "A trimap or the photograph itself opened as layer paints every pixel: erase the "
         "strokes\nwhere the matte is to be calculated, or open a layer that leaves them "
         "transparent.";
}

std::string region_too_small_text(const CalcRegion& region, int window_radius, bool in_region) {
  std::string text = "Cannot calculate: " + calc_region_size_message(region, window_radius) + ".";
  if (in_region) text += "\nDrag a larger region in view mode.";
  if (window_radius > 1) text += "\nOr choose a smaller window size in the options.";
  return text;
}

}  // namespace

void calc_opts_set(CalcArgs* args, const OptionArgs* record) {
  args->options = record->options;
}

void cancel_calculation(Editor* ed) {
  if (!ed->calc.running()) return;
  abandon_current(ed);
  ed->calc.cancelled_message =
      show_status_message(ed->view.status_bar, &ed->view.said, "Calculation cancelled");
}

void release_calculations(Editor* ed) {
  cancel_calculation(ed);
  // A worker still running frees its own request when it ends.
  for (CalcArgs* args : ed->calc.workers) args->editor = nullptr;
  ed->calc.workers.clear();
  delete ed->calc.pass_option_args;
  ed->calc.pass_option_args = nullptr;
}

void cb_cancel_calc(GtkWidget*, gpointer editor) {
  cancel_calculation(static_cast<Editor*>(editor));
}

gboolean cb_calc_key_press(GtkWidget*, GdkEventKey* event, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  if (event->keyval != GDK_Escape || !ed->calc.running()) return FALSE;
  cancel_calculation(ed);
  return TRUE;
}

void cb_calc(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  Calculation* calc = &ed->calc;
  const Document& doc = ed->doc();
  // Colours come from the opaque image whatever the mode; the matte is delivered beside it.
  GdkPixbuf* source = doc.pixbuf_no_alpha;
  int W = gdk_pixbuf_get_width(source);
  int H = gdk_pixbuf_get_height(source);
  GtkWidget* parent = ed->view.main_window;
  cairo_surface_t* surf_layer = ed->strokes.surf_layer;
  cairo_surface_flush(surf_layer);

  const bool in_region = doc.calc_ROI_is_set != 0;
  CalcRegion region = {0, 0, W, H};
  if (in_region) {
    region = {doc.x_img_ROI, doc.y_img_ROI, doc.w_img_ROI, doc.h_img_ROI};
    bool inside = clamp_calc_region(&region, W, H);
    if (!inside) {
      error_message_dialog(parent,
                           "The calculation region lies outside the image.\n"
                           "Drag a new region over the image in view mode, or turn off\n"
                           "\"Calculate From Selection\" in the Edit menu.");
      return;
    }
  }
  // A running calculation's region is this one already: the document keeps it meanwhile.
  if (Document* changed = document_to_change(ed, true)) {
    changed->x_img_ROI = region.x;
    changed->y_img_ROI = region.y;
    changed->w_img_ROI = region.w;
    changed->h_img_ROI = region.h;
    note_region_image(changed, W, H);
  }

  TIFF_img* image = static_cast<TIFF_img*>(g_malloc0(sizeof(TIFF_img)));
  double** mask = nullptr;
  double** value = nullptr;
  int read = CALC_INPUT_OK;
  try {
    // Copies of a large image may not fit: that ends this command, not the editor.
    AllocationScope scope;
    read =
        read_calc_input(gdk_pixbuf_get_pixels(source), gdk_pixbuf_get_rowstride(source),
                        gdk_pixbuf_get_n_channels(source), cairo_image_surface_get_data(surf_layer),
                        cairo_image_surface_get_stride(surf_layer), region, image, &mask, &value);
  } catch (const std::bad_alloc&) {
    g_free(image);
    error_message_dialog(parent, solver_status_message(-1));
    return;
  }
  if (read != CALC_INPUT_OK) {
    g_free(image);
    if (read & CALC_INPUT_NOTHING_UNKNOWN)
      error_message_dialog(parent, nothing_unknown_text(in_region).c_str());
    return;
  }
  uint64_t strokes = layer_fingerprint(ed->strokes, region);

  gtk_options_dialog_open(nullptr, ed);
  OptionArgs* record = calc->pass_option_args;
  bool go = calc->ok_to_calc != 0;
  if (go && !calc_region_fits_window(region, record->options.window_radius)) {
    error_message_dialog(
        parent, region_too_small_text(region, record->options.window_radius, in_region).c_str());
    go = false;
  }
  if (go && !confirm_memory(parent, memory_budget(*calc), mask, value, region.w, region.h, record))
    go = false;
  if (!go) {
    release_inputs(image, mask, value);
    return;
  }
  // The strokes survive a crash during the calculation.
  keep_strokes_for_recovery(ed);

  CalcArgs* args = new CalcArgs();
  calc_opts_set(args, record);
  args->image = image;
  args->stroke_mask = mask;
  args->stroke_value = value;
  args->alpha_img = static_cast<TIFF_img*>(g_malloc0(sizeof(TIFF_img)));
  args->status = -3;
  args->region = region;
  args->source = GDK_PIXBUF(g_object_ref(source));
  args->strokes = strokes;
  args->editor = ed;
  args->observer = calc->worker_observer;

  abandon_current(ed);  // Calculate during a calculation starts again with the current strokes
  calc->pass_calc_args = args;
  show_calc_progress(ed);
  if (calculation_thread_alive(*ed)) {
    // A cancelled worker may be inside a factorisation: never two at once.
    args->waiting = true;
    live_make_way(*ed);
    update_progress(ed);
    return;
  }
  start_calc_worker(ed, args);
}

void start_calc_worker(Editor* ed, CalcArgs* args) {
  Calculation* calc = &ed->calc;
  args->waiting = false;
  args->session = live_session_for(*ed, *args);
  calc->workers.push_back(args);
  GError* error = nullptr;
  GThread* worker = calc->thread_create != nullptr
                        ? calc->thread_create(winQuillaneMain, args, &error)
                        : g_thread_try_new("matte", winQuillaneMain, args, &error);
  if (worker == nullptr) {
    forget_worker(calc, args);
    forget_current(ed);
    release_inputs(args->image, args->stroke_mask, args->stroke_value);
    args->image = nullptr;
    free_request(args);
    gchar* text = g_strdup_printf("The calculation could not be started: %s",
                                  error != nullptr ? error->message : "unknown error");
    error_message_dialog(ed->view.main_window, text);
    g_free(text);
    if (error != nullptr) g_error_free(error);
  }
  // The handle is not kept: the worker hands itself to thread_done() with its request.
}

gpointer winQuillaneMain(gpointer data) {
  CalcArgs* args = static_cast<CalcArgs*>(data);
  MatteStageObserver* previous = set_matte_stage_observer(args->observer);
  if (args->session)
    args->status = update_session(args);
  else
    args->status = calculate_matte(args->image, args->stroke_mask, args->stroke_value,
                                   args->options, args->alpha_img, &args->control);
  set_matte_stage_observer(previous);
  args->thread = g_thread_self();
  g_idle_add(thread_done, args);
  return nullptr;
}

gboolean thread_done(gpointer data) {
  gdk_threads_enter();
  CalcArgs* args = static_cast<CalcArgs*>(data);
  g_thread_join(args->thread);
  Editor* ed = args->editor;
  if (ed != nullptr) {
    forget_worker(&ed->calc, args);
    if (args == ed->calc.pass_calc_args && !args->abandoned) {
      forget_current(ed);
      setup_results(ed, args);
      live_note_delivered(*ed, *args);
    }
  }
  free_request(args);
  if (ed != nullptr) calculation_thread_ended(*ed);
  gdk_threads_leave();
  return FALSE;
}

void setup_results(Editor* ed, CalcArgs* args) {
  View* view = &ed->view;
  Calculation* calc = &ed->calc;
  hide_calc_progress(ed);
  if (args->status == CALC_STATUS_CANCELLED) {
    calc->cancelled_message =
        show_status_message(view->status_bar, &view->said, "Calculation cancelled");
    return;
  }
  GtkWidget* parent = view->main_window;
  const char* message = solver_status_message(args->status);
  if (message != nullptr)
    error_message_dialog(parent, message);
  else if (args->status > 0)
    error_message_dialog(parent, solver_warning_message(args->status).c_str());

  // No matte (out of memory): the image and its alpha stay as they were.
  const TIFF_img* matte = args->alpha_img;
  if (matte == nullptr || matte->TIFF_type != 'g') return;
  Document* doc = document_to_change(ed, true);
  // Not the image of this matte any more (or, after the dialog, another calculation's).
  if (doc == nullptr || args->source != doc->pixbuf_no_alpha) return;

  // Colours come from the image, alpha from the matte inside the region, 0 outside.
  const CalcRegion& r = args->region;
  write_region_matte(doc->pixbuf_alpha, args->source, r, matte->plane[0], matte->width,
                     matte->height, matte->width);
  invalidate_image_source(view);
  // Said of the matte on show only: a newer matte takes them back.
  for (guint* said : {&calc->changed_message, &calc->cancelled_message}) {
    if (*said != 0 && view->status_bar != nullptr)
      gtk_statusbar_remove(GTK_STATUSBAR(view->status_bar), STATUS_MESSAGE, *said);
    *said = 0;
  }
  if (layer_fingerprint(ed->strokes, r) != args->strokes)
    calc->changed_message = show_status_message(view->status_bar, &view->said,
                                                "strokes changed since this calculation");

  GtkWidget* canvas = view->drawing_area;
  if (canvas->window != nullptr) gdk_window_set_cursor(canvas->window, nullptr);
  GtkToggleToolButton* toggle = GTK_TOGGLE_TOOL_BUTTON(view->tool[TOOL_MODE]);
  if (gtk_toggle_tool_button_get_active(toggle))
    cb_toggle_mode(GTK_WIDGET(toggle), ed);  // already in view mode: show the new matte
  else
    gtk_toggle_tool_button_set_active(toggle, TRUE);
}
