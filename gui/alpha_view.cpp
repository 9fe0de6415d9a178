#include "gui/alpha_view.h"

#include "gui/editor.h"
#include "gui/pixel_access.h"
#include "gui/view.h"

void cb_draw_alpha(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  View* view = &ed->view;
  GdkPixbuf* matte = ed->doc().pixbuf_alpha;
  int w = gdk_pixbuf_get_width(matte);
  int h = gdk_pixbuf_get_height(matte);
  GdkPixbuf* grey = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  if (grey == nullptr) {
    update_statusbar("Not enough memory to show the alpha channel", STATUS_MESSAGE,
                     view->status_bar);
    return;
  }
  const int n = gdk_pixbuf_get_n_channels(matte);
  for (int y = 0; y < h; ++y) {
    const guchar* src = pixbuf_row(matte, y);
    guchar* dst = pixbuf_row(grey, y);
    for (int x = 0; x < w; ++x) {
      guchar a = n == 4 ? src[x * 4 + 3] : 255;  // no alpha channel: opaque
      dst[x * 3] = dst[x * 3 + 1] = dst[x * 3 + 2] = a;
    }
  }
  cairo_t* cr = cairo_create(view->win_surf);
  cairo_scale(cr, view->scale, view->scale);
  gdk_cairo_set_source_pixbuf(cr, grey, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  g_object_unref(grey);
  gtk_widget_queue_draw(view->drawing_area);
}
