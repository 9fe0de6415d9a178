#include "gui/persistence.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gui/platform.h"

char* appdata = nullptr;

void geometry_encode(const int values[4], unsigned char bytes[16]) {
  for (int i = 0; i < 4; ++i) {
    uint32_t v = static_cast<uint32_t>(values[i]);
    for (int b = 0; b < 4; ++b) bytes[i * 4 + b] = (v >> (8 * b)) & 255;
  }
}

void geometry_decode(const unsigned char bytes[16], int values[4]) {
  for (int i = 0; i < 4; ++i) {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b) v |= uint32_t(bytes[i * 4 + b]) << (8 * b);
    values[i] = static_cast<int32_t>(v);
  }
}

FILE* fopen_p(const char* path, const char* mode) {
  char* copy = g_strdup(path);
  for (size_t i = 1; copy[i] != '\0'; ++i) {
    if (copy[i] != '/' && copy[i] != '\\') continue;
    char separator = copy[i];
    copy[i] = '\0';
    int error = create_directory(copy);
    if (error != 0) {
      std::fprintf(stderr, "CreateDirectory failed (%d)\n", error);
      g_free(copy);
      return nullptr;
    }
    copy[i] = separator;
  }
  g_free(copy);
  return std::fopen(path, mode);
}

namespace {

// Whether a window whose frame starts at (x, y) and is width wide has enough of its title bar
// on one monitor to be dragged: the bar's full height and 40 pixels of its width (64-bit
// sums, so that no record can overflow them).
bool title_bar_reachable(GdkScreen* screen, int x, int y, int width) {
  const int64_t bar = 24, grab = std::min<int64_t>(40, width);
  for (int i = 0; i < gdk_screen_get_n_monitors(screen); ++i) {
    GdkRectangle m;
    gdk_screen_get_monitor_geometry(screen, i, &m);
    const int64_t left = std::max<int64_t>(x, m.x);
    const int64_t right = std::min<int64_t>(int64_t(x) + width, int64_t(m.x) + m.width);
    if (right - left >= grab && y >= m.y && int64_t(y) + bar <= int64_t(m.y) + m.height)
      return true;
  }
  return false;
}

}  // namespace

void set_configuration(GtkWidget* window) {
  g_free(appdata);
  char* base = user_application_data_dir();
  appdata = g_strdup_printf("%s/Tessaly/quillane/quillane-1.0", base);
  g_free(base);

  FILE* file = std::fopen(appdata, "rb");
  if (file == nullptr) return;
  unsigned char bytes[16];
  size_t got = std::fread(bytes, 1, sizeof bytes, file);
  std::fclose(file);
  if (got != sizeof bytes) return;

  int g[4];
  geometry_decode(bytes, g);
  GdkScreen* screen = gtk_widget_get_screen(window);
  if (g[2] <= 0 || g[3] <= 0 || g[2] > gdk_screen_get_width(screen) ||
      g[3] > gdk_screen_get_height(screen))
    return;
  gtk_window_resize(GTK_WINDOW(window), g[2], g[3]);
  if (title_bar_reachable(screen, g[0], g[1], g[2])) {
    gtk_window_move(GTK_WINDOW(window), g[0], g[1]);
    return;
  }
  // Saved on a monitor that is gone: the window would open out of reach. Centre it.
  GdkRectangle m;
  gdk_screen_get_monitor_geometry(screen, gdk_screen_get_primary_monitor(screen), &m);
  gtk_window_move(GTK_WINDOW(window), m.x + (m.width - g[2]) / 2, m.y + (m.height - g[3]) / 2);
}

void pre_quit_event(GtkWidget* widget) {
  if (appdata == nullptr) return;
  int g[4] = {0, 0, widget->allocation.width, widget->allocation.height};
  if (widget->window != nullptr) {
    GdkWindow* top = gdk_window_get_effective_toplevel(widget->window);
    gdk_window_get_root_origin(top, &g[0], &g[1]);
  }
  FILE* file = fopen_p(appdata, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "can't write persistence data %s\n", appdata);
    return;
  }
  unsigned char bytes[16];
  geometry_encode(g, bytes);
  std::fwrite(bytes, 1, sizeof bytes, file);
  std::fclose(file);
}
