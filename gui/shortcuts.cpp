#include "gui/shortcuts.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>

#include "gui/lasso.h"
#include "gui/tool_group.h"

double brush_size_step(double size, int direction) {
  const double next = direction > 0 ? std::max(size + 1, std::round(size * 1.15))
                                    : std::min(size - 1, std::round(size / 1.15));
  return std::clamp(next, 1.0, 1024.0);
}

gboolean cb_shortcut_key_press(GtkWidget* window, GdkEventKey* event, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
  if (focus != nullptr && GTK_IS_ENTRY(focus)) return FALSE;
  const guint modifiers = gtk_accelerator_get_default_mod_mask();
  if ((event->state & modifiers & ~GDK_SHIFT_MASK) != 0) return FALSE;
  if (!ed->view.in_edit_mode) return FALSE;
  if (lasso_key(ed, event->keyval)) return TRUE;
  GtkAdjustment* brush = ed->view.brush_adjustment;
  switch (gdk_keyval_to_lower(event->keyval)) {
    case GDK_bracketleft:
    case GDK_bracketright:
      gtk_adjustment_set_value(brush, brush_size_step(gtk_adjustment_get_value(brush),
                                                      event->keyval == GDK_bracketright ? 1 : -1));
      return TRUE;
    case GDK_x:
      swap_foreground_background(ed);
      return TRUE;
    case GDK_e:
      choose_eraser(ed);
      return TRUE;
    case GDK_l:
      toggle_lasso(ed);
      return TRUE;
    default:
      return FALSE;
  }
}
