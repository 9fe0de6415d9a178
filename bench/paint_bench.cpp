// Painting on a large photograph: time per stroke segment, with and without the repaint of the
// window that follows it; then lasso fills of a 12-megapixel photograph (4000 x 3000): the
// whole area as a polygon, a freehand circle, the eraser, and the undo that replays a fill.
// Needs an X server (run under xvfb-run); prints two tables.
//
//   paint_bench [WIDTH HEIGHT [SEGMENTS]]     default 6000 x 4000 (24 megapixels), 2000
//   paint_bench --fills                       the fills only
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <glib/gstdio.h>

#include "gui/brush.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/tool_group.h"
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

// A button event of type at window point (x, y), sent to the canvas.
void button(GtkWidget* canvas, GdkEventType type, double x, double y, guint state) {
  GdkEvent* ev = gdk_event_new(type);
  ev->button.window = GDK_WINDOW(g_object_ref(canvas->window));
  ev->button.button = 1;
  ev->button.x = x;
  ev->button.y = y;
  ev->button.state = state;
  gtk_widget_event(canvas, ev);
  gdk_event_free(ev);
}

// One fill of the image's whole area as a polygon of its four corners; returns the ms of the
// double click that fills it (and of the repaint, when asked).
double polygon_fill(Editor* ed, int w, int h, bool repaint) {
  GtkWidget* canvas = ed->view.drawing_area;
  const double s = ed->view.scale, x1 = w * s - 1, y1 = h * s - 1;
  for (auto [x, y] : {std::pair{0.0, 0.0}, {x1, 0.0}, {x1, y1}, {0.0, y1}}) {
    button(canvas, GDK_BUTTON_PRESS, x, y, GDK_CONTROL_MASK);
    button(canvas, GDK_BUTTON_RELEASE, x, y, GDK_BUTTON1_MASK);
  }
  drain();
  auto t0 = Clock::now();
  button(canvas, GDK_2BUTTON_PRESS, 0, y1, 0);
  if (repaint) drain();
  double ms = ms_since(t0);
  drain();
  return ms;
}

// A freehand circle of 720 points around the middle, 0.45 of the shorter side in radius;
// returns the ms of the release that fills it.
double freehand_fill(Editor* ed, int w, int h, bool repaint) {
  GtkWidget* canvas = ed->view.drawing_area;
  const double s = ed->view.scale, cx = w * s / 2, cy = h * s / 2, r = std::min(cx, cy) * 0.9;
  button(canvas, GDK_BUTTON_PRESS, cx + r, cy, 0);
  for (int i = 1; i <= 720; ++i) {
    GdkEvent* ev =
        motion_event(canvas, cx + r * std::cos(i * M_PI / 360), cy + r * std::sin(i * M_PI / 360));
    gtk_widget_event(canvas, ev);
    gdk_event_free(ev);
  }
  drain();
  auto t0 = Clock::now();
  button(canvas, GDK_BUTTON_RELEASE, cx + r, cy, GDK_BUTTON1_MASK);
  if (repaint) drain();
  double ms = ms_since(t0);
  drain();
  return ms;
}

// The lasso on a 12-megapixel photograph: ms per fill, without and with the repaint.
void fill_table(Editor* ed, const std::string& dir) {
  const int w = 4000, h = 3000;
  const std::string path = dir + "/fills.png";
  GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  gdk_pixbuf_fill(image, 0x6080a0ff);
  gdk_pixbuf_save(image, path.c_str(), "png", nullptr, "compression", "1", nullptr);
  g_object_unref(image);
  GError* error = nullptr;
  if (!open_image_file(ed, path.c_str(), OPEN_DEFAULT, &error)) {
    std::fprintf(stderr, "paint_bench: %s\n", error->message);
    g_error_free(error);
    return;
  }
  remove(path.c_str());
  drain();
  std::printf("\nlasso fills, image %d x %d (%.1f megapixels); target 50 ms\n", w, h, w * h / 1e6);
  std::printf("%-8s %-22s %16s %18s\n", "zoom", "fill", "ms (fill)", "ms (+repaint)");
  press_tool(ed, TOOL_LASSO);
  const int rounds = 5;
  for (double zoom : {100.0, 50.0, 18.0, 200.0}) {
    gtk_adjustment_set_value(ed->view.zoom_adjustment, zoom);
    drain();
    struct Row {
      const char* name;
      double (*fill)(Editor*, int, int, bool);
      bool eraser;
    } rows[] = {{"whole area (polygon)", polygon_fill, false},
                {"circle (freehand)", freehand_fill, false},
                {"whole area, eraser", polygon_fill, true}};
    for (const Row& row : rows) {
      if (row.eraser)
        cb_set_Eraser(nullptr, ed);
      else
        cb_set_FG(nullptr, ed);
      double plain = 0, shown = 0;
      for (int i = 0; i < rounds; ++i) {
        plain += row.fill(ed, w, h, false) / rounds;
        shown += row.fill(ed, w, h, true) / rounds;
      }
      std::printf("%-8.1f %-22s %16.1f %18.1f\n", zoom, row.name, plain, shown);
    }
    // Undo replays every fill left from the base: keep one, time its replay.
    clear_history(ed);
    cb_set_FG(nullptr, ed);
    polygon_fill(ed, w, h, false);
    polygon_fill(ed, w, h, false);
    auto t0 = Clock::now();
    undo(nullptr, ed);
    std::printf("%-8.1f %-22s %16.1f\n", zoom, "undo (replays a fill)", ms_since(t0));
    drain();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    std::printf("paint_bench: no X display (run under xvfb-run)\n");
    return 0;
  }
  const bool fills_only = argc > 1 && std::string(argv[1]) == "--fills";
  int w = argc > 2 ? std::atoi(argv[1]) : 6000, h = argc > 2 ? std::atoi(argv[2]) : 4000;
  int segments = argc > 3 ? std::atoi(argv[3]) : 2000;

  gchar* dir = g_dir_make_tmp("paint-bench-XXXXXX", nullptr);
  if (fills_only) {
    Editor* ed = quillane_shared_objects_init();
    gchar* icons = quillane_icon_dir();
    quillane_create_main_window(ed, icons);
    g_free(icons);
    drain();
    fill_table(ed, dir);
    g_rmdir(dir);
    g_free(dir);
    return 0;
  }
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
  fill_table(ed, dir);
  g_rmdir(dir);
  g_free(dir);
  return 0;
}
