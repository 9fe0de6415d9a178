#include "gui/calc_progress.h"

#include "gui/gtkquillane.h"
#include "gui/layout_report.h"

const char kCalculatingText[] = "C A L C U L A T I N G";

ProgressLook progress_look(const CalcProgress& progress) {
  std::string text = calc_progress_text(progress);
  if (text.empty()) return {kCalculatingText, -1};
  return {text, progress.fraction >= 0 ? std::min(progress.fraction, 1.0) : -1};
}

gboolean update_progress(gpointer data) {
  CalcArgs* args = static_cast<CalcArgs*>(data);
  ProgressLook look = progress_look(args->control.progress());
  GtkProgressBar* bar = GTK_PROGRESS_BAR(args->progress_bar);
  gtk_progress_bar_set_text(bar, look.text.c_str());
  if (look.fraction < 0)
    gtk_progress_bar_pulse(bar);
  else
    gtk_progress_bar_set_fraction(bar, look.fraction);
  return TRUE;
}

namespace {

// The bar goes with the window too: its timer must not outlive it.
void bar_destroyed(GtkWidget*, gpointer data) {
  CalcArgs* args = static_cast<CalcArgs*>(data);
  if (args->progress_timer != 0) g_source_remove(args->progress_timer);
  args->progress_timer = 0;
  args->progress_bar = nullptr;
}

void button_destroyed(GtkWidget*, gpointer data) {
  static_cast<CalcArgs*>(data)->cancel_button = nullptr;
}

}  // namespace

void show_calc_progress(CalcArgs* args) {
  GtkWidget* bar = gtk_progress_bar_new();
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), kCalculatingText);
  // Room for "level 2 of 3 · building the Laplacian · 40 %".
  gtk_widget_set_size_request(bar, 320, -1);
  gtk_box_pack_start(GTK_BOX(status_bar), bar, FALSE, FALSE, 0);
  GtkWidget* cancel = gtk_button_new_from_stock(GTK_STOCK_CANCEL);
  gtk_widget_set_tooltip_text(cancel, "Stop the calculation (Escape)");
  gtk_box_pack_start(GTK_BOX(status_bar), cancel, FALSE, FALSE, 0);
  g_signal_connect(cancel, "clicked", G_CALLBACK(cb_cancel_calc), nullptr);
  g_signal_connect(bar, "destroy", G_CALLBACK(bar_destroyed), args);
  g_signal_connect(cancel, "destroy", G_CALLBACK(button_destroyed), args);
  gtk_widget_show(bar);
  gtk_widget_show(cancel);
  args->progress_bar = bar;
  args->cancel_button = cancel;
  args->progress_timer = g_timeout_add(100, update_progress, args);
  report_layout_later("cancel", cancel);
}

void hide_calc_progress(CalcArgs* args) {
  if (args->progress_bar != nullptr) gtk_widget_destroy(args->progress_bar);
  if (args->cancel_button != nullptr) gtk_widget_destroy(args->cancel_button);
  if (args->progress_timer != 0) g_source_remove(args->progress_timer);
  args->progress_timer = 0;
}
