#include "tools/png_io.h"

#include <png.h>

#include <cstring>

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

bool png_write(const std::string& path, const PngPixels& pixels, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(pixels.width);
  image.height = static_cast<png_uint_32>(pixels.height);
  image.format = format_for(pixels.channels);
  if (!valid_channels(pixels.channels)) {
    *error = "unsupported channel count";
    return false;
  }
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data.data(), 0, nullptr)) {
    *error = image.message;
    return false;
  }
  return true;
}
