#include "gui/alpha_view.h"

#include "gui/gtkquillane.h"
#include "gui/pixel_access.h"
#include "gui/view.h"

void cb_draw_alpha(GtkWidget*, gpointer) {
  int w = gdk_pixbuf_get_width(pixbuf_alpha);
  int h = gdk_pixbuf_get_height(pixbuf_alpha);
  GdkPixbuf* grey = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  if (grey == nullptr) {
    update_statusbar("Not enough memory to show the alpha channel", STATUS_MESSAGE, status_bar);
    return;
  }
  const int n = gdk_pixbuf_get_n_channels(pixbuf_alpha);
  for (int y = 0; y < h; ++y) {
    const guchar* src = pixbuf_row(pixbuf_alpha, y);
    guchar* dst = pixbuf_row(grey, y);
    for (int x = 0; x < w; ++x) {
      guchar a = n == 4 ? src[x * 4 + 3] : 255;  // no alpha channel: opaque
      dst[x * 3] = dst[x * 3 + 1] = dst[x * 3 + 2] = a;
    }
  }
  cairo_t* cr = cairo_create(win_surf);
  cairo_scale(cr, scale, scale);
  gdk_cairo_set_source_pixbuf(cr, grey, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  g_object_unref(grey);
  gtk_widget_queue_draw(drawing_area);
}
