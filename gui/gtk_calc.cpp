#include "gui/gtk_calc.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include <unistd.h>

#include "gui/calc_progress.h"
#include "gui/dialog_run.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/image_source.h"
#include "gui/layer_state.h"
#include "gui/modes.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "gui/view.h"
#include "matting/calc_plan.h"
#include "matting/pyramid.h"
#include "matting/quillane.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"

CalcArgs* pass_calc_args = nullptr;
OptionArgs* pass_option_args = nullptr;
int ok_to_calc = 1;
MatteStageObserver* calc_worker_observer = nullptr;
double calc_memory_budget = 0;

namespace {

int workers_alive = 0;        // started and not yet joined
gint64 last_refusal = 0;      // monotonic time of the last status message that must stay a while
guint refusal_message = 0;    // status-bar message id of the last refusal, 0 when none
guint changed_message = 0;    // id of "strokes changed since this calculation", 0 when none
guint cancelled_message = 0;  // id of "Calculation cancelled", 0 when none

GThread* create_joinable_thread(GThreadFunc func, gpointer data, GError** error) {
  return g_thread_try_new("matte", func, data, error);
}

void release_inputs(TIFF_img* image, double** mask, double** value) {
  free_TIFF(image);
  free_img_t(mask);
  free_img_t(value);
  g_free(image);
}

// Frees a request whose worker has been joined (or never started) and what it still holds.
void free_request(CalcArgs* args) {
  hide_calc_progress(args);
  if (args->alpha_img != nullptr) free_TIFF(args->alpha_img);
  g_free(args->alpha_img);
  g_free(args->image);  // the record; the worker released its planes
  if (args->source != nullptr) g_object_unref(args->source);
  delete args;
}

// The window lets go of the current request: no progress, commands allowed again.
void forget_current() {
  CalcArgs* args = pass_calc_args;
  pass_calc_args = nullptr;
  ok_to_calc = 1;
  if (args != nullptr) hide_calc_progress(args);
  // The refusal no longer holds; a message that replaced it meanwhile stays.
  if (refusal_message != 0 && status_bar != nullptr)
    gtk_statusbar_remove(GTK_STATUSBAR(status_bar), STATUS_MESSAGE, refusal_message);
  refusal_message = 0;
  last_refusal = 0;
}

// Asks the current worker to stop and leaves it to free itself when it ends.
void abandon_current() {
  CalcArgs* args = pass_calc_args;
  if (args == nullptr) return;
  args->control.request_cancel();
  args->abandoned = true;
  forget_current();
}

}  // namespace

GThread* (*calc_thread_create)(GThreadFunc, gpointer, GError**) = create_joinable_thread;

namespace {

double memory_budget() {
  if (calc_memory_budget > 0) return calc_memory_budget;
  long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  return pages > 0 && page > 0 ? 0.8 * double(pages) * double(page) : 8e9;
}

std::string amount(double bytes) {
  char text[32];
  if (bytes >= 1e9)
    std::snprintf(text, sizeof text, "%.0f GB", bytes / 1e9);
  else
    std::snprintf(text, sizeof text, "%.0f MB", std::max(bytes / 1e6, 1.0));
  return text;
}

std::string duration(double seconds) {
  char text[32];
  if (seconds < 90)
    std::snprintf(text, sizeof text, "about %.0f s", std::max(seconds, 1.0));
  else
    std::snprintf(text, sizeof text, "about %.0f min", seconds / 60);
  return text;
}

CalcOptions options_of(const OptionArgs& record) {
  CalcOptions opts = {record.levels_num, record.active_levels_num, record.softness,
                      record.threshold, record.window_radius};
  opts.auto_levels = record.auto_levels;
  opts.solver = record.solver;
  return opts;
}

enum { RESPONSE_AUTO_LEVELS = 1 };

// The coarsest level is solved for every free pixel; finer levels only in the band the trimap
// leaves, so the coarsest level decides what the solver needs. When that is more than the
// computer can give, the calculation would take very long or fail: ask first, and offer the
// automatic levels. True to go on; in-out record: auto_levels set when they were chosen.
bool confirm_memory(GtkWidget* parent, double** mask, int w, int h, OptionArgs* record) {
  const double free_pixels = count_unknown_pixels(mask, w, h);
  CalcOptions chosen = options_of(*record);
  const CalcEstimate need = estimate_calculation(w, h, free_pixels, chosen);
  // Over several levels the coarsest, solved for every free pixel, is what the figure means.
  double unknowns = free_pixels;
  if (chosen.auto_levels == 0) {
    const int levels = usable_levels(w, h, std::max(chosen.levels_num, 1), chosen.window_radius);
    unknowns /= std::pow(4.0, levels - 1);
  }
  double budget = memory_budget();
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
      unknowns / 1e6, amount(need.bytes).c_str(), amount(budget).c_str(),
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
  if (answer == RESPONSE_AUTO_LEVELS) record->auto_levels = 1;
  return answer == GTK_RESPONSE_ACCEPT || answer == RESPONSE_AUTO_LEVELS;
}

// Why nothing can be calculated when every pixel is painted, with a hint for the editor.
std::string nothing_unknown_text() {
  return std::string(calc_nothing_unknown_message) + ".\nStrokes cover every pixel of the " +
         (calc_ROI_is_set ? "region" : "image") +
         ", so the matte is already decided everywhere.\n"
         "A trimap or the photograph itself opened as layer paints every pixel: erase the "
         "strokes\nwhere the matte is to be calculated, or open a layer that leaves them "
         "transparent.";
}

std::string region_too_small_text(const CalcRegion& region, int window_radius) {
  std::string text = "Cannot calculate: " + calc_region_size_message(region, window_radius) + ".";
  if (calc_ROI_is_set) text += "\nDrag a larger region in view mode.";
  if (window_radius > 1) text += "\nOr choose a smaller window size in the options.";
  return text;
}

}  // namespace

