#include "gui/view.h"

#include "gui/brush.h"
#include "gui/checked_surface.h"
#include "gui/gtk_calc.h"
#include "gui/gtkquillane.h"
#include "gui/image_source.h"
#include "gui/modes.h"
#include "gui/pixel_access.h"

void cb_zoom_to(GtkWidget*, GtkAdjustment* zoom) {
  gtk_adjustment_set_value(zoom, 100.0);
}

gboolean resize_view_surface(int img_width, int img_height, GError** error) {
  cairo_surface_t* view =
      checked_image_surface(CAIRO_FORMAT_ARGB32, static_cast<int>(img_width * scale),
                            static_cast<int>(img_height * scale), error);
  if (view == nullptr) return FALSE;
  install_view_surface(view);
  return TRUE;
}

void install_view_surface(cairo_surface_t* view) {
  cairo_surface_destroy(win_surf);
  win_surf = view;
  gtk_widget_set_size_request(drawing_area, cairo_image_surface_get_width(view),
                              cairo_image_surface_get_height(view));
}

void rebuild_view_surface() {
  cairo_t* cr = cairo_create(win_surf);
  cairo_save(cr);
  cairo_set_source_rgba(cr, 0, 0, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_scale(cr, scale, scale);
  set_source_image(cr);
  cairo_paint(cr);
  if (in_edit_mode) {
    cairo_set_source_surface(cr, surf_layer, 0, 0);
    cairo_paint(cr);
  }
  cairo_destroy(cr);
}

void cb_draw_zoom(GtkAdjustment* zoom, gpointer) {
  // Set while the adjustment is put back after a refused zoom: the view still fits.
  static bool restoring = false;
  if (restoring) return;
  int w = gdk_pixbuf_get_width(pixbuf_image);
  int h = gdk_pixbuf_get_height(pixbuf_image);
  const double previous = scale;
  scale = gtk_adjustment_get_value(zoom) / 100.0;
  GError* error = nullptr;
  if (!resize_view_surface(w, h, &error)) {
    gchar* text = g_strdup_printf("Cannot zoom to %g %%: %s", scale * 100, error->message);
    update_statusbar(text, STATUS_MESSAGE, status_bar);
    g_free(text);
    g_error_free(error);
    scale = previous;
    restoring = true;
    gtk_adjustment_set_value(zoom, previous * 100);
    restoring = false;
    return;
  }
  rebuild_view_surface();
  set_ROI_for_winsurf();
  if (calc_ROI_is_set || !in_edit_mode) draw_rect(drawing_area, left_x, top_y);
  gtk_widget_queue_draw(drawing_area);
}

namespace {

void paint_view_surface(GtkWidget* widget, cairo_t* cr) {
  (void)widget;
  cairo_set_source_surface(cr, win_surf, 0, 0);
  cairo_paint(cr);
}

}  // namespace

gboolean configure_event(GtkWidget* widget, GdkEventConfigure*, gpointer) {
  if (widget->window == nullptr) return TRUE;
  cairo_t* cr = gdk_cairo_create(widget->window);
  paint_view_surface(widget, cr);
  cairo_destroy(cr);
  return TRUE;
}

gboolean on_expose_event(GtkWidget* widget, GdkEventExpose* event, gpointer) {
  cairo_t* cr = gdk_cairo_create(widget->window);
  // Limit drawing to the exposed area, as the toolkit does for its own drawing.
  gdk_cairo_region(cr, event->region);
  cairo_clip(cr);
  paint_view_surface(widget, cr);
  if (in_edit_mode) draw_brush(cr);
  cairo_destroy(cr);
  prev_cursor_x = cursor_x;
  prev_cursor_y = cursor_y;
  return FALSE;
}

namespace {

bool odd_diameter() {
  return static_cast<int>(2 * radius) % 2 != 0;
}

}  // namespace

void get_storable_coords(double x, double y, double* img_x, double* img_y) {
  *img_x = static_cast<int>(x / scale);
  *img_y = static_cast<int>(y / scale);
  if (odd_diameter()) {
    *img_x += 0.5;
    *img_y += 0.5;
  }
}

void convert_storable_coords(double img_x, double img_y, double* x, double* y) {
  if (odd_diameter()) {
    *x = (img_x - 0.5) * scale;
    *y = (img_y - 0.5) * scale;
  } else {
    *x = img_x * scale;
    *y = img_y * scale;
  }
}

void get_4_storable_coords(double x, double y, double* img_x, double* img_y, double* prev_img_x,
                           double* prev_img_y) {
  get_storable_coords(x, y, img_x, img_y);
  get_storable_coords(prev_x, prev_y, prev_img_x, prev_img_y);
}

void update_statusbar(const gchar* text, guint context_id, GtkWidget* bar) {
  gtk_statusbar_pop(GTK_STATUSBAR(bar), context_id);
  gtk_statusbar_push(GTK_STATUSBAR(bar), context_id, text);
}

void update_pointer_readout(int x, int y) {
  if (refusal_recently_shown()) return;
  guchar r = 0, g = 0, b = 0, a = 0;
  if (x < cairo_image_surface_get_width(win_surf) && y < cairo_image_surface_get_height(win_surf)) {
    cairo_surface_flush(win_surf);
    cairoimagesurface_get_pixel(win_surf, x, y, &a, &r, &g, &b);
  }
  gchar* text = g_strdup_printf("r%03d g%03d b%03d a%03d : x %d y %d", r, g, b, a, x, y);
  update_statusbar(text, STATUS_POINTER, status_bar);
  g_free(text);
}
