#include "tools/png_io.h"

#include <png.h>

#include <cstring>

#include "fileio/png_write.h"

namespace {

bool valid_channels(int channels) {
  return channels == 1 || channels == 3 || channels == 4;
}

// libpng's simplified format code (PNG_FORMAT_GRAY is 0, so validity is checked apart).
png_uint_32 format_for(int channels) {
  return channels == 1 ? PNG_FORMAT_GRAY : channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
}

}  // namespace

bool png_read(const std::string& path, int channels, PngPixels* out, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!valid_channels(channels)) {
    *error = "unsupported channel count";
    return false;
  }
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    *error = image.message;
    return false;
  }
  image.format = format_for(channels);
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  out->channels = channels;
  out->data.assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, out->data.data(), 0, nullptr)) {
    *error = image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

namespace {

// Describes pixels for libpng's simplified writer; false with *error for a bad channel count.
bool describe(const PngPixels& pixels, png_image* image, std::string* error) {
  std::memset(image, 0, sizeof *image);
  image->version = PNG_IMAGE_VERSION;
  image->width = static_cast<png_uint_32>(pixels.width);
  image->height = static_cast<png_uint_32>(pixels.height);
  image->format = format_for(pixels.channels);
  if (!valid_channels(pixels.channels)) *error = "unsupported channel count";
  return valid_channels(pixels.channels);
}

}  // namespace

bool png_write(const std::string& path, const PngPixels& pixels, std::string* error) {
  png_image image;
  if (!describe(pixels, &image, error)) return false;
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data.data(), 0, nullptr)) {
    *error = image.message;
    return false;
  }
  return true;
}

bool png_write_fd(int fd, const PngPixels& pixels, std::string* error) {
  // The editor's "Matte only" writes through the same encoder: equal pixels, equal bytes.
  return png_write_pixels_fd(fd, pixels.data.data(), pixels.width, pixels.height, pixels.channels,
                             pixels.width * pixels.channels, error);
}

PngPixels resize_nearest(const PngPixels& in, int w, int h) {
  PngPixels out;
  out.width = w;
  out.height = h;
  out.channels = in.channels;
  out.data.resize(static_cast<size_t>(w) * h * in.channels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t from = static_cast<size_t>((2 * y + 1) * in.height / (2 * h)) * in.width +
                          (2 * x + 1) * in.width / (2 * w);
      for (int c = 0; c < in.channels; ++c)
        out.data[(static_cast<size_t>(y) * w + x) * in.channels + c] =
            in.data[from * in.channels + c];
    }
  return out;
}
