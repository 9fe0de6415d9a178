#include "gui/clipboard.h"

#include <string>

#include "gui/clean_edges.h"
#include "gui/editor.h"
#include "gui/matte_export.h"
#include "gui/modes.h"
#include "matting/calc_input.h"

namespace {

// "Could not copy: reason" in the status bar; the clipboard keeps what it had.
void report_copy_failure(View* view, const std::string& reason) {
  const std::string text = "Could not copy: " + reason;
  show_status_message(view->status_bar, &view->said, text.c_str());
}

}  // namespace

void pixbuf_to_clipboard(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  GdkPixbuf* shown = ed->view.pixbuf_image;
  const Document& doc = ed->doc();
  int W = gdk_pixbuf_get_width(shown);
  int H = gdk_pixbuf_get_height(shown);
  CalcRegion region = {doc.x_img_ROI, doc.y_img_ROI, doc.w_img_ROI, doc.h_img_ROI};
  if (!region_belongs_to_image(doc, W, H) || !clamp_calc_region(&region, W, H))
    region = {0, 0, W, H};
  std::string reason;
  // In view mode Copy gives what Save would write: the image with its matte, or the matte.
  if (!ed->view.in_edit_mode && ed->session.matte_only_wanted) {
    if (!matte_to_clipboard(shown, region, &reason)) report_copy_failure(&ed->view, reason);
    return;
  }
  GdkPixbuf* sub = gdk_pixbuf_new_subpixbuf(shown, region.x, region.y, region.w, region.h);
  GdkPixbuf* copy = gdk_pixbuf_copy(sub);
  g_object_unref(sub);
  if (copy == nullptr) {
    report_copy_failure(&ed->view, "not enough memory for the copy");
    return;
  }
  if (!clean_pixbuf_edges(copy, ed->session.clean_edges_wanted)) {
    g_object_unref(copy);
    report_copy_failure(&ed->view, kCleanEdgesNoMemory);
    return;
  }
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_set_image(clipboard, copy);
  gtk_clipboard_store(clipboard);
  g_object_unref(copy);
}
