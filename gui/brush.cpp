#include "gui/brush.h"

#include <algorithm>
#include <cmath>

#include "gui/image_source.h"
#include "gui/lasso.h"
#include "gui/live_matte.h"
#include "gui/modes.h"
#include "gui/view.h"

void free_stroke_list(GList* list) {
  g_list_free_full(list, g_free);
}

void clear_history(Editor* ed) {
  free_stroke_list(ed->strokes.history);
  ed->strokes.history = nullptr;
  ed->strokes.current = nullptr;
  ed->brush.finished_stroke = 1;
}

// Every stroke and fill ends here, so that the live matte hears of each once.
void end_stroke(Editor* ed) {
  ed->brush.finished_stroke = 1;
  note_strokes_changed(*ed);
}

void manage_glist_mbutton_press(Editor* ed) {
  Strokes& s = ed->strokes;
  const Brush& b = ed->brush;
  ed->brush.stroke_idx = 8;
  if (s.current == nullptr) {
    free_stroke_list(s.history);
    s.history = nullptr;
  } else if (s.current->next != nullptr) {
    GList* tail = s.current->next;
    tail->prev = nullptr;
    s.current->next = nullptr;
    free_stroke_list(tail);
  }
  double* record = static_cast<double*>(g_malloc(8 * sizeof(double)));
  s.history = g_list_append(s.history, record);
  s.current = g_list_last(s.history);
  record[0] = b.his_type;
  record[1] = b.radius;
  record[2] = ed->view.scale;
  record[3] = b.red;
  record[4] = b.green;
  record[5] = b.blue;
  record[6] = b.alpha;
  record[7] = b.stroke_idx;
}

namespace {

// Grows the current record by one point (x, y).
void append_point(Editor* ed, double x, double y) {
  int& n = ed->brush.stroke_idx;
  GList* current = ed->strokes.current;
  n += 2;
  double* record = static_cast<double*>(current->data);
  record[7] = n;
  record = static_cast<double*>(g_realloc_n(record, n, sizeof(double)));
  current->data = record;
  record[n - 2] = x;
  record[n - 1] = y;
}

}  // namespace

void standard_draw(const Editor* ed, cairo_t* cr, int x, int y, double* x1, double* y1, double* x2,
                   double* y2) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 2 * ed->brush.radius);
  double cx, cy, px, py;
  get_4_storable_coords(ed, x, y, &cx, &cy, &px, &py);
  cairo_move_to(cr, px, py);
  cairo_line_to(cr, cx, cy);
  cairo_path_extents(cr, x1, y1, x2, y2);
  cairo_stroke(cr);
}

void draw_line(Editor* ed, GtkWidget* widget, double x, double y) {
  Brush& b = ed->brush;
  const double scale = ed->view.scale;
  double x1, y1, x2, y2;

  cairo_t* cr = cairo_create(ed->strokes.surf_layer);
  if (b.alpha == 0.0) cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
  cairo_set_source_rgb(cr, b.red, b.green, b.blue);
  standard_draw(ed, cr, static_cast<int>(x), static_cast<int>(y), &x1, &y1, &x2, &y2);
  cairo_destroy(cr);

  cr = cairo_create(ed->view.win_surf);
  cairo_scale(cr, scale, scale);
  if (b.alpha == 0.0) {
    set_source_image(&ed->view, cr);  // the eraser shows the image again
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  } else {
    cairo_set_source_rgb(cr, b.red, b.green, b.blue);
  }
  standard_draw(ed, cr, static_cast<int>(x), static_cast<int>(y), &x1, &y1, &x2, &y2);
  cairo_destroy(cr);

  b.prev_x = x;
  b.prev_y = y;

  x1 -= b.radius;
  y1 -= b.radius;
  x2 = x2 + 1 + b.radius;
  y2 = y2 + 1 + b.radius;
  gtk_widget_queue_draw_area(widget, static_cast<int>(static_cast<int>(x1) * scale),
                             static_cast<int>(static_cast<int>(y1) * scale),
                             static_cast<int>(static_cast<int>(x2 - x1) * scale),
                             static_cast<int>(static_cast<int>(y2 - y1) * scale));

  get_storable_coords(ed, x, y, &b.prev_true_x, &b.prev_true_y);
  append_point(ed, b.prev_true_x, b.prev_true_y);
}

gboolean button_press_event(GtkWidget* widget, GdkEventButton* event, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  Brush& b = ed->brush;
  View& v = ed->view;
  if (event->button != 1) return TRUE;
  if (v.in_edit_mode && ed->tools.lasso) {
    lasso_press(ed, widget, event);
    return TRUE;
  }
  // Strokes may change during a calculation (it has its own copy); the region may not.
  Document* doc = v.in_edit_mode ? nullptr : document_to_change(ed);
  if (!v.in_edit_mode && doc == nullptr) return TRUE;

  b.finished_stroke = 0;
  if (event->state & GDK_CONTROL_MASK) {
    convert_storable_coords(ed, b.prev_true_x, b.prev_true_y, &b.prev_x, &b.prev_y);
  } else {
    b.prev_x = event->x;
    b.prev_y = event->y;
    get_storable_coords(ed, event->x, event->y, &b.prev_true_x, &b.prev_true_y);
  }
  v.m_button_x = v.cursor_x = event->x;
  v.m_button_y = v.cursor_y = event->y;

  if (v.in_edit_mode) {
    manage_glist_mbutton_press(ed);
    append_point(ed, b.prev_true_x, b.prev_true_y);
    draw_line(ed, widget, event->x, event->y);
  } else {
    b.finished_stroke = 1;
    start_selection(ed, doc, widget);
  }
  return TRUE;
}

