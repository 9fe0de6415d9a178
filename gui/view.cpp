#include "gui/view.h"

#include "gui/brush.h"
#include "gui/checked_surface.h"
#include "gui/image_source.h"
#include "gui/lasso.h"
#include "gui/modes.h"
#include "gui/pixel_access.h"

void cb_zoom_to(GtkWidget*, GtkAdjustment* zoom) {
  gtk_adjustment_set_value(zoom, 100.0);
}

gboolean resize_view_surface(View* view, int img_width, int img_height, GError** error) {
  cairo_surface_t* surface =
      checked_image_surface(CAIRO_FORMAT_ARGB32, static_cast<int>(img_width * view->scale),
                            static_cast<int>(img_height * view->scale), error);
  if (surface == nullptr) return FALSE;
  install_view_surface(view, surface);
  return TRUE;
}

void install_view_surface(View* view, cairo_surface_t* surface) {
  cairo_surface_destroy(view->win_surf);
  view->win_surf = surface;
  gtk_widget_set_size_request(view->drawing_area, cairo_image_surface_get_width(surface),
                              cairo_image_surface_get_height(surface));
}

void rebuild_view_surface(Editor* ed) {
  View* view = &ed->view;
  cairo_t* cr = cairo_create(view->win_surf);
  cairo_save(cr);
  cairo_set_source_rgba(cr, 0, 0, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_scale(cr, view->scale, view->scale);
  set_source_image(view, cr);
  cairo_paint(cr);
  if (view->in_edit_mode) {
    cairo_set_source_surface(cr, ed->strokes.surf_layer, 0, 0);
    cairo_paint(cr);
  }
  cairo_destroy(cr);
}

void cb_draw_zoom(GtkAdjustment* zoom, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  View* view = &ed->view;
  // Set while the adjustment is put back after a refused zoom: the view still fits.
  if (view->restoring_zoom) return;
  int w = gdk_pixbuf_get_width(view->pixbuf_image);
  int h = gdk_pixbuf_get_height(view->pixbuf_image);
  const double previous = view->scale;
  view->scale = gtk_adjustment_get_value(zoom) / 100.0;
  GError* error = nullptr;
  if (!resize_view_surface(view, w, h, &error)) {
    gchar* text = g_strdup_printf("Cannot zoom to %g %%: %s", view->scale * 100, error->message);
    update_statusbar(text, STATUS_MESSAGE, view->status_bar);
    g_free(text);
    g_error_free(error);
    view->scale = previous;
    view->restoring_zoom = true;
    gtk_adjustment_set_value(zoom, previous * 100);
    view->restoring_zoom = false;
    return;
  }
  rebuild_view_surface(ed);
  set_ROI_for_winsurf(view, ed->doc());
  if (ed->doc().calc_ROI_is_set || !view->in_edit_mode)
    draw_rect(ed, view->drawing_area, view->left_x, view->top_y);
  gtk_widget_queue_draw(view->drawing_area);
}

namespace {

void paint_view_surface(const View& view, cairo_t* cr) {
  cairo_set_source_surface(cr, view.win_surf, 0, 0);
  cairo_paint(cr);
}

}  // namespace

gboolean configure_event(GtkWidget* widget, GdkEventConfigure*, gpointer editor) {
  if (widget->window == nullptr) return TRUE;
  cairo_t* cr = gdk_cairo_create(widget->window);
  paint_view_surface(static_cast<Editor*>(editor)->view, cr);
  cairo_destroy(cr);
  return TRUE;
}

gboolean on_expose_event(GtkWidget* widget, GdkEventExpose* event, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  cairo_t* cr = gdk_cairo_create(widget->window);
  // Limit drawing to the exposed area, as the toolkit does for its own drawing.
  gdk_cairo_region(cr, event->region);
  cairo_clip(cr);
  paint_view_surface(ed->view, cr);
  if (ed->view.in_edit_mode) ed->tools.lasso ? draw_lasso(ed, cr) : draw_brush(ed, cr);
  cairo_destroy(cr);
  ed->view.prev_cursor_x = ed->view.cursor_x;
  ed->view.prev_cursor_y = ed->view.cursor_y;
  return FALSE;
}

namespace {

bool odd_diameter(const Brush& brush) {
  return static_cast<int>(2 * brush.radius) % 2 != 0;
}

}  // namespace

void get_storable_coords(const Editor* ed, double x, double y, double* img_x, double* img_y) {
  *img_x = static_cast<int>(x / ed->view.scale);
  *img_y = static_cast<int>(y / ed->view.scale);
  if (odd_diameter(ed->brush)) {
    *img_x += 0.5;
    *img_y += 0.5;
  }
}

void convert_storable_coords(const Editor* ed, double img_x, double img_y, double* x, double* y) {
  const double scale = ed->view.scale;
  if (odd_diameter(ed->brush)) {
    *x = (img_x - 0.5) * scale;
    *y = (img_y - 0.5) * scale;
  } else {
    *x = img_x * scale;
    *y = img_y * scale;
  }
}

void get_4_storable_coords(const Editor* ed, double x, double y, double* img_x, double* img_y,
                           double* prev_img_x, double* prev_img_y) {
  get_storable_coords(ed, x, y, img_x, img_y);
  get_storable_coords(ed, ed->brush.prev_x, ed->brush.prev_y, prev_img_x, prev_img_y);
}

void update_pointer_readout(View* view, int x, int y) {
  if (refusal_recently_shown(view->said)) return;
  guchar r = 0, g = 0, b = 0, a = 0;
  cairo_surface_t* surface = view->win_surf;
  if (x < cairo_image_surface_get_width(surface) && y < cairo_image_surface_get_height(surface)) {
    cairo_surface_flush(surface);
    cairoimagesurface_get_pixel(surface, x, y, &a, &r, &g, &b);
  }
  gchar* text = g_strdup_printf("r%03d g%03d b%03d a%03d : x %d y %d", r, g, b, a, x, y);
  update_statusbar(text, STATUS_POINTER, view->status_bar);
  g_free(text);
}
