#include "gui/clipboard.h"

#include "gui/clean_edges.h"
#include "gui/editor.h"
#include "gui/modes.h"
#include "matting/calc_input.h"

void pixbuf_to_clipboard(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  GdkPixbuf* shown = ed->view.pixbuf_image;
  const Document& doc = ed->doc();
  int W = gdk_pixbuf_get_width(shown);
  int H = gdk_pixbuf_get_height(shown);
  CalcRegion region = {doc.x_img_ROI, doc.y_img_ROI, doc.w_img_ROI, doc.h_img_ROI};
  if (!region_belongs_to_image(doc, W, H) || !clamp_calc_region(&region, W, H))
    region = {0, 0, W, H};
  GdkPixbuf* sub = gdk_pixbuf_new_subpixbuf(shown, region.x, region.y, region.w, region.h);
  GdkPixbuf* copy = gdk_pixbuf_copy(sub);
  g_object_unref(sub);
  if (copy == nullptr) return;  // no memory for the copy: the clipboard keeps what it had
  clean_pixbuf_edges(copy, ed->session.clean_edges_wanted);
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_set_image(clipboard, copy);
  gtk_clipboard_store(clipboard);
  g_object_unref(copy);
}
