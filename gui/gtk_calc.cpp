#include "gui/gtk_calc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "gui/dialog_run.h"
#include "gui/gtkquillane.h"
#include "gui/image_source.h"
#include "gui/modes.h"
#include "gui/quillane_opts.h"
#include "gui/view.h"
#include "matting/calc_input.h"
#include "matting/quillane.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"

CalcArgs* pass_calc_args = nullptr;
OptionArgs* pass_option_args = nullptr;
int ok_to_calc = 1;

namespace {

bool calc_running = false;
gint64 last_refusal = 0;    // monotonic time of the last refusal message
guint refusal_message = 0;  // status-bar message id of the last refusal, 0 when none

GThread* create_joinable_thread(GThreadFunc func, gpointer data, GError** error) {
  return g_thread_try_new("matte", func, data, error);
}

void release_inputs(TIFF_img* image, double** mask, double** value) {
  free_TIFF(image);
  free_img_t(mask);
  free_img_t(value);
  g_free(image);
}

void stop_progress(CalcArgs* args) {
  if (args->progress_timer != 0) g_source_remove(args->progress_timer);
  args->progress_timer = 0;
  if (args->progress_bar != nullptr) gtk_widget_destroy(args->progress_bar);
  args->progress_bar = nullptr;
}

}  // namespace

GThread* (*calc_thread_create)(GThreadFunc, gpointer, GError**) = create_joinable_thread;
double calc_memory_budget = 0;

double calc_memory_estimate(double unknowns) {
  return 5000.0 * unknowns * std::pow(std::max(unknowns / 4.3e5, 1.0), 0.2);
}

namespace {

double memory_budget() {
  if (calc_memory_budget > 0) return calc_memory_budget;
  long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  return pages > 0 && page > 0 ? 0.8 * double(pages) * double(page) : 8e9;
}

// The coarsest level is solved for every free pixel; finer levels only in the band the trimap
// leaves, so the coarsest level decides what the solver needs. When that is more than the
// computer can give, the calculation would take very long or be killed with the editor and
// the user's unsaved strokes: ask first. True to go on.
bool confirm_memory(GtkWidget* parent, double** mask, int w, int h, const OptionArgs& opts) {
  double free_pixels = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) free_pixels += mask[y][x] == 0.0;
  int levels = usable_levels(w, h, std::max(opts.levels_num, 1), opts.window_radius);
  double unknowns = free_pixels / std::pow(4.0, levels - 1);
  double need = calc_memory_estimate(unknowns), budget = memory_budget();
  if (need <= budget) return true;

  GtkWidget* top = gtk_widget_get_toplevel(parent);
  GtkWidget* ask = gtk_message_dialog_new(
      GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr,
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE,
      "This calculation solves for about %.1f million pixels and may need about %.0f GB of "
      "memory; this computer can give about %.0f GB.\n\n"
      "It may take very long, or fail. Down scale the image more often in the options, paint "
      "more strokes, or calculate a smaller region.\n\nCalculate anyway?",
      unknowns / 1e6, need / 1e9, budget / 1e9);
  gtk_window_set_title(GTK_WINDOW(ask), "Large calculation");
  gtk_dialog_add_buttons(GTK_DIALOG(ask), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL,
                         "Calculate _anyway", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(ask), GTK_RESPONSE_CANCEL);
  gint answer = run_dialog(GTK_DIALOG(ask));
  gtk_widget_destroy(ask);
  return answer == GTK_RESPONSE_ACCEPT;
}

}  // namespace

bool calculation_running() {
  return calc_running;
}

bool refusal_recently_shown() {
  return last_refusal != 0 && g_get_monotonic_time() - last_refusal < 3 * G_USEC_PER_SEC;
}

