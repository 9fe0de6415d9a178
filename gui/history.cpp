#include "gui/history.h"

#include "gui/image_source.h"
#include "gui/lasso.h"
#include "gui/live_matte.h"

void clear_drawing(Editor* ed) {
  View* view = &ed->view;
  GdkPixbuf* initialisinglayer = ed->strokes.initialisinglayer;
  cairo_t* cr = cairo_create(ed->strokes.surf_layer);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  if (initialisinglayer != nullptr) {
    // Outside the base's extent the layer becomes transparent.
    cairo_set_source_rgba(cr, 1, 1, 1, 0);
    cairo_paint(cr);
    gdk_cairo_set_source_pixbuf(cr, initialisinglayer, 0, 0);
  } else {
    cairo_set_source_rgba(cr, 1, 1, 1, 0);
  }
  cairo_paint(cr);
  cairo_destroy(cr);

  cr = cairo_create(view->win_surf);
  // Start from a transparent view: where the image on show is transparent (view mode), the
  // alpha view or an outline would otherwise stay.
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_scale(cr, view->scale, view->scale);
  set_source_image(view, cr);
  cairo_paint(cr);
  if (initialisinglayer != nullptr) {
    gdk_cairo_set_source_pixbuf(cr, initialisinglayer, 0, 0);
    cairo_paint(cr);
  }
  cairo_destroy(cr);
  gtk_widget_queue_draw(view->drawing_area);
}

namespace {

// The record's path: a dot for a single point, else one subpath per segment.
void stroke_path(cairo_t* cr, const double* record, int length) {
  if (length <= 11) {
    cairo_move_to(cr, record[8], record[9]);
    cairo_line_to(cr, record[8], record[9]);
  }
  for (int i = 8; i < length - 2; i += 2) {
    cairo_move_to(cr, record[i], record[i + 1]);
    cairo_line_to(cr, record[i + 2], record[i + 3]);
  }
}

void set_pen(cairo_t* cr, double width) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, width);
}

}  // namespace

void paint_stroke_array(Editor* ed, const double* record) {
  View* view = &ed->view;
  const double scale = view->scale;
  GtkWidget* drawing_area = view->drawing_area;
  double r = record[1];
  bool eraser = record[6] == 0.0;
  int length = static_cast<int>(record[7]);
  if (length < 10) return;  // no point at all: nothing to paint

  cairo_t* cr = cairo_create(ed->strokes.surf_layer);
  if (eraser) cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OUT);
  cairo_set_source_rgb(cr, record[3], record[4], record[5]);
  set_pen(cr, 2 * r);
  stroke_path(cr, record, length);
  cairo_stroke(cr);
  cairo_destroy(cr);

  cr = cairo_create(view->win_surf);
  cairo_scale(cr, scale, scale);
  if (eraser) {
    set_source_image(view, cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  } else {
    cairo_set_source_rgb(cr, record[3], record[4], record[5]);
  }
  set_pen(cr, 2 * r);
  stroke_path(cr, record, length);
  double x1, y1, x2, y2;
  cairo_path_extents(cr, &x1, &y1, &x2, &y2);
  cairo_stroke(cr);
  cairo_destroy(cr);

  GtkWidget* top = gtk_widget_get_toplevel(drawing_area);
  gtk_widget_queue_draw_area(
      top, static_cast<int>(static_cast<int>(x1 - r) * scale),
      static_cast<int>(static_cast<int>(y1 - r) * scale + 20),
      static_cast<int>(static_cast<int>(x2 + 1 + r - (x1 - r)) * scale + 44),
      static_cast<int>(static_cast<int>(y2 + 1 + r - (y1 - r)) * scale + 44));
  // The toplevel area is in window coordinates of the main window; the canvas may be
  // scrolled, so make sure the canvas itself shows the change too.
  gtk_widget_queue_draw_area(drawing_area, static_cast<int>((x1 - r - 1) * scale),
                             static_cast<int>((y1 - r - 1) * scale),
                             static_cast<int>((x2 - x1 + 2 * r + 3) * scale) + 1,
                             static_cast<int>((y2 - y1 + 2 * r + 3) * scale) + 1);
}

namespace {

// Paints a record of a kind undo and redo replay (a brush stroke or a lasso fill); false for
// another kind, which is passed over.
bool replay_record(Editor* ed, const double* record) {
  const int kind = static_cast<int>(record[0]);
  if (kind == 0)
    paint_stroke_array(ed, record);
  else if (kind == kLassoFillRecord)
    paint_fill_record(ed, record);
  return kind == 0 || kind == kLassoFillRecord;
}

}  // namespace

void undo(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  Strokes& s = ed->strokes;
  ed->brush.finished_stroke = 1;  // a drag in progress stops painting until the next press
  clear_drawing(ed);
  if (s.current != nullptr) s.current = s.current->prev;
  for (GList* node = s.current != nullptr ? s.history : nullptr; node != nullptr;
       node = node->next) {
    const double* record = static_cast<const double*>(node->data);
    replay_record(ed, record);
    if (node == s.current) break;
  }
  note_strokes_changed(*ed);
}

void redo(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  Strokes& s = ed->strokes;
  ed->brush.finished_stroke = 1;
  GList* candidate = s.current != nullptr ? s.current->next : s.history;
  if (candidate == nullptr) return;
  if (!replay_record(ed, static_cast<const double*>(candidate->data))) return;
  s.current = candidate;
  note_strokes_changed(*ed);
}
