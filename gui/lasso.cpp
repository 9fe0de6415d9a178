#include "gui/lasso.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>

#include "gui/brush.h"
#include "gui/image_source.h"

namespace {

// Half the size of the crosshair and its swatch, in window pixels, with room for the outline.
const int kCursorReach = 18;

// Queues a redraw of the window rectangle spanned by (x0, y0) and (x1, y1), widened by margin.
void queue_box(GtkWidget* widget, double x0, double y0, double x1, double y1, int margin) {
  if (widget == nullptr) return;
  const int left = static_cast<int>(std::floor(std::min(x0, x1))) - margin;
  const int top = static_cast<int>(std::floor(std::min(y0, y1))) - margin;
  const int right = static_cast<int>(std::ceil(std::max(x0, x1))) + margin;
  const int bottom = static_cast<int>(std::ceil(std::max(y0, y1))) + margin;
  gtk_widget_queue_draw_area(widget, left, top, right - left + 1, bottom - top + 1);
}

// Queues a redraw of the whole outline in progress (window pixels).
void queue_outline(const Editor& ed) {
  const std::vector<double>& o = ed.tools.outline;
  if (o.empty()) return;
  double x0 = o[0], y0 = o[1], x1 = o[0], y1 = o[1];
  for (size_t i = 2; i + 1 < o.size(); i += 2) {
    x0 = std::min(x0, o[i]);
    x1 = std::max(x1, o[i]);
    y0 = std::min(y0, o[i + 1]);
    y1 = std::max(y1, o[i + 1]);
  }
  const View& v = ed.view;
  // The rubber band of a polygon reaches the pointer.
  x0 = std::min(x0 * v.scale, v.cursor_x);
  y0 = std::min(y0 * v.scale, v.cursor_y);
  x1 = std::max(x1 * v.scale, v.cursor_x);
  y1 = std::max(y1 * v.scale, v.cursor_y);
  queue_box(v.drawing_area, x0, y0, x1, y1, 3);
}

// Adds the centre of the image pixel under window point (x, y) as a corner, unless it is the
// last corner already; queues the redraw of the new side.
void add_corner(Editor* ed, double x, double y) {
  const double scale = ed->view.scale;
  const double ix = std::floor(x / scale) + 0.5, iy = std::floor(y / scale) + 0.5;
  std::vector<double>& o = ed->tools.outline;
  const size_t n = o.size();
  if (n >= 2 && o[n - 2] == ix && o[n - 1] == iy) return;
  if (n >= 2)
    queue_box(ed->view.drawing_area, o[n - 2] * scale, o[n - 1] * scale, ix * scale, iy * scale, 3);
  o.push_back(ix);
  o.push_back(iy);
}

// The closed outline of a fill record as the current path (user units: image pixels).
void fill_path(cairo_t* cr, const double* record, int length) {
  cairo_move_to(cr, record[8], record[9]);
  for (int i = 10; i + 1 < length; i += 2) cairo_line_to(cr, record[i], record[i + 1]);
  cairo_close_path(cr);
}

// Strokes' rules: no antialiasing. The outline itself is painted one pixel wide, so that the
// pixels the pointer went over are filled too, whatever the rasteriser does on the edges.
void set_fill_pen(cairo_t* cr) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_set_line_width(cr, 1.0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
}

// Records the outline in progress as a fill of the brush's colour, paints it and ends it as
// every stroke ends. Fewer than three corners enclose nothing: dropped.
void fill_outline(Editor* ed) {
  std::vector<double> corners = ed->tools.outline;
  drop_lasso_outline(ed);
  if (corners.size() < 6) return;
  manage_glist_mbutton_press(ed);  // a new record after the current one, like a stroke's
  GList* node = ed->strokes.current;
  const int length = 8 + static_cast<int>(corners.size());
  double* record = static_cast<double*>(g_realloc_n(node->data, length, sizeof(double)));
  node->data = record;
  record[0] = kLassoFillRecord;
  record[1] = 0;
  record[7] = length;
  std::copy(corners.begin(), corners.end(), record + 8);
  paint_fill_record(ed, record);
  end_stroke(ed);
}

}  // namespace

void drop_lasso_outline(Editor* ed) {
  ToolState& t = ed->tools;
  queue_outline(*ed);
  t.outline.clear();
  t.freehand = t.polygon = t.held = false;
}

void lasso_press(Editor* ed, GtkWidget*, const GdkEventButton* event) {
  ToolState& t = ed->tools;
  View& v = ed->view;
  v.cursor_x = event->x;
  v.cursor_y = event->y;
  if (event->type == GDK_2BUTTON_PRESS) {
    if (t.polygon) fill_outline(ed);
    return;
  }
  if (event->type != GDK_BUTTON_PRESS) return;
  if (t.polygon || (event->state & GDK_CONTROL_MASK)) {
    if (!t.polygon) drop_lasso_outline(ed);
    t.polygon = true;
    t.held = true;
  } else {
    drop_lasso_outline(ed);
    t.freehand = true;
  }
  add_corner(ed, event->x, event->y);
  queue_outline(*ed);
}

