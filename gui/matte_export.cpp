#include "gui/matte_export.h"

#include <cstring>
#include <new>

#include "fileio/png_write.h"

bool matte_of(GdkPixbuf* pixbuf, const CalcRegion& region, std::vector<uint8_t>* grey) {
  try {
    grey->assign(static_cast<size_t>(region.w) * region.h, 255);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!gdk_pixbuf_get_has_alpha(pixbuf)) return true;
  const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < region.h; ++y) {
    const guchar* row = pixels + static_cast<size_t>(region.y + y) * stride + region.x * 4;
    uint8_t* out = grey->data() + static_cast<size_t>(y) * region.w;
    for (int x = 0; x < region.w; ++x) out[x] = row[x * 4 + 3];
  }
  return true;
}

bool encode_matte_png(GdkPixbuf* pixbuf, const CalcRegion& region, std::vector<uint8_t>* png,
                      std::string* reason) {
  std::vector<uint8_t> grey;
  if (!matte_of(pixbuf, region, &grey)) {
    *reason = "not enough memory for the matte";
    return false;
  }
  return png_encode(grey.data(), region.w, region.h, 1, region.w, png, reason);
}

namespace {

// What the clipboard holds while Quillane owns it: the grey PNG, and the same picture as a
// pixbuf for the other image formats. Freed when the clipboard is cleared.
struct ClipboardMatte {
  std::vector<uint8_t> png;
  GdkPixbuf* picture = nullptr;
  ~ClipboardMatte() {
    if (picture != nullptr) g_object_unref(picture);
  }
};

void give_matte(GtkClipboard*, GtkSelectionData* data, guint, gpointer owner) {
  const ClipboardMatte* matte = static_cast<const ClipboardMatte*>(owner);
  GdkAtom target = gtk_selection_data_get_target(data);
  if (target == gdk_atom_intern_static_string("image/png"))
    gtk_selection_data_set(data, target, 8, matte->png.data(),
                           static_cast<gint>(matte->png.size()));
  else
    gtk_selection_data_set_pixbuf(data, matte->picture);
}

void forget_matte(GtkClipboard*, gpointer owner) {
  delete static_cast<ClipboardMatte*>(owner);
}

// The matte as an opaque grey RGB picture (red = green = blue = alpha); null without memory.
GdkPixbuf* grey_picture(const std::vector<uint8_t>& grey, int w, int h) {
  GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  if (p == nullptr) return nullptr;
  guchar* pixels = gdk_pixbuf_get_pixels(p);
  const int stride = gdk_pixbuf_get_rowstride(p);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      std::memset(pixels + static_cast<size_t>(y) * stride + x * 3,
                  grey[static_cast<size_t>(y) * w + x], 3);
  return p;
}

}  // namespace

bool matte_to_clipboard(GdkPixbuf* pixbuf, const CalcRegion& region, std::string* reason) {
  ClipboardMatte* matte = new (std::nothrow) ClipboardMatte();
  std::vector<uint8_t> grey;
  if (matte == nullptr || !matte_of(pixbuf, region, &grey) ||
      !png_encode(grey.data(), region.w, region.h, 1, region.w, &matte->png, reason) ||
      (matte->picture = grey_picture(grey, region.w, region.h)) == nullptr) {
    if (reason->empty()) *reason = "not enough memory for the matte";
    delete matte;
    return false;
  }
  GtkTargetList* list = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_image_targets(list, 0, TRUE);
  gint n = 0;
  GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &n);
  gtk_target_list_unref(list);
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  const bool owned =
      gtk_clipboard_set_with_data(clipboard, targets, n, give_matte, forget_matte, matte);
  gtk_target_table_free(targets, n);
  if (!owned) {
    delete matte;
    *reason = "the clipboard could not be taken";
    return false;
  }
  gtk_clipboard_store(clipboard);
  return true;
}
