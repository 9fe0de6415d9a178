#include "gui/display_prefs.h"

#include <cstdio>
#include <cstring>

#include <glib.h>

#include "gui/persistence.h"
#include "gui/platform.h"

char* display_prefs_path() {
  char* base = user_application_data_dir();
  char* path = g_strdup_printf("%s/Tessaly/quillane/quillane-view-1.0", base);
  g_free(base);
  return path;
}

void read_display_prefs(const char* path, MatteDisplay* display) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) return;
  char line[200];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    char name[40];
    unsigned r, g, b;
    if (std::sscanf(line, "show %39s", name) == 1) {
      MatteShow show = matte_show_from_name(name);
      if (show != SHOW_COUNT) display->show = show;
    } else if (std::sscanf(line, "overlay-colour %u %u %u", &r, &g, &b) == 3 && r < 65536 &&
               g < 65536 && b < 65536) {
      display->tint.red = static_cast<guint16>(r);
      display->tint.green = static_cast<guint16>(g);
      display->tint.blue = static_cast<guint16>(b);
    }
  }
  std::fclose(file);
}

bool write_display_prefs(const char* path, const MatteDisplay& display) {
  FILE* file = fopen_p(path, "w");
  bool ok = file != nullptr &&
            std::fprintf(file, "show %s\noverlay-colour %u %u %u\n", matte_show_name(display.show),
                         display.tint.red, display.tint.green, display.tint.blue) > 0;
  if (file != nullptr && std::fclose(file) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "can't write view settings %s\n", path);
  return ok;
}