void lasso_motion(Editor* ed, GtkWidget* widget, int x, int y, GdkModifierType state) {
  ToolState& t = ed->tools;
  View& v = ed->view;
  const bool button = (state & GDK_BUTTON1_MASK) != 0;
  if (t.freehand && !button) {
    // The button went up where no release reached the canvas: the drag ends here.
    fill_outline(ed);
  } else if ((t.freehand || t.held) && button) {
    add_corner(ed, x, y);
  }
  if (!button) t.held = false;
  // The cursor's old and new places, and a polygon's rubber band between them.
  queue_box(widget, v.prev_cursor_x, v.prev_cursor_y, x, y, kCursorReach);
  const std::vector<double>& o = t.outline;
  if (t.polygon && o.size() >= 2) {
    queue_box(widget, o[o.size() - 2] * v.scale, o.back() * v.scale, v.prev_cursor_x,
              v.prev_cursor_y, 2);
    queue_box(widget, o[o.size() - 2] * v.scale, o.back() * v.scale, x, y, 2);
  }
}

bool lasso_release(Editor* ed) {
  ToolState& t = ed->tools;
  t.held = false;
  if (!t.freehand) return false;
  // A result that switched to view mode meanwhile: the layer is not on show, fill nothing.
  if (ed->view.in_edit_mode)
    fill_outline(ed);
  else
    drop_lasso_outline(ed);
  return true;
}

bool lasso_key(Editor* ed, guint keyval) {
  ToolState& t = ed->tools;
  if (t.outline.empty()) return false;
  if (keyval == GDK_Escape) {
    drop_lasso_outline(ed);
    return true;
  }
  if ((keyval == GDK_Return || keyval == GDK_KP_Enter) && t.polygon) {
    fill_outline(ed);
    return true;
  }
  return false;
}

void paint_fill_record(Editor* ed, const double* record) {
  View* view = &ed->view;
  const int length = static_cast<int>(record[7]);
  if (length < 10) return;  // no corner at all
  const bool eraser = record[6] == 0.0;

  cairo_t* cr = cairo_create(ed->strokes.surf_layer);
  if (eraser) cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
  cairo_set_source_rgb(cr, record[3], record[4], record[5]);
  set_fill_pen(cr);
  fill_path(cr, record, length);
  cairo_fill_preserve(cr);
  cairo_stroke(cr);
  cairo_destroy(cr);

  cr = cairo_create(view->win_surf);
  cairo_scale(cr, view->scale, view->scale);
  if (eraser) {
    set_source_image(view, cr);  // the eraser shows the image again
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  } else {
    cairo_set_source_rgb(cr, record[3], record[4], record[5]);
  }
  set_fill_pen(cr);
  fill_path(cr, record, length);
  double x1, y1, x2, y2;
  cairo_stroke_extents(cr, &x1, &y1, &x2, &y2);
  cairo_fill_preserve(cr);
  cairo_stroke(cr);
  cairo_destroy(cr);
  const double s = view->scale;
  queue_box(view->drawing_area, x1 * s, y1 * s, x2 * s, y2 * s, 2);
}

void draw_lasso(const Editor* ed, cairo_t* cr) {
  const View& v = ed->view;
  const ToolState& t = ed->tools;
  cairo_save(cr);
  cairo_set_line_width(cr, 1.0);
  const std::vector<double>& o = t.outline;
  if (!o.empty()) {
    cairo_move_to(cr, o[0] * v.scale, o[1] * v.scale);
    for (size_t i = 2; i + 1 < o.size(); i += 2)
      cairo_line_to(cr, o[i] * v.scale, o[i + 1] * v.scale);
    if (t.polygon) cairo_line_to(cr, v.cursor_x, v.cursor_y);
    // Black under white dashes: visible on any image.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_stroke_preserve(cr);
    const double dash[] = {4.0, 4.0};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  // A crosshair on the pointer's pixel ...
  const double cx = std::floor(v.cursor_x) + 0.5, cy = std::floor(v.cursor_y) + 0.5;
  for (int pass = 0; pass < 2; ++pass) {
    cairo_set_line_width(cr, pass == 0 ? 3.0 : 1.0);
    cairo_set_source_rgb(cr, pass, pass, pass);
    for (int side : {-1, 1}) {
      cairo_move_to(cr, cx + side * 2, cy);
      cairo_line_to(cr, cx + side * 8, cy);
      cairo_move_to(cr, cx, cy + side * 2);
      cairo_line_to(cr, cx, cy + side * 8);
    }
    cairo_stroke(cr);
  }
  // ... and beside it a swatch of the fill colour, white crossed out in red for the eraser.
  const Brush& b = ed->brush;
  const bool eraser = b.alpha == 0.0;
  cairo_rectangle(cr, cx + 5, cy + 5, 9, 9);
  cairo_set_source_rgb(cr, eraser ? 1 : b.red, eraser ? 1 : b.green, eraser ? 1 : b.blue);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_stroke(cr);
  if (eraser) {
    cairo_move_to(cr, cx + 6, cy + 13);
    cairo_line_to(cr, cx + 13, cy + 6);
    cairo_set_source_rgb(cr, 0.9, 0, 0);
    cairo_set_line_width(cr, 2.0);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

void redraw_lasso_cursor(const Editor* ed) {
  const View& v = ed->view;
  queue_box(v.drawing_area, v.cursor_x, v.cursor_y, v.cursor_x, v.cursor_y, kCursorReach);
  redraw_brush(ed);  // the brush cursor it replaces, or that replaces it
}
