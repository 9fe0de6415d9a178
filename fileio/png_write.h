// Encoding 8-bit PNG files with libpng, the one encoder of the editor's "Matte only" and the
// command-line tool, so that the same pixels give the same bytes in both. No GLib.
#ifndef QUILLANE_FILEIO_PNG_WRITE_H
#define QUILLANE_FILEIO_PNG_WRITE_H

#include <cstdint>
#include <string>
#include <vector>

// Whether 8-bit images of channels bytes a pixel can be read and written: 1 grey, 3 RGB, 4 RGBA.
bool png_channels_supported(int channels);

// libpng's simplified-API format code (PNG_FORMAT_*) for a supported channel count.
unsigned png_simplified_format(int channels);

// Encodes an 8-bit image as PNG (an sRGB chunk, no others; Paeth filter, run-length deflate).
// In pixels: height rows of stride bytes, each width pixels of channels bytes (1 grey, 3 RGB,
//   4 RGBA not premultiplied), rows top to bottom. stride >= width * channels.
// Out *png: the whole PNG file (replaced). Returns false with a one-line reason in *error for
// a bad size or channel count or when memory runs out.
bool png_encode(const uint8_t* pixels, int width, int height, int channels, int stride,
                std::vector<uint8_t>* png, std::string* error);

// Writes size bytes of data to the open descriptor fd (left open, from its current offset),
// retrying interrupted and short writes. Returns false with the system's reason in *error.
bool write_all(int fd, const uint8_t* data, size_t size, std::string* error);

// png_encode() of the pixels, then write_all() of the PNG to fd.
bool png_write_pixels_fd(int fd, const uint8_t* pixels, int width, int height, int channels,
                         int stride, std::string* error);

#endif