bool calculation_running() {
  return pass_calc_args != nullptr;
}

int calc_workers_alive() {
  return workers_alive;
}

bool refusal_recently_shown() {
  return last_refusal != 0 && g_get_monotonic_time() - last_refusal < 3 * G_USEC_PER_SEC;
}

guint show_status_message(const char* text) {
  if (status_bar == nullptr) return 0;  // the window is gone
  last_refusal = g_get_monotonic_time();
  gtk_statusbar_pop(GTK_STATUSBAR(status_bar), STATUS_MESSAGE);
  return gtk_statusbar_push(GTK_STATUSBAR(status_bar), STATUS_MESSAGE, text);
}

bool refuse_while_calculating() {
  if (!calculation_running()) return false;
  last_refusal = g_get_monotonic_time();
  gtk_statusbar_pop(GTK_STATUSBAR(status_bar), STATUS_MESSAGE);
  refusal_message = gtk_statusbar_push(
      GTK_STATUSBAR(status_bar), STATUS_MESSAGE,
      "Calculating: wait for the matte, or cancel it, before opening a file or changing the "
      "region.");
  return true;
}

void calc_opts_set(CalcArgs* args) {
  args->levels_num = pass_option_args->levels_num;
  args->active_levels_num = pass_option_args->active_levels_num;
  args->window_radius = pass_option_args->window_radius;
  args->softness = pass_option_args->softness;
  args->threshold = pass_option_args->threshold;
  args->auto_levels = pass_option_args->auto_levels;
  args->solver = pass_option_args->solver;
}

void cancel_calculation() {
  if (!calculation_running()) return;
  abandon_current();
  cancelled_message = show_status_message("Calculation cancelled");
}

void cb_cancel_calc(GtkWidget*, gpointer) {
  cancel_calculation();
}

gboolean cb_calc_key_press(GtkWidget*, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_Escape || !calculation_running()) return FALSE;
  cancel_calculation();
  return TRUE;
}

void cb_calc(GtkWidget*, gpointer tb) {
  // Colours come from the opaque image whatever the mode; the matte is delivered beside it.
  GdkPixbuf* source = pixbuf_no_alpha;
  int W = gdk_pixbuf_get_width(source);
  int H = gdk_pixbuf_get_height(source);
  GtkToolItem* toggle = toolbar_item(GTK_WIDGET(tb), 0);
  GtkWidget* parent = GTK_WIDGET(toggle);
  cairo_surface_flush(surf_layer);

  CalcRegion region = {0, 0, W, H};
  if (calc_ROI_is_set) {
    region = {x_img_ROI, y_img_ROI, w_img_ROI, h_img_ROI};
    bool inside = clamp_calc_region(&region, W, H);
    if (!inside) {
      error_message_dialog(parent,
                           "The calculation region lies outside the image.\n"
                           "Drag a new region over the image in view mode, or turn off\n"
                           "\"Calculate From Selection\" in the Edit menu.");
      return;
    }
  }
  // A running calculation's region is the same: region changes are refused meanwhile.
  x_img_ROI = region.x;
  y_img_ROI = region.y;
  w_img_ROI = region.w;
  h_img_ROI = region.h;
  note_region_image(W, H);

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
      error_message_dialog(parent, nothing_unknown_text().c_str());
    return;
  }
  uint64_t strokes = layer_fingerprint(region);

  ok_to_calc = 1;
  gtk_options_dialog_open(nullptr, pass_option_args);
  bool go = ok_to_calc != 0;
  if (go && !calc_region_fits_window(region, pass_option_args->window_radius)) {
    error_message_dialog(parent,
                         region_too_small_text(region, pass_option_args->window_radius).c_str());
    go = false;
  }
  if (go && !confirm_memory(parent, mask, region.w, region.h, pass_option_args)) go = false;
  if (!go) {
    ok_to_calc = 0;
    release_inputs(image, mask, value);
    return;
  }
  // The strokes survive a crash during the calculation.
  write_recovery_file(opened_image_path(), surf_layer);

  CalcArgs* args = new CalcArgs();
  calc_opts_set(args);
  args->image = image;
  args->stroke_mask = mask;
  args->stroke_value = value;
  args->alpha_img = static_cast<TIFF_img*>(g_malloc0(sizeof(TIFF_img)));
  args->mode_button = toggle;
  args->status = -3;
  args->region = region;
  args->source = GDK_PIXBUF(g_object_ref(source));
  args->strokes = strokes;

  abandon_current();  // Calculate during a calculation starts again with the current strokes
  pass_calc_args = args;
  ok_to_calc = 0;
  show_calc_progress(args);
  ++workers_alive;
  GError* error = nullptr;
  GThread* worker = calc_thread_create(winQuillaneMain, args, &error);
  if (worker == nullptr) {
    --workers_alive;
    forget_current();
    release_inputs(image, mask, value);
    args->image = nullptr;
    free_request(args);
    gchar* text = g_strdup_printf("The calculation could not be started: %s",
                                  error != nullptr ? error->message : "unknown error");
    error_message_dialog(parent, text);
    g_free(text);
    if (error != nullptr) g_error_free(error);
  }
  // The handle is not kept: the worker hands itself to thread_done() with its request.
}

