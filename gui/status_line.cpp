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
