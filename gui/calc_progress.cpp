#include "gui/calc_progress.h"

#include "gui/gtk_calc.h"
#include "gui/layout_report.h"

ProgressLook progress_look(const CalcProgress& progress) {
  std::string text = calc_progress_text(progress);
  if (text.empty()) return {kCalculatingText, -1};
  return {text, progress.fraction >= 0 ? std::min(progress.fraction, 1.0) : -1};
}

gboolean update_progress(gpointer editor) {
  Calculation* calc = &static_cast<Editor*>(editor)->calc;
  if (calc->pass_calc_args == nullptr) return TRUE;
  ProgressLook look = progress_look(calc->pass_calc_args->control.progress());
  GtkProgressBar* bar = GTK_PROGRESS_BAR(calc->progress.progress_bar);
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
  CalcProgressView* p = static_cast<CalcProgressView*>(data);
  if (p->progress_timer != 0) g_source_remove(p->progress_timer);
  p->progress_timer = 0;
  p->progress_bar = nullptr;
}

}  // namespace

void show_calc_progress(Editor* ed) {
  CalcProgressView* p = &ed->calc.progress;
  GtkBox* status_bar = GTK_BOX(ed->view.status_bar);
  GtkWidget* bar = gtk_progress_bar_new();
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), kCalculatingText);
  // Room for "level 2 of 3 · building the Laplacian · 40 %".
  gtk_widget_set_size_request(bar, 320, -1);
  gtk_box_pack_start(status_bar, bar, FALSE, FALSE, 0);
  GtkWidget* cancel = gtk_button_new_from_stock(GTK_STOCK_CANCEL);
  gtk_widget_set_tooltip_text(cancel, "Stop the calculation (Escape)");
  gtk_box_pack_start(status_bar, cancel, FALSE, FALSE, 0);
  g_signal_connect(cancel, "clicked", G_CALLBACK(cb_cancel_calc), ed);
  g_signal_connect(bar, "destroy", G_CALLBACK(bar_destroyed), p);
  g_signal_connect(cancel, "destroy", G_CALLBACK(gtk_widget_destroyed), &p->cancel_button);
  gtk_widget_show(bar);
  gtk_widget_show(cancel);
  p->progress_bar = bar;
  p->cancel_button = cancel;
  p->progress_timer = g_timeout_add(100, update_progress, ed);
  report_layout_later("cancel", cancel);
}

void hide_calc_progress(Editor* ed) {
  CalcProgressView* p = &ed->calc.progress;
  for (GtkWidget* w : {p->progress_bar, p->cancel_button})
    if (w != nullptr) gtk_widget_destroy(w);
  if (p->progress_timer != 0) g_source_remove(p->progress_timer);
  p->progress_timer = 0;
}
