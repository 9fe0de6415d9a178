#include "gui/calc_progress.h"

#include "gui/calc_slot.h"
#include "gui/gtk_calc.h"
#include "gui/layout_report.h"
#include "matting/calc_control.h"

gboolean update_progress(gpointer editor) {
  Calculation* calc = &static_cast<Editor*>(editor)->calc;
  CalcProgressView* p = &calc->progress;
  gtk_progress_bar_pulse(GTK_PROGRESS_BAR(p->progress_bar));
  if (calc->pass_calc_args != nullptr && p->stage_label != nullptr) {
    const CalcArgs* args = calc->pass_calc_args;
    std::string text = args->waiting ? kWaitingText : calc_progress_text(args->control.progress());
    gtk_label_set_text(GTK_LABEL(p->stage_label), text.c_str());
  }
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
  gtk_widget_set_size_request(bar, 180, -1);
  gtk_box_pack_start(status_bar, bar, FALSE, FALSE, 0);
  // A fixed width, enough for "level 12 of 12 · building the Laplacian · 100 %", so that the
  // bar and the button stay where they are while the report changes.
  GtkWidget* stage = gtk_label_new("");
  gtk_label_set_width_chars(GTK_LABEL(stage), 38);
  gtk_misc_set_alignment(GTK_MISC(stage), 0.0, 0.5);
  gtk_box_pack_start(status_bar, stage, FALSE, FALSE, 6);
  GtkWidget* cancel = gtk_button_new_from_stock(GTK_STOCK_CANCEL);
  gtk_widget_set_tooltip_text(cancel, "Stop the calculation (Escape)");
  gtk_box_pack_start(status_bar, cancel, FALSE, FALSE, 0);
  g_signal_connect(cancel, "clicked", G_CALLBACK(cb_cancel_calc), ed);
  g_signal_connect(bar, "destroy", G_CALLBACK(bar_destroyed), p);
  g_signal_connect(stage, "destroy", G_CALLBACK(gtk_widget_destroyed), &p->stage_label);
  g_signal_connect(cancel, "destroy", G_CALLBACK(gtk_widget_destroyed), &p->cancel_button);
  gtk_widget_show(bar);
  gtk_widget_show(stage);
  gtk_widget_show(cancel);
  p->progress_bar = bar;
  p->stage_label = stage;
  p->cancel_button = cancel;
  p->progress_timer = g_timeout_add(100, update_progress, ed);
  report_layout_later("cancel", cancel);
}

void hide_calc_progress(Editor* ed) {
  CalcProgressView* p = &ed->calc.progress;
  for (GtkWidget* w : {p->progress_bar, p->stage_label, p->cancel_button})
    if (w != nullptr) gtk_widget_destroy(w);
  if (p->progress_timer != 0) g_source_remove(p->progress_timer);
  p->progress_timer = 0;
}
