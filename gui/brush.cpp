#include "gui/brush.h"

#include <algorithm>
#include <cmath>

#include "gui/gtk_calc.h"
#include "gui/gtkquillane.h"
#include "gui/image_source.h"
#include "gui/modes.h"
#include "gui/view.h"

void free_stroke_list(GList* list) {
  g_list_free_full(list, g_free);
}

void clear_history() {
  free_stroke_list(history);
  history = nullptr;
  current = nullptr;
  finished_stroke = 1;
}

void manage_glist_mbutton_press() {
  stroke_idx = 8;
  if (current == nullptr) {
    free_stroke_list(history);
    history = nullptr;
  } else if (current->next != nullptr) {
    GList* tail = current->next;
    tail->prev = nullptr;
    current->next = nullptr;
    free_stroke_list(tail);
  }
  double* record = static_cast<double*>(g_malloc(8 * sizeof(double)));
  history = g_list_append(history, record);
  current = g_list_last(history);
  record[0] = his_type;
  record[1] = radius;
  record[2] = scale;
  record[3] = red;
  record[4] = green;
  record[5] = blue;
  record[6] = alpha;
  record[7] = stroke_idx;
}

namespace {

// Grows the current record by one point (x, y).
void append_point(double x, double y) {
  stroke_idx += 2;
  double* record = static_cast<double*>(current->data);
  record[7] = stroke_idx;
  record = static_cast<double*>(g_realloc_n(record, stroke_idx, sizeof(double)));
  current->data = record;
  record[stroke_idx - 2] = x;
  record[stroke_idx - 1] = y;
}

}  // namespace

void standard_draw(cairo_t* cr, int x, int y, double* x1, double* y1, double* x2, double* y2) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 2 * radius);
  double cx, cy, px, py;
  get_4_storable_coords(x, y, &cx, &cy, &px, &py);
  cairo_move_to(cr, px, py);
  cairo_line_to(cr, cx, cy);
  cairo_path_extents(cr, x1, y1, x2, y2);
  cairo_stroke(cr);
}

void draw_line(GtkWidget* widget, double x, double y) {
  double x1, y1, x2, y2;

  cairo_t* cr = cairo_create(surf_layer);
  if (alpha == 0.0) cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
  cairo_set_source_rgb(cr, red, green, blue);
  standard_draw(cr, static_cast<int>(x), static_cast<int>(y), &x1, &y1, &x2, &y2);
  cairo_destroy(cr);

  cr = cairo_create(win_surf);
  cairo_scale(cr, scale, scale);
  if (alpha == 0.0) {
    set_source_image(cr);  // the eraser shows the image again
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  } else {
    cairo_set_source_rgb(cr, red, green, blue);
  }
  standard_draw(cr, static_cast<int>(x), static_cast<int>(y), &x1, &y1, &x2, &y2);
  cairo_destroy(cr);

  prev_x = x;
  prev_y = y;

  x1 -= radius;
  y1 -= radius;
  x2 = x2 + 1 + radius;
  y2 = y2 + 1 + radius;
  gtk_widget_queue_draw_area(widget, static_cast<int>(static_cast<int>(x1) * scale),
                             static_cast<int>(static_cast<int>(y1) * scale),
                             static_cast<int>(static_cast<int>(x2 - x1) * scale),
                             static_cast<int>(static_cast<int>(y2 - y1) * scale));

  get_storable_coords(x, y, &prev_true_x, &prev_true_y);
  append_point(prev_true_x, prev_true_y);
}

gboolean button_press_event(GtkWidget* widget, GdkEventButton* event, gpointer) {
  if (event->button != 1) return TRUE;
  // Strokes may change during a calculation (it has its own copy); the region may not.
  if (!in_edit_mode && refuse_while_calculating()) return TRUE;

  finished_stroke = 0;
  if (event->state & GDK_CONTROL_MASK) {
    convert_storable_coords(prev_true_x, prev_true_y, &prev_x, &prev_y);
  } else {
    prev_x = event->x;
    prev_y = event->y;
    get_storable_coords(event->x, event->y, &prev_true_x, &prev_true_y);
  }
  m_button_x = cursor_x = event->x;
  m_button_y = cursor_y = event->y;

  if (in_edit_mode) {
    manage_glist_mbutton_press();
    append_point(prev_true_x, prev_true_y);
    draw_line(widget, event->x, event->y);
  } else {
    finished_stroke = 1;
    start_selection(widget);
  }
  return TRUE;
}