bool refuse_while_calculating() {
  if (!calc_running) return false;
  last_refusal = g_get_monotonic_time();
  gtk_statusbar_pop(GTK_STATUSBAR(status_bar), STATUS_MESSAGE);
  refusal_message = gtk_statusbar_push(
      GTK_STATUSBAR(status_bar), STATUS_MESSAGE,
      "Calculating: wait for the matte before changing strokes, region or image.");
  return true;
}

void calc_opts_set() {
  pass_calc_args->levels_num = pass_option_args->levels_num;
  pass_calc_args->active_levels_num = pass_option_args->active_levels_num;
  pass_calc_args->window_radius = pass_option_args->window_radius;
  pass_calc_args->softness = pass_option_args->softness;
  pass_calc_args->threshold = pass_option_args->threshold;
}

gboolean update_progress(gpointer progress_bar) {
  gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress_bar));
  return TRUE;
}

void cb_calc(GtkWidget*, gpointer tb) {
  if (refuse_while_calculating()) return;
  int W = gdk_pixbuf_get_width(pixbuf_image);
  int H = gdk_pixbuf_get_height(pixbuf_image);
  GtkToolItem* toggle = toolbar_item(GTK_WIDGET(tb), 0);
  cairo_surface_flush(surf_layer);

  CalcRegion region = {0, 0, W, H};
  if (calc_ROI_is_set) {
    region = {x_img_ROI, y_img_ROI, w_img_ROI, h_img_ROI};
    bool inside = clamp_calc_region(&region, W, H);
    if (!inside) {
      error_message_dialog(GTK_WIDGET(toggle),
                           "The calculation region lies outside the image.\n"
                           "Drag a new region over the image in view mode, or turn off\n"
                           "\"Calculate From Selection\" in the Edit menu.");
      return;
    }
    x_img_ROI = region.x;
    y_img_ROI = region.y;
    w_img_ROI = region.w;
    h_img_ROI = region.h;
  } else {
    x_img_ROI = y_img_ROI = 0;
    w_img_ROI = W;
    h_img_ROI = H;
  }
  note_region_image(W, H);

  TIFF_img* image = static_cast<TIFF_img*>(g_malloc0(sizeof(TIFF_img)));
  double** mask = nullptr;
  double** value = nullptr;
  int read = read_calc_input(
      gdk_pixbuf_get_pixels(pixbuf_image), gdk_pixbuf_get_rowstride(pixbuf_image),
      gdk_pixbuf_get_n_channels(pixbuf_image), cairo_image_surface_get_data(surf_layer),
      cairo_image_surface_get_stride(surf_layer), region, image, &mask, &value);
  if (read != CALC_INPUT_OK) {
    g_free(image);
    return;
  }

  ok_to_calc = 1;
  gtk_options_dialog_open(nullptr, pass_option_args);
  if (ok_to_calc != 0 &&
      !confirm_memory(GTK_WIDGET(toggle), mask, region.w, region.h, *pass_option_args))
    ok_to_calc = 0;

  CalcArgs* args = pass_calc_args;
  GtkWidget* bar = gtk_progress_bar_new();
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), "C A L C U L A T I N G");
  gtk_box_pack_start(GTK_BOX(status_bar), bar, FALSE, FALSE, 0);
  gtk_widget_show(bar);
  args->progress_bar = bar;
  args->progress_timer = g_timeout_add(100, update_progress, bar);

  if (ok_to_calc == 0) {
    stop_progress(args);
    release_inputs(image, mask, value);
    return;
  }

  calc_opts_set();
  args->image = image;
  args->stroke_mask = mask;
  args->stroke_value = value;
  args->alpha_img = static_cast<TIFF_img*>(g_malloc0(sizeof(TIFF_img)));
  args->mode_button = toggle;
  args->status = -3;
  ok_to_calc = 0;
  calc_running = true;

  GError* error = nullptr;
  GThread* worker = calc_thread_create(winQuillaneMain, args, &error);
  if (worker == nullptr) {
    calc_running = false;
    ok_to_calc = 1;
    stop_progress(args);
    release_inputs(image, mask, value);
    g_free(args->alpha_img);
    args->image = args->alpha_img = nullptr;
    gchar* text = g_strdup_printf("The calculation could not be started: %s",
                                  error != nullptr ? error->message : "unknown error");
    error_message_dialog(GTK_WIDGET(toggle), text);
    g_free(text);
    if (error != nullptr) g_error_free(error);
  }
  // The handle is not kept: the worker hands itself to thread_done().
}

