#include "fileio/png_write.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

bool png_channels_supported(int channels) {
  return channels == 1 || channels == 3 || channels == 4;
}

unsigned png_simplified_format(int channels) {
  // PNG_FORMAT_GRAY is 0, so validity is checked apart.
  return channels == 1 ? PNG_FORMAT_GRAY : channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
}

bool png_encode(const uint8_t* pixels, int width, int height, int channels, int stride,
                std::vector<uint8_t>* png, std::string* error) {
  if (!png_channels_supported(channels) || width < 1 || height < 1 || stride < width * channels) {
    *error = "unsupported image size or channel count";
    return false;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = png_simplified_format(channels);
  // One pass into room for the largest file libpng can make of these pixels: asking for the
  // size first would encode the image twice.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  try {
    png->resize(size);
  } catch (const std::bad_alloc&) {
    *error = "not enough memory to encode the PNG";
    return false;
  }
  if (!png_image_write_to_memory(&image, png->data(), &size, 0, pixels, stride, nullptr)) {
    *error = image.message;
    return false;
  }
  png->resize(size);
  return true;
}

bool write_all(int fd, const uint8_t* data, size_t size, std::string* error) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? std::strerror(errno) : "nothing could be written";
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool png_write_pixels_fd(int fd, const uint8_t* pixels, int width, int height, int channels,
                         int stride, std::string* error) {
  std::vector<uint8_t> png;
  return png_encode(pixels, width, height, channels, stride, &png, error) &&
         write_all(fd, png.data(), png.size(), error);
}
