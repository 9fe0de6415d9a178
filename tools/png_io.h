// Reading and writing 8-bit PNG files (libpng), for the command-line tool, its tests and the
// benchmark. No GTK, no GLib.
#ifndef QUILLANE_TOOLS_PNG_IO_H
#define QUILLANE_TOOLS_PNG_IO_H

#include <cstdint>
#include <string>
#include <vector>

// Pixels of an 8-bit image, rows top to bottom without padding: channels 1 (grey), 3 (RGB)
// or 4 (RGBA, not premultiplied).
struct PngPixels {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> data;  // width * height * channels bytes
};

// Reads path into *out, converted to the requested channel count (1, 3 or 4; grey from
// colour uses libpng's conversion). Returns false with a one-line reason in *error.
bool png_read(const std::string& path, int channels, PngPixels* out, std::string* error);

// Writes pixels to path (grey, RGB or RGBA by pixels.channels). Returns false with a
// one-line reason in *error; a partly written file may be left then.
bool png_write(const std::string& path, const PngPixels& pixels, std::string* error);

// The same to the open file descriptor fd (left open, written from its current offset), the
// PNG encoded in memory first; a failed write gives the system's reason.
bool png_write_fd(int fd, const PngPixels& pixels, std::string* error);

// Nearest-neighbour resize of pixels to w x h (pixel centres aligned), any channel count.
// Returns the new pixels.
PngPixels resize_nearest(const PngPixels& in, int w, int h);

#endif
