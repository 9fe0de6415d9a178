#include "numeric/tiff.h"

#include <cstdio>
#include <cstdlib>

#include "numeric/allocate.h"

namespace {

uint8_t** new_plane(int height, int width) {
  return get_img_t<uint8_t>(width, height);
}

int colour_plane_count(char type) {
  return type == 'c' ? 3 : type == 'a' ? 4 : 0;
}

}  // namespace

int get_TIFF(TIFF_img* img, int height, int width, char type) {
  img->height = height;
  img->width = width;
  img->TIFF_type = type;
  img->compress_type = 'u';

  if (height <= 0 || width <= 0) {
    std::fprintf(stderr, "tiff:  function get_TIFF:\n");
    std::fprintf(stderr, "image height and width must be positive\n");
    return 1;
  }
  switch (type) {
    case 'g':
      img->plane = new_plane(height, width);
      return 0;
    case 'p':
      img->plane = new_plane(height, width);
      img->palette = get_img_t<uint8_t>(3, 256);
      return 0;
    case 'c':
    case 'a': {
      int n = colour_plane_count(type);
      img->channels = static_cast<uint8_t***>(mget_spc(n, sizeof(uint8_t**)));
      for (int i = 0; i < n; ++i) img->channels[i] = new_plane(height, width);
      return 0;
    }
    default:
      std::fprintf(stderr, "tiff:  function get_TIFF:\n");
      std::fprintf(stderr, "allocation for image of type %c is not supported", type);
      return 1;
  }
}

void free_TIFF(TIFF_img* img) {
  switch (img->TIFF_type) {
    case 'g':
      free_img_t(img->plane);
      break;
    case 'p':
      free_img_t(img->plane);
      free_img_t(img->palette);
      break;
    case 'c':
    case 'a': {
      int n = colour_plane_count(img->TIFF_type);
      for (int i = 0; i < n; ++i) free_img_t(img->channels[i]);
      free_spc(img->channels);
      break;
    }
    default:
      break;
  }
}
