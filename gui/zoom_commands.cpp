#include "gui/zoom_commands.h"

#include <algorithm>
#include <cmath>

namespace {

// The wheel stops where other editors do, so that it comes back to exactly 100 %.
const double kSteps[] = {12.5, 100.0 / 6, 25, 100.0 / 3, 50, 200.0 / 3, 100, 150, 200, 300, 400};

double clamp_zoom(double percent) {
  return std::clamp(percent, kZoomLowest, kZoomHighest);
}

// Scrolls adjustment to value, clamped to a content of `size` pixels. The viewport learns the
// new content size only at its next allocation; the range is widened now so that the value
// holds until then (the allocation clamps it again the same way).
void scroll_to(GtkAdjustment* adjustment, double value, double size) {
  const double page = gtk_adjustment_get_page_size(adjustment);
  const double upper = std::max(size, page);
  gtk_adjustment_set_upper(adjustment, upper);
  gtk_adjustment_set_value(adjustment, std::clamp(value, 0.0, upper - page));
}

}  // namespace

double wheel_zoom_step(double percent, int direction) {
  // A little slack: the spin button shows one decimal, 16.7 stands for 16.67.
  const double slack = 0.06;
  if (direction > 0) {
    for (double step : kSteps)
      if (step > percent + slack) return step;
    return kZoomHighest;
  }
  for (int i = static_cast<int>(sizeof kSteps / sizeof kSteps[0]) - 1; i >= 0; --i)
    if (kSteps[i] < percent - slack) return kSteps[i];
  return kZoomLowest;
}

void zoom_around(Editor* ed, double percent, double x, double y) {
  View* view = &ed->view;
  GtkScrolledWindow* scrolled = GTK_SCROLLED_WINDOW(view->scrolled_window);
  GtkAdjustment* h = gtk_scrolled_window_get_hadjustment(scrolled);
  GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(scrolled);
  const double before = view->scale;
  // Where the point is on the screen (from the visible part's corner) and in the image.
  const double screen_x = x - gtk_adjustment_get_value(h);
  const double screen_y = y - gtk_adjustment_get_value(v);
  const double image_x = x / before, image_y = y / before;
  gtk_adjustment_set_value(view->zoom_adjustment, clamp_zoom(percent));
  if (view->scale == before) return;  // unchanged, or refused (said in the status bar)
  scroll_to(h, image_x * view->scale - screen_x, cairo_image_surface_get_width(view->win_surf));
  scroll_to(v, image_y * view->scale - screen_y, cairo_image_surface_get_height(view->win_surf));
  // The pointer has not moved, but the canvas under it has: the cursor goes with the point.
  view->cursor_x = image_x * view->scale;
  view->cursor_y = image_y * view->scale;
}

gboolean cb_canvas_scroll(GtkWidget*, GdkEventScroll* event, gpointer editor) {
  if (!(event->state & GDK_CONTROL_MASK)) return FALSE;
  if (event->direction != GDK_SCROLL_UP && event->direction != GDK_SCROLL_DOWN) return TRUE;
  Editor* ed = static_cast<Editor*>(editor);
  const double percent = gtk_adjustment_get_value(ed->view.zoom_adjustment);
  zoom_around(ed, wheel_zoom_step(percent, event->direction == GDK_SCROLL_UP ? 1 : -1), event->x,
              event->y);
  return TRUE;
}

void zoom_to_fit(Editor* ed) {
  View* view = &ed->view;
  GtkWidget* scrolled = view->scrolled_window;
  GtkWidget* viewport = gtk_bin_get_child(GTK_BIN(scrolled));
  // The room is the scrolled window's without scroll bars, inside the viewport's frame.
  int frame_x = 0, frame_y = 0;
  if (GTK_IS_VIEWPORT(viewport) &&
      gtk_viewport_get_shadow_type(GTK_VIEWPORT(viewport)) != GTK_SHADOW_NONE) {
    frame_x = viewport->style->xthickness;
    frame_y = viewport->style->ythickness;
  }
  const int border = static_cast<int>(gtk_container_get_border_width(GTK_CONTAINER(scrolled)));
  const double room_w = scrolled->allocation.width - 2 * (border + frame_x);
  const double room_h = scrolled->allocation.height - 2 * (border + frame_y);
  const double w = gdk_pixbuf_get_width(view->pixbuf_image);
  const double h = gdk_pixbuf_get_height(view->pixbuf_image);
  if (room_w < 1 || room_h < 1) return;  // not laid out yet
  // Rounded down to 0.1 %: the view surface, (int)(w * scale) wide, then fits.
  const double percent = std::floor(std::min(room_w / w, room_h / h) * 1000) / 10;
  gtk_adjustment_set_value(view->zoom_adjustment, clamp_zoom(percent));
}

void cb_zoom_to_fit(GtkWidget*, gpointer editor) {
  zoom_to_fit(static_cast<Editor*>(editor));
}
