#include "gui/status_line.h"

void update_statusbar(const gchar* text, guint context_id, GtkWidget* bar) {
  gtk_statusbar_pop(GTK_STATUSBAR(bar), context_id);
  gtk_statusbar_push(GTK_STATUSBAR(bar), context_id, text);
}

guint show_status_message(GtkWidget* bar, StatusMessages* said, const char* text) {
  if (bar == nullptr) return 0;  // the window is gone
  said->shown_at = g_get_monotonic_time();
  gtk_statusbar_pop(GTK_STATUSBAR(bar), STATUS_MESSAGE);
  return gtk_statusbar_push(GTK_STATUSBAR(bar), STATUS_MESSAGE, text);
}

bool refusal_recently_shown(const StatusMessages& said) {
  return said.shown_at != 0 && g_get_monotonic_time() - said.shown_at < 3 * G_USEC_PER_SEC;
}

void show_refusal(GtkWidget* bar, StatusMessages* said, const char* text) {
  said->refusal = show_status_message(bar, said, text);
}

void withdraw_refusal(GtkWidget* bar, StatusMessages* said) {
  // A message that replaced the refusal meanwhile stays.
  if (said->refusal != 0 && bar != nullptr)
    gtk_statusbar_remove(GTK_STATUSBAR(bar), STATUS_MESSAGE, said->refusal);
  said->refusal = 0;
  said->shown_at = 0;
}

namespace {

// After every push and pop: the whole text on show as the bar's tooltip.
void cb_status_text_changed(GtkStatusbar* bar, guint, gchar*, gpointer label) {
  gtk_widget_set_tooltip_text(GTK_WIDGET(bar), gtk_label_get_text(GTK_LABEL(label)));
}

}  // namespace

void make_status_readable(GtkWidget* bar) {
  GList* children =
      gtk_container_get_children(GTK_CONTAINER(gtk_statusbar_get_message_area(GTK_STATUSBAR(bar))));
  GtkWidget* label = nullptr;
  for (GList* l = children; l != nullptr && label == nullptr; l = l->next)
    if (GTK_IS_LABEL(l->data)) label = GTK_WIDGET(l->data);
  g_list_free(children);
  if (label == nullptr) return;
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  g_signal_connect_after(bar, "text-pushed", G_CALLBACK(cb_status_text_changed), label);
  g_signal_connect_after(bar, "text-popped", G_CALLBACK(cb_status_text_changed), label);
}
