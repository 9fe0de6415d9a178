#include "gui/file_preview.h"

#include <cstring>

GdkPixbuf* load_preview(const char* filename, int size) {
  int w = 0, h = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(filename, &w, &h);
  if (format == nullptr) return nullptr;
  gchar* name = gdk_pixbuf_format_get_name(format);
  const bool scaled_decoding = name != nullptr && std::strcmp(name, "jpeg") == 0;
  g_free(name);
  // A size the header does not tell cannot be judged: no preview rather than a surprise.
  if (!scaled_decoding && (w <= 0 || h <= 0 || double(w) * h > kPreviewFullDecodeLimit))
    return nullptr;
  return gdk_pixbuf_new_from_file_at_size(filename, size, size, nullptr);
}
