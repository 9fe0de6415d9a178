#include "gui/alpha_view.h"

#include "gui/gtkquillane.h"
#include "gui/pixel_access.h"

void cb_draw_alpha(GtkWidget*, gpointer) {
  int w = gdk_pixbuf_get_width(pixbuf_alpha);
  int h = gdk_pixbuf_get_height(pixbuf_alpha);
  GdkPixbuf* grey = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) {
      guchar r, g, b, a;
      gdkpixbuf_get_pixel(pixbuf_alpha, x, y, &r, &g, &b, &a);
      gdkpixbuf_put_pixel(grey, x, y, a, a, a, 255);
    }
  cairo_t* cr = cairo_create(win_surf);
  cairo_scale(cr, scale, scale);
  gdk_cairo_set_source_pixbuf(cr, grey, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  g_object_unref(grey);
  gtk_widget_queue_draw(drawing_area);
}
