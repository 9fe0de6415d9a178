#include "tools/png_io.h"

#include <png.h>

#include <cstring>

#include "fileio/png_write.h"

bool png_read(const std::string& path, int channels, PngPixels* out, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_channels_supported(channels)) {
    *error = "unsupported channel count";
    return false;
  }
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    *error = image.message;
    return false;
  }
  image.format = png_simplified_format(channels);
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
  image->format = png_simplified_format(pixels.channels);
  if (!png_channels_supported(pixels.channels)) *error = "unsupported channel count";
  return png_channels_supported(pixels.channels);
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
