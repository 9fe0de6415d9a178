#include "fileio/image_intact.h"

#include <jpeglib.h>
#include <sys/stat.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

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

// Decodes the whole JPEG at 1/8 scale (every entropy-coded byte is still read). Returns
// false with *reason set (libjpeg's message) when it reports damage or a premature end.
bool jpeg_intact(FILE* file, std::string* reason) {
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
  if (!intact) *reason = check.message;
  return intact;
}

// A file read from its start, with its size, for the checks of the headers.
class Bytes {
 public:
  Bytes(FILE* file, long size) : file_(file), size_(size) {}
  long size() const { return size_; }
  // Reads n bytes at the current position into out; false past the end.
  bool read(uint8_t* out, long n) { return std::fread(out, 1, n, file_) == static_cast<size_t>(n); }
  // The next byte, or -1 at the end.
  int next() { return std::fgetc(file_); }
  // Skips n bytes; false when that passes the end.
  bool skip(long n) { return std::fseek(file_, n, SEEK_CUR) == 0 && std::ftell(file_) <= size_; }

 private:
  FILE* file_;
  long size_;
};

// Little-endian numbers of 16 and 32 bits at p.
uint32_t le16(const uint8_t* p) {
  return p[0] | p[1] << 8;
}
uint32_t le32(const uint8_t* p) {
  return le16(p) | le16(p + 2) << 16;
}

// Skips a GIF colour table announced by flags (bit 7, size in bits 0-2).
bool skip_colour_table(Bytes* in, int flags) {
  return (flags & 0x80) == 0 || in->skip(3L << ((flags & 7) + 1));
}

// Skips GIF data sub-blocks up to their terminator; false when the file ends first.
bool skip_sub_blocks(Bytes* in) {
  for (int n; (n = in->next()) != 0;)
    if (n < 0 || !in->skip(n)) return false;
  return true;
}

// Walks a GIF's blocks; a file may end after any whole block (some writers leave out the
// trailer), not inside one, and not before its first image.
bool gif_intact(Bytes* in, std::string* reason) {
  uint8_t header[13];
  if (!in->read(header, 13) || !skip_colour_table(in, header[10])) {
    *reason = "it ends inside its header";
    return false;
  }
  for (int images = 0;;) {
    const int block = in->next();
    if (block < 0 || block == 0x3b) {
      if (images == 0) *reason = "it ends before its first image";
      return images > 0;
    }
    bool whole = true;
    if (block == 0x21) {  // extension: label, data
      whole = in->next() >= 0 && skip_sub_blocks(in);
    } else if (block == 0x2c) {  // image: descriptor, colours, code size, data
      uint8_t d[9];
      whole =
          in->read(d, 9) && skip_colour_table(in, d[8]) && in->next() >= 0 && skip_sub_blocks(in);
      ++images;
    } else {
      return true;  // not a block: the loader judges what follows
    }
    if (!whole) {
      *reason = "it ends inside a block";
      return false;
    }
  }
}

// A BMP's pixels must all be in the file: its header gives where they start and, through the
// size, bit depth and compression, how many bytes they take.
bool bmp_intact(Bytes* in, std::string* reason) {
  uint8_t h[38] = {};
  if (!in->read(h, 26)) {
    *reason = "it ends inside its header";
    return false;
  }
  const long header = le32(h + 14);
  int64_t width, height, bits, compression = 0, image_size = 0;
  if (header == 12) {  // OS/2 core header
    width = le16(h + 18);
    height = le16(h + 20);
    bits = le16(h + 24);
  } else {
    if (header < 40 || !in->read(h + 26, 12)) return true;  // the loader judges
    width = static_cast<int32_t>(le32(h + 18));
    height = static_cast<int32_t>(le32(h + 22));
    bits = le16(h + 28);
    compression = le32(h + 30);
    image_size = le32(h + 34);
  }
  if (height < 0) height = -height;
  int64_t need = le32(h + 10);
  if (compression == 0 || compression == 3 || compression == 6)  // RGB, bit fields
    need += (width * bits + 31) / 32 * 4 * height;
  else
    need += image_size;  // run-length: the size the header gives, if any
  if (width <= 0 || need <= in->size()) return true;
  *reason = "it is " + std::to_string(in->size()) + " bytes long; its header asks for " +
            std::to_string(need);
  return false;
}

// Every image of an ICO must lie inside the file.
bool ico_intact(Bytes* in, std::string* reason) {
  uint8_t h[6], entry[16];
  if (!in->read(h, 6)) {
    *reason = "it ends inside its header";
    return false;
  }
  for (uint32_t i = 0; i < le16(h + 4); ++i) {
    if (!in->read(entry, 16)) {
      *reason = "it ends inside its list of images";
      return false;
    }
    if (int64_t(le32(entry + 8)) + le32(entry + 12) > in->size()) {
      *reason = "image " + std::to_string(i + 1) + " reaches past its end";
      return false;
    }
  }
  return true;
}

}  // namespace

bool image_file_intact(const char* filename, const char* format, GError** error) {
  const char* kind = std::strcmp(format, "jpeg") == 0  ? "JPEG"
                     : std::strcmp(format, "gif") == 0 ? "GIF"
                     : std::strcmp(format, "bmp") == 0 ? "BMP"
                     : std::strcmp(format, "ico") == 0 ? "ICO"
                                                       : nullptr;
  if (kind == nullptr) return true;
  FILE* file = std::fopen(filename, "rb");
  if (file == nullptr) return true;  // the loader reports it
  struct stat st;
  Bytes in(file, fstat(fileno(file), &st) == 0 ? static_cast<long>(st.st_size) : 0);
  std::string reason;
  const bool intact = kind[0] == 'J'   ? jpeg_intact(file, &reason)
                      : kind[0] == 'G' ? gif_intact(&in, &reason)
                      : kind[0] == 'B' ? bmp_intact(&in, &reason)
                                       : ico_intact(&in, &reason);
  std::fclose(file);
  if (!intact) {
    gchar* name = g_filename_display_basename(filename);
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                "the %s file \xe2\x80\x9c%s\xe2\x80\x9d is damaged or incomplete (%s)", kind, name,
                reason.c_str());
    g_free(name);
  }
  return intact;
}