gpointer winQuillaneMain(gpointer data) {
  CalcArgs* args = static_cast<CalcArgs*>(data);
  MatteStageObserver* previous = set_matte_stage_observer(calc_worker_observer);
  CalcOptions opts = {args->levels_num, args->active_levels_num, args->softness, args->threshold,
                      args->window_radius};
  opts.auto_levels = args->auto_levels;
  opts.solver = args->solver;
  args->status = calculate_matte(args->image, args->stroke_mask, args->stroke_value, opts,
                                 args->alpha_img, &args->control);
  set_matte_stage_observer(previous);
  args->thread = g_thread_self();
  g_idle_add(thread_done, args);
  return nullptr;
}

gboolean thread_done(gpointer data) {
  gdk_threads_enter();
  CalcArgs* args = static_cast<CalcArgs*>(data);
  g_thread_join(args->thread);
  --workers_alive;
  if (args == pass_calc_args && !args->abandoned) {
    forget_current();
    setup_results(args);
  }
  free_request(args);
  gdk_threads_leave();
  return FALSE;
}

void setup_results(CalcArgs* args) {
  hide_calc_progress(args);
  if (args->status == CALC_STATUS_CANCELLED) {
    cancelled_message = show_status_message("Calculation cancelled");
    return;
  }
  GtkWidget* parent = GTK_WIDGET(args->mode_button);
  const char* message = solver_status_message(args->status);
  if (message != nullptr)
    error_message_dialog(parent, message);
  else if (args->status > 0)
    error_message_dialog(parent, solver_warning_message(args->status).c_str());

  // No matte (out of memory): the image and its alpha stay as they were.
  const TIFF_img* matte = args->alpha_img;
  if (matte == nullptr || matte->TIFF_type != 'g') return;
  if (args->source != pixbuf_no_alpha) return;  // not the image of this matte any more

  // Colours come from the image, alpha from the matte inside the region, 0 outside.
  const CalcRegion& r = args->region;
  const int W = gdk_pixbuf_get_width(pixbuf_alpha);
  const int H = gdk_pixbuf_get_height(pixbuf_alpha);
  const guchar* src = gdk_pixbuf_get_pixels(args->source);
  int src_stride = gdk_pixbuf_get_rowstride(args->source);
  int src_channels = gdk_pixbuf_get_n_channels(args->source);
  guchar* dst = gdk_pixbuf_get_pixels(pixbuf_alpha);
  int dst_stride = gdk_pixbuf_get_rowstride(pixbuf_alpha);
  for (int y = 0; y < H; ++y) {
    const guchar* s = src + static_cast<size_t>(y) * src_stride;
    guchar* d = dst + static_cast<size_t>(y) * dst_stride;
    int yr = y - r.y;
    for (int x = 0; x < W; ++x, s += src_channels, d += 4) {
      int xr = x - r.x;
      bool inside =
          xr >= 0 && xr < r.w && yr >= 0 && yr < r.h && xr < matte->width && yr < matte->height;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = inside ? matte->plane[yr][xr] : 0;
    }
  }
  invalidate_image_source();
  // Said of the matte on show only: a newer matte takes them back.
  for (guint* said : {&changed_message, &cancelled_message}) {
    if (*said != 0) gtk_statusbar_remove(GTK_STATUSBAR(status_bar), STATUS_MESSAGE, *said);
    *said = 0;
  }
  if (layer_fingerprint(r) != args->strokes)
    changed_message = show_status_message("strokes changed since this calculation");

  if (drawing_area->window != nullptr) gdk_window_set_cursor(drawing_area->window, nullptr);
  GtkToggleToolButton* toggle = GTK_TOGGLE_TOOL_BUTTON(args->mode_button);
  if (gtk_toggle_tool_button_get_active(toggle))
    cb_toggle_mode(GTK_WIDGET(toggle), toolbar);  // already in view mode: show the new matte
  else
    gtk_toggle_tool_button_set_active(toggle, TRUE);
}
