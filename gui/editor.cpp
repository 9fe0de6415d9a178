#include "gui/editor.h"

#include "gui/status_line.h"

namespace {

const char kEditorKey[] = "quillane-editor";

}  // namespace

Document* document_to_change(Editor* ed, bool quiet) {
  if (!ed->calc.running()) return &ed->doc_;
  if (!quiet)
    show_refusal(ed->view.status_bar, &ed->view.said,
                 "Calculating: wait for the matte, or cancel it, before opening a file or "
                 "changing the region.");
  return nullptr;
}

Editor* editor_of(GtkWidget* widget) {
  GtkWidget* top = widget != nullptr ? gtk_widget_get_toplevel(widget) : nullptr;
  while (top != nullptr && GTK_IS_WINDOW(top)) {
    gpointer ed = g_object_get_data(G_OBJECT(top), kEditorKey);
    if (ed != nullptr) return static_cast<Editor*>(ed);
    GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(top));
    top = parent != nullptr ? GTK_WIDGET(parent) : nullptr;
  }
  return nullptr;
}

void set_editor_of_window(GtkWidget* window, Editor* ed) {
  g_object_set_data(G_OBJECT(window), kEditorKey, ed);
}