gpointer winQuillaneMain(gpointer data) {
  CalcArgs* args = static_cast<CalcArgs*>(data);
  CalcOptions opts = {args->levels_num, args->active_levels_num, args->softness, args->threshold,
                      args->window_radius};
  args->status =
      calculate_matte(args->image, args->stroke_mask, args->stroke_value, opts, args->alpha_img);
  g_idle_add(thread_done, g_thread_self());
  return nullptr;
}

gboolean thread_done(gpointer thread) {
  gdk_threads_enter();
  g_thread_join(static_cast<GThread*>(thread));
  ok_to_calc = 1;
  calc_running = false;
  // The refusal no longer holds; a message that replaced it meanwhile stays.
  if (refusal_message != 0)
    gtk_statusbar_remove(GTK_STATUSBAR(status_bar), STATUS_MESSAGE, refusal_message);
  refusal_message = 0;
  last_refusal = 0;
  g_source_remove(pass_calc_args->progress_timer);
  pass_calc_args->progress_timer = 0;
  setup_results();
  gdk_threads_leave();
  return FALSE;
}

void setup_results() {
  CalcArgs* args = pass_calc_args;
  int W = gdk_pixbuf_get_width(pixbuf_image);
  int H = gdk_pixbuf_get_height(pixbuf_image);
  if (!calc_ROI_is_set) {
    x_img_ROI = y_img_ROI = 0;
    w_img_ROI = W;
    h_img_ROI = H;
    note_region_image(W, H);
  }
  stop_progress(args);

  const char* message = solver_status_message(args->status);
  if (message != nullptr) error_message_dialog(GTK_WIDGET(args->mode_button), message);

  // Colours come from the image on show, alpha from the matte inside the region, 0 outside.
  const TIFF_img* matte = args->alpha_img;
  const guchar* src = gdk_pixbuf_get_pixels(pixbuf_image);
  int src_stride = gdk_pixbuf_get_rowstride(pixbuf_image);
  int src_channels = gdk_pixbuf_get_n_channels(pixbuf_image);
  guchar* dst = gdk_pixbuf_get_pixels(pixbuf_alpha);
  int dst_stride = gdk_pixbuf_get_rowstride(pixbuf_alpha);
  for (int y = 0; y < H; ++y) {
    const guchar* s = src + static_cast<size_t>(y) * src_stride;
    guchar* d = dst + static_cast<size_t>(y) * dst_stride;
    int yr = y - y_img_ROI;
    for (int x = 0; x < W; ++x, s += src_channels, d += 4) {
      int xr = x - x_img_ROI;
      bool inside = xr >= 0 && xr < w_img_ROI && yr >= 0 && yr < h_img_ROI && xr < matte->width &&
                    yr < matte->height;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = inside ? matte->plane[yr][xr] : 0;
    }
  }
  invalidate_image_source();

  if (drawing_area->window != nullptr) gdk_window_set_cursor(drawing_area->window, nullptr);
  free_TIFF(args->alpha_img);
  g_free(args->alpha_img);
  g_free(args->image);
  args->alpha_img = args->image = nullptr;

  GtkToggleToolButton* toggle = GTK_TOGGLE_TOOL_BUTTON(args->mode_button);
  if (gtk_toggle_tool_button_get_active(toggle))
    cb_toggle_mode(GTK_WIDGET(toggle), toolbar);  // already in view mode: show the new matte
  else
    gtk_toggle_tool_button_set_active(toggle, TRUE);
}