gboolean button_release_event(GtkWidget*, GdkEventButton* event, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  if (event->button != 1 || lasso_release(ed)) return TRUE;
  if (ed->brush.finished_stroke == 0)
    end_stroke(ed);  // also a stroke held while a result switched to view mode
  else if (!ed->view.in_edit_mode)
    note_matte_inputs_changed(*ed);  // the end of a selection drag
  return TRUE;
}

gboolean motion_notify_event(GtkWidget* widget, GdkEventMotion* event, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  Brush& b = ed->brush;
  View& v = ed->view;
  int x, y;
  GdkModifierType state;
  if (event->is_hint) {
    gdk_window_get_pointer(event->window, &x, &y, &state);
  } else {
    x = static_cast<int>(event->x);
    y = static_cast<int>(event->y);
    state = static_cast<GdkModifierType>(event->state);
  }

  if (v.in_edit_mode && ed->tools.lasso) {
    lasso_motion(ed, widget, x, y, state);
  } else if (v.in_edit_mode) {
    if (state & GDK_BUTTON1_MASK) {
      if (b.finished_stroke == 0) draw_line(ed, widget, x, y);
    } else if (b.finished_stroke == 0) {
      end_stroke(ed);
    }
    initiate_cursor_redraw(ed, widget, x, y);
  } else if ((state & GDK_BUTTON1_MASK) && b.finished_stroke) {
    // A stroke still held down when a result switched to view mode selects nothing; the press
    // that began this drag said already why a calculation keeps the region.
    if (Document* doc = document_to_change(ed, true)) drag_selection(ed, doc, widget, x, y);
  }
  v.cursor_x = x;
  v.cursor_y = y;
  update_pointer_readout(&v, x, y);
  return TRUE;
}

void draw_brush(const Editor* ed, cairo_t* cr) {
  const Brush& b = ed->brush;
  const double scale = ed->view.scale, radius = b.radius;
  double cx = ed->view.cursor_x / scale, cy = ed->view.cursor_y / scale;
  if (static_cast<int>(2 * radius) % 2 != 0) {
    cx += 0.5;
    cy += 0.5;
  }
  cairo_set_source_rgb(cr, b.red, b.green, b.blue);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_scale(cr, scale, scale);
  cairo_arc(cr, cx, cy, radius, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, b.red, 1 - b.green, 1 - b.blue);
  cairo_arc(cr, cx, cy, radius / 2, 0, 2 * M_PI);
  cairo_fill(cr);
  if (radius * scale <= 1.5) {
    // A small brush is hard to find: a ring of radius 5 screen pixels around it.
    cairo_set_line_width(cr, 0.5 / scale);
    for (int i = 0; i < 16; ++i) {
      if (i % 2)
        cairo_set_source_rgb(cr, 1, 0, 0);
      else
        cairo_set_source_rgb(cr, b.red, b.green, b.blue);
      cairo_new_sub_path(cr);
      cairo_arc(cr, cx, cy, 5 / scale, i * M_PI / 4, (i + 1) * M_PI / 4);
      cairo_stroke(cr);
    }
  }
}

void initiate_cursor_redraw(const Editor* ed, GtkWidget* widget, int x, int y) {
  const View& v = ed->view;
  double r = ed->brush.radius * v.scale;
  if (r < 1.5) r = 5.5;
  gtk_widget_queue_draw_area(
      widget, static_cast<int>(std::min<double>(x, v.prev_cursor_x) - r - 3),
      static_cast<int>(std::min<double>(y, v.prev_cursor_y) - r - 3),
      static_cast<int>(2 * r + std::abs(static_cast<int>(x - v.prev_cursor_x)) + 9),
      static_cast<int>(2 * r + std::abs(static_cast<int>(y - v.prev_cursor_y)) + 9));
}

namespace {

void queue_brush_area(const View& v, double d) {
  if (d <= 3.0) d = 5.0;
  gtk_widget_queue_draw_area(v.drawing_area, static_cast<int>(v.cursor_x - d / 2),
                             static_cast<int>(v.cursor_y - d / 2), static_cast<int>(d + 20),
                             static_cast<int>(d + 20));
}

void set_brush(Editor* ed, double r, double g, double b, double a) {
  ed->brush.red = r;
  ed->brush.green = g;
  ed->brush.blue = b;
  ed->brush.alpha = a;
  redraw_brush(ed);
}

}  // namespace

void redraw_brush(const Editor* ed) {
  queue_brush_area(ed->view, 2 * ed->brush.radius * ed->view.scale);
}

void cb_set_brush_size(GtkAdjustment* adjustment, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  double new_radius = gtk_adjustment_get_value(adjustment) / 2;
  double d = 2 * std::max(new_radius, ed->brush.radius) * ed->view.scale;
  ed->brush.radius = new_radius;
  queue_brush_area(ed->view, d);
}

void cb_set_FG(GtkWidget*, gpointer editor) {
  set_brush(static_cast<Editor*>(editor), 1.0, 1.0, 1.0, 1.0);
}
void cb_set_BG(GtkWidget*, gpointer editor) {
  set_brush(static_cast<Editor*>(editor), 0.0, 0.0, 0.0, 1.0);
}
void cb_set_Eraser(GtkWidget*, gpointer editor) {
  set_brush(static_cast<Editor*>(editor), 0.3, 0.3, 0.3, 0.0);
}

void cb_set_Color(GtkWidget* widget, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  GdkColor& c = ed->brush.color;
  gtk_color_button_get_color(GTK_COLOR_BUTTON(widget), &c);
  set_brush(ed, c.red / 65535.0, c.green / 65535.0, c.blue / 65535.0, 1.0);
}
