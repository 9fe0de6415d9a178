#include "gui/clipboard.h"

#include "gui/clean_edges.h"
#include "gui/gtkquillane.h"
#include "gui/modes.h"
#include "matting/calc_input.h"

void pixbuf_to_clipboard(GtkWidget*, gpointer) {
  int W = gdk_pixbuf_get_width(pixbuf_image);
  int H = gdk_pixbuf_get_height(pixbuf_image);
  CalcRegion region = {x_img_ROI, y_img_ROI, w_img_ROI, h_img_ROI};
  if (!region_belongs_to_image(W, H) || !clamp_calc_region(&region, W, H)) region = {0, 0, W, H};
  GdkPixbuf* sub = gdk_pixbuf_new_subpixbuf(pixbuf_image, region.x, region.y, region.w, region.h);
  GdkPixbuf* copy = gdk_pixbuf_copy(sub);
  g_object_unref(sub);
  if (copy == nullptr) return;  // no memory for the copy: the clipboard keeps what it had
  clean_pixbuf_edges(copy);     // as the Save dialog's "Clean edge colours" says
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_set_image(clipboard, copy);
  gtk_clipboard_store(clipboard);
  g_object_unref(copy);
}
