#include "fileio/image_load.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

// libjpeg's error manager that counts warnings instead of printing them and turns a fatal
// error into a longjmp; the last message is kept for the user.
struct JpegCheck {
  jpeg_error_mgr mgr;
  std::jmp_buf fatal;
  char message[JMSG_LENGTH_MAX];
};

// libjpeg's fatal error: keep the message and leave the decoder.
void jpeg_fatal(j_common_ptr info) {
  JpegCheck* check = reinterpret_cast<JpegCheck*>(info->err);
  info->err->format_message(info, check->message);
  std::longjmp(check->fatal, 1);
}

// libjpeg's warnings and traces: count the warnings, keep the first one's text.
void jpeg_message(j_common_ptr info, int level) {
  // level -1 is a warning: corrupt data or a premature end of the file.
  if (level < 0 && info->err->num_warnings++ == 0)
    info->err->format_message(info, reinterpret_cast<JpegCheck*>(info->err)->message);
}

// Decodes the whole JPEG at 1/8 scale (every entropy-coded byte is still read) and returns
// false with *error set (libjpeg's message) when it reports damage or a premature end.
bool jpeg_intact(const char* filename, GError** error) {
  FILE* file = std::fopen(filename, "rb");
  if (file == nullptr) return true;  // the loader reports it
  jpeg_decompress_struct info;
  JpegCheck check;
  std::memset(check.message, 0, sizeof check.message);
  info.err = jpeg_std_error(&check.mgr);
  check.mgr.error_exit = jpeg_fatal;
  check.mgr.emit_message = jpeg_message;
  volatile bool intact = false;  // read after a longjmp
  if (setjmp(check.fatal) == 0) {
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = 8;
    info.dct_method = JDCT_IFAST;
    jpeg_start_decompress(&info);
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               info.output_width * info.output_components, 1);
    while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, row, 1);
    jpeg_finish_decompress(&info);
    intact = check.mgr.num_warnings == 0;
  }
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  if (!intact) {
    gchar* name = g_filename_display_basename(filename);
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                "the JPEG file \xe2\x80\x9c%s\xe2\x80\x9d is damaged or incomplete (%s)", name,
                check.message);
    g_free(name);
  }
  return intact;
}

// True, with *error set, when width or height exceeds max_side (0: no limit).
bool too_large(const char* filename, int width, int height, int max_side, GError** error) {
  if (max_side <= 0 || (width <= max_side && height <= max_side)) return false;
  gchar* name = g_filename_display_basename(filename);
  g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
              "\xe2\x80\x9c%s\xe2\x80\x9d is %dx%d pixels; at most %d in each direction can be "
              "shown",
              name, width, height, max_side);
  g_free(name);
  return true;
}

}  // namespace

GdkPixbuf* load_image_file(const char* filename, int max_side, GError** error) {
  if (g_file_test(filename, G_FILE_TEST_IS_DIR)) {  // the loader would say "contains no data"
    gchar* name = g_filename_display_name(filename);
    g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_ISDIR,
                "\xe2\x80\x9c%s\xe2\x80\x9d is a directory", name);
    g_free(name);
    return nullptr;
  }
  int width = 0, height = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(filename, &width, &height);
  if (format != nullptr && too_large(filename, width, height, max_side, error)) return nullptr;
  gchar* format_name = format != nullptr ? gdk_pixbuf_format_get_name(format) : nullptr;
  const bool jpeg = format_name != nullptr && std::strcmp(format_name, "jpeg") == 0;
  g_free(format_name);
  if (jpeg && !jpeg_intact(filename, error)) return nullptr;

  GdkPixbuf* loaded = gdk_pixbuf_new_from_file(filename, error);
  if (loaded == nullptr) return nullptr;
  GdkPixbuf* oriented = gdk_pixbuf_apply_embedded_orientation(loaded);
  g_object_unref(loaded);
  if (oriented == nullptr) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "not enough memory to turn the image");
    return nullptr;
  }
  if (gdk_pixbuf_get_bits_per_sample(oriented) != 8 ||
      gdk_pixbuf_get_colorspace(oriented) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_n_channels(oriented) < 3) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_UNKNOWN_TYPE,
                        "unsupported pixel format");
    g_object_unref(oriented);
    return nullptr;
  }
  // A format whose size could not be read before decoding is checked now.
  if (too_large(filename, gdk_pixbuf_get_width(oriented), gdk_pixbuf_get_height(oriented), max_side,
                error)) {
    g_object_unref(oriented);
    return nullptr;
  }
  return oriented;
}