gboolean button_release_event(GtkWidget*, GdkEventButton* event, gpointer) {
  if (event->button == 1) finished_stroke = 1;
  return TRUE;
}

gboolean motion_notify_event(GtkWidget* widget, GdkEventMotion* event, gpointer) {
  int x, y;
  GdkModifierType state;
  if (event->is_hint) {
    gdk_window_get_pointer(event->window, &x, &y, &state);
  } else {
    x = static_cast<int>(event->x);
    y = static_cast<int>(event->y);
    state = static_cast<GdkModifierType>(event->state);
  }

  if (in_edit_mode) {
    if (state & GDK_BUTTON1_MASK) {
      if (finished_stroke == 0) draw_line(widget, x, y);
    } else {
      finished_stroke = 1;
    }
    initiate_cursor_redraw(widget, x, y);
  } else if ((state & GDK_BUTTON1_MASK) && finished_stroke && !calculation_running()) {
    // A stroke still held down when a result switched to view mode selects nothing.
    drag_selection(widget, x, y);
  }
  cursor_x = x;
  cursor_y = y;
  update_pointer_readout(x, y);
  return TRUE;
}

void draw_brush(cairo_t* cr) {
  double cx = cursor_x / scale, cy = cursor_y / scale;
  if (static_cast<int>(2 * radius) % 2 != 0) {
    cx += 0.5;
    cy += 0.5;
  }
  cairo_set_source_rgb(cr, red, green, blue);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_scale(cr, scale, scale);
  cairo_arc(cr, cx, cy, radius, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, red, 1 - green, 1 - blue);
  cairo_arc(cr, cx, cy, radius / 2, 0, 2 * M_PI);
  cairo_fill(cr);
  if (radius * scale <= 1.5) {
    // A small brush is hard to find: a ring of radius 5 screen pixels around it.
    cairo_set_line_width(cr, 0.5 / scale);
    for (int i = 0; i < 16; ++i) {
      if (i % 2)
        cairo_set_source_rgb(cr, 1, 0, 0);
      else
        cairo_set_source_rgb(cr, red, green, blue);
      cairo_new_sub_path(cr);
      cairo_arc(cr, cx, cy, 5 / scale, i * M_PI / 4, (i + 1) * M_PI / 4);
      cairo_stroke(cr);
    }
  }
}

void initiate_cursor_redraw(GtkWidget* widget, int x, int y) {
  double r = radius * scale;
  if (r < 1.5) r = 5.5;
  gtk_widget_queue_draw_area(
      widget, static_cast<int>(std::min<double>(x, prev_cursor_x) - r - 3),
      static_cast<int>(std::min<double>(y, prev_cursor_y) - r - 3),
      static_cast<int>(2 * r + std::abs(static_cast<int>(x - prev_cursor_x)) + 9),
      static_cast<int>(2 * r + std::abs(static_cast<int>(y - prev_cursor_y)) + 9));
}

namespace {

void queue_brush_area(double d) {
  if (d <= 3.0) d = 5.0;
  gtk_widget_queue_draw_area(drawing_area, static_cast<int>(cursor_x - d / 2),
                             static_cast<int>(cursor_y - d / 2), static_cast<int>(d + 20),
                             static_cast<int>(d + 20));
}

void set_brush(double r, double g, double b, double a) {
  red = r;
  green = g;
  blue = b;
  alpha = a;
  redraw_brush();
}

}  // namespace

void redraw_brush() {
  queue_brush_area(2 * radius * scale);
}

void cb_set_brush_size(GtkAdjustment* adjustment, gpointer) {
  double new_radius = gtk_adjustment_get_value(adjustment) / 2;
  double d = 2 * std::max(new_radius, radius) * scale;
  radius = new_radius;
  queue_brush_area(d);
}

void cb_set_FG(GtkWidget*, gpointer) {
  set_brush(1.0, 1.0, 1.0, 1.0);
}
void cb_set_BG(GtkWidget*, gpointer) {
  set_brush(0.0, 0.0, 0.0, 1.0);
}
void cb_set_Eraser(GtkWidget*, gpointer) {
  set_brush(0.3, 0.3, 0.3, 0.0);
}

void cb_set_Color(GtkWidget* widget, gpointer) {
  gtk_color_button_get_color(GTK_COLOR_BUTTON(widget), &color);
  set_brush(color.red / 65535.0, color.green / 65535.0, color.blue / 65535.0, 1.0);
}
