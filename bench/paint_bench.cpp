// Painting on a large photograph: time per stroke segment, with and without the repaint of the
// window that follows it. Needs an X server (run under xvfb-run); prints a table.
//
//   paint_bench [WIDTH HEIGHT [SEGMENTS]]     default 6000 x 4000 (24 megapixels), 2000
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <glib/gstdio.h>

#include "gui/brush.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/view.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void drain() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  gdk_window_process_all_updates();
  gdk_flush();
}

GdkEvent* motion_event(GtkWidget* canvas, double x, double y) {
  GdkEvent* ev = gdk_event_new(GDK_MOTION_NOTIFY);
  ev->motion.window = GDK_WINDOW(g_object_ref(canvas->window));
  ev->motion.x = x;
  ev->motion.y = y;
  ev->motion.state = GDK_BUTTON1_MASK;
  return ev;
}

// One long stroke as a spiral of `segments` motion events; returns ms per segment.
double stroke(Editor* ed, int w, int h, int segments, bool repaint) {
  GtkWidget* drawing_area = ed->view.drawing_area;
  double cx = w * ed->view.scale / 2, cy = h * ed->view.scale / 2;
  GdkEvent* press = gdk_event_new(GDK_BUTTON_PRESS);
  press->button.window = GDK_WINDOW(g_object_ref(drawing_area->window));
  press->button.button = 1;
  press->button.x = cx;
  press->button.y = cy;
  gtk_widget_event(drawing_area, press);
  gdk_event_free(press);
  if (repaint) drain();

  auto t0 = Clock::now();
  for (int i = 1; i <= segments; ++i) {
    double a = i * 0.05, r = std::min(cx, cy) * 0.9 * i / segments;
    GdkEvent* ev = motion_event(drawing_area, cx + r * std::cos(a), cy + r * std::sin(a));
    gtk_widget_event(drawing_area, ev);
    gdk_event_free(ev);
    if (repaint) drain();
  }
  double per_segment = ms_since(t0) / segments;
  GdkEvent* up = motion_event(drawing_area, cx, cy);
  up->motion.state = 0;
  gtk_widget_event(drawing_area, up);
  gdk_event_free(up);
  drain();
  return per_segment;
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    std::printf("paint_bench: no X display (run under xvfb-run)\n");
    return 0;
  }
  int w = argc > 2 ? std::atoi(argv[1]) : 6000, h = argc > 2 ? std::atoi(argv[2]) : 4000;
  int segments = argc > 3 ? std::atoi(argv[3]) : 2000;

  gchar* dir = g_dir_make_tmp("paint-bench-XXXXXX", nullptr);
  std::string path = std::string(dir) + "/large.png";
  GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  guchar* px = gdk_pixbuf_get_pixels(image);
  int stride = gdk_pixbuf_get_rowstride(image);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      guchar* p = px + static_cast<size_t>(y) * stride + x * 3;
      p[0] = x & 255;
      p[1] = y & 255;
      p[2] = (x ^ y) & 255;
    }
  gdk_pixbuf_save(image, path.c_str(), "png", nullptr, "compression", "1", nullptr);
  g_object_unref(image);

  Editor* ed = quillane_shared_objects_init();
  gchar* icons = quillane_icon_dir();
  quillane_create_main_window(ed, icons);
  g_free(icons);
  drain();

  auto t0 = Clock::now();
  GError* error = nullptr;
  if (!open_image_file(ed, path.c_str(), OPEN_DEFAULT, &error)) {
    std::fprintf(stderr, "paint_bench: %s\n", error->message);
    return 1;
  }
  drain();
  double open_ms = ms_since(t0);

  std::printf("image %d x %d (%.1f megapixels), opened in %.0f ms; %d segments per stroke\n", w, h,
              w * h / 1e6, open_ms, segments);
  std::printf("%-8s %-8s %-8s %22s %22s\n", "zoom", "brush", "tool", "ms/segment (paint)",
              "ms/segment (+repaint)");
  for (double zoom : {100.0, 25.0, 200.0}) {
    gtk_adjustment_set_value(ed->view.zoom_adjustment, zoom);
    drain();
    for (int brush : {10, 60}) {
      gtk_adjustment_set_value(ed->view.brush_adjustment, brush);
      for (int eraser = 0; eraser < 2; ++eraser) {
        if (eraser)
          cb_set_Eraser(nullptr, ed);
        else
          cb_set_FG(nullptr, ed);
        double paint = stroke(ed, w, h, segments, false);
        double repaint = stroke(ed, w, h, segments / 4, true);
        std::printf("%-8.1f %-8d %-8s %22.3f %22.3f\n", zoom, brush, eraser ? "eraser" : "brush",
                    paint, repaint);
      }
    }
  }
  remove(path.c_str());
  g_rmdir(dir);
  g_free(dir);
  return 0;
}
