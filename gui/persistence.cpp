#include "gui/persistence.h"

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
      std::printf("CreateDirectory failed (%d)\n", error);
      std::fflush(stdout);
      g_free(copy);
      return nullptr;
    }
    copy[i] = separator;
  }
  g_free(copy);
  return std::fopen(path, mode);
}

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
  gtk_window_move(GTK_WINDOW(window), g[0], g[1]);
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
    std::printf("can't write persistence data %s", appdata);
    std::fflush(stdout);
    return;
  }
  unsigned char bytes[16];
  geometry_encode(g, bytes);
  std::fwrite(bytes, 1, sizeof bytes, file);
  std::fclose(file);
}
