#include "gui/memory_budget.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

double memory_budget(const Calculation& calc) {
  if (calc.memory_budget > 0) return calc.memory_budget;
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  double budget = pages > 0 && page > 0 ? 0.8 * double(pages) * double(page) : 8e9;
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    budget = std::min(budget, 0.8 * double(limit.rlim_cur));
  return budget;
}

std::string memory_amount(double bytes) {
  char text[32];
  if (bytes >= 1e9)
    std::snprintf(text, sizeof text, "%.0f GB", bytes / 1e9);
  else
    std::snprintf(text, sizeof text, "%.0f MB", std::max(bytes / 1e6, 1.0));
  return text;
}

double open_needs(int width, int height, int mode, double scale) {
  const double pixels = double(width) * height;
  // A layer: the decoded file, its copy as the layer's base, the layer.
  if (mode == 2) return 12 * pixels;
  // An image: the decoded file and its turned copy, the image with and without alpha, the
  // stroke layer, the image's surface copy, (alpha as input) the layer's base; the view and,
  // below 100 %, the image scaled to it.
  return (mode == 1 ? 24 : 20) * pixels + 8 * pixels * scale * scale;
}

gboolean open_fits_in_memory(const Editor& ed, const gchar* filename, int mode, GError** error) {
  int w = 0, h = 0;
  if (gdk_pixbuf_get_file_info(filename, &w, &h) == nullptr || w <= 0 || h <= 0) return TRUE;
  const double need = open_needs(w, h, mode, ed.view.scale), can = memory_budget(ed.calc);
  if (need <= can) return TRUE;
  gchar* name = g_filename_display_basename(filename);
  g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_NOMEM,
              "\xe2\x80\x9c%s\xe2\x80\x9d is %dx%d pixels: opening it needs about %s of "
              "memory, and this computer can give about %s",
              name, w, h, memory_amount(need).c_str(), memory_amount(can).c_str());
  g_free(name);
  return FALSE;
}
