// Painting on a large photograph: time per stroke segment, with and without the repaint of the
// window that follows it; then lasso fills of a 12-megapixel photograph (4000 x 3000): the
// whole area as a polygon, a freehand circle, the eraser, and the undo that replays a fill.
// Needs an X server (run under xvfb-run); prints two tables.
//
//   paint_bench [WIDTH HEIGHT [SEGMENTS]]     default 6000 x 4000 (24 megapixels), 2000
//   paint_bench --fills                       the fills only
//   paint_bench --live IMAGE STROKES [ROUNDS] the live matte on a photograph and its strokes
//                                             (bench/live_inputs makes them), 3 rounds
//
// --live: the window is as large as the screen and zoomed so that the photograph fits. Times
// the live matte's first update (from scratch), then for each round a short background stroke:
// from its end to the first matte on the canvas and to the full-resolution one; then painting
// while an update runs, ms per segment (only segments that ran beside an update count); and a
// calculation from scratch with automatic levels of the same strokes (at the updates' lower
// priority), with the difference of the two mattes (SAD: sum of |a - b| / 255).
#include <chrono>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

#include <glib/gstdio.h>

#include "gui/brush.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/image_source.h"
#include "gui/live_matte.h"
#include "gui/matte_write.h"
#include "gui/platform.h"
#include "gui/tool_group.h"
#include "gui/view.h"
#include "matting/calc_input.h"
#include "matting/quillane.h"
#include "numeric/allocate.h"

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

void send_press(GtkWidget* canvas, double x, double y) {
  GdkEvent* ev = gdk_event_new(GDK_BUTTON_PRESS);
  ev->button.window = GDK_WINDOW(g_object_ref(canvas->window));
  ev->button.button = 1;
  ev->button.x = x;
  ev->button.y = y;
  gtk_widget_event(canvas, ev);
  gdk_event_free(ev);
}

// One long stroke as a spiral of `segments` motion events; returns ms per segment.
double stroke(Editor* ed, int w, int h, int segments, bool repaint) {
  GtkWidget* drawing_area = ed->view.drawing_area;
  double cx = w * ed->view.scale / 2, cy = h * ed->view.scale / 2;
  send_press(drawing_area, cx, cy);
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

void send_motion(GtkWidget* canvas, double x, double y, guint state) {
  GdkEvent* ev = motion_event(canvas, x, y);
  ev->motion.state = state;
  gtk_widget_event(canvas, ev);
  gdk_event_free(ev);
}

// Time the live updates spend inside the engine's stages (on their worker thread), so that the
// rest — reading the strokes, composing the pictures, the main loop — shows beside it.
struct StageClock : MatteStageObserver {
  std::atomic<long long> inside_us{0};
  Clock::time_point began;
  int depth = 0;
  void stage_begin(MatteStage) override {
    if (depth++ == 0) began = Clock::now();
  }
  void stage_end(MatteStage) override {
    if (--depth == 0)
      inside_us +=
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - began).count();
  }
  double take_ms() { return inside_us.exchange(0) / 1000.0; }
} stage_clock;

// When the live matte reached the canvas after t0: the first matte and the full-resolution one
// (ms), and the width of the first.
struct LiveTimes {
  double first = -1, full = -1;
  int first_width = 0;
};

// Runs the main loop until the live matte is up to date again.
LiveTimes wait_for_live(Editor* ed, Clock::time_point t0) {
  LiveTimes t;
  cairo_surface_t* shown = ed->view.backdrop;
  for (;;) {
    drain();
    if (ed->view.backdrop != shown) {
      shown = ed->view.backdrop;
      if (t.first < 0) {
        t.first = ms_since(t0);
        t.first_width = ed->live.preview.width != 0 ? ed->live.preview.width
                                                    : gdk_pixbuf_get_width(ed->doc().pixbuf_alpha);
      }
      if (ed->live.job_final_shown) t.full = ms_since(t0);
    }
    if (ed->live.job == nullptr && !ed->live.pending && ed->live.kick == 0) break;
    g_usleep(200);
  }
  if (live_state_text(*ed) != "live · up to date")
    std::printf("  (live state: %s)\n", live_state_text(*ed).c_str());
  return t;
}

// One stroke of segments; returns ms per segment of those painted while an update ran (all of
// them with the live matte off), and in *beside how many those were.
double paint_beside_update(Editor* ed, double x0, double y0, double x1, double y1, int segments,
                           bool repaint, int* beside) {
  GtkWidget* canvas = ed->view.drawing_area;
  send_press(canvas, x0, y0);
  double total = 0;
  *beside = 0;
  for (int i = 1; i <= segments; ++i) {
    const bool running = ed->live.job != nullptr || !ed->live.on;
    auto t0 = Clock::now();
    send_motion(canvas, x0 + (x1 - x0) * i / segments, y0 + (y1 - y0) * i / segments,
                GDK_BUTTON1_MASK);
    if (repaint) drain();
    if (running) total += ms_since(t0), ++*beside;
  }
  send_motion(canvas, x1, y1, 0);
  return *beside > 0 ? total / *beside : 0;
}

int live_main(Editor* ed, const char* image, const char* strokes, int rounds) {
  GError* error = nullptr;
  if (!open_image_file(ed, image, OPEN_DEFAULT, &error) ||
      !open_image_file(ed, strokes, OPEN_AS_LAYER, &error)) {
    std::fprintf(stderr, "paint_bench: %s\n", error->message);
    return 1;
  }
  GdkPixbuf* photo = ed->doc().pixbuf_no_alpha;
  const int w = gdk_pixbuf_get_width(photo), h = gdk_pixbuf_get_height(photo);
  GdkScreen* screen = gdk_screen_get_default();
  gtk_window_resize(GTK_WINDOW(ed->view.main_window), gdk_screen_get_width(screen) - 40,
                    gdk_screen_get_height(screen) - 80);
  for (int i = 0; i < 10; ++i) drain(), g_usleep(50000);  // the new size takes a moment
  // The zoom that fits the canvas, in the adjustment's steps of 12.5 %.
  const GtkAllocation& a = ed->view.scrolled_window->allocation;
  const double fit = std::min((a.width - 20.0) / w, (a.height - 20.0) / h);
  const double zoom = std::min(100.0, std::max(12.5, std::floor(fit * 8) * 12.5));
  gtk_adjustment_set_value(ed->view.zoom_adjustment, zoom);
  gtk_adjustment_set_value(ed->view.brush_adjustment, std::max(4.0, w / 200.0));
  cb_set_BG(nullptr, ed);
  drain();
  std::printf("image %d x %d (%.2f megapixels) at %.1f %%: display %d x %d\n", w, h, w * h / 1e6,
              zoom, int(w * zoom / 100), int(h * zoom / 100));

  ed->calc.worker_observer = &stage_clock;
  auto t0 = Clock::now();
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(ed->view.tool[TOOL_LIVE]), TRUE);
  LiveTimes first = wait_for_live(ed, t0);
  std::printf(
      "live matte turned on (from scratch): first matte %.0f ms (%d wide), full %.0f ms, of "
      "which %.0f ms in the engine's stages\n",
      first.first, first.first_width, first.full, stage_clock.take_ms());

  // The main thread's work for each matte delivered: writing the full-resolution one into the
  // image, and painting the view surface again from the picture (and the strokes).
  {
    std::vector<uint8_t> alpha(static_cast<size_t>(w) * h, 200);
    double write = 1e30, paint = 1e30;
    for (int i = 0; i < 3; ++i) {
      GdkPixbuf* copy = gdk_pixbuf_copy(ed->doc().pixbuf_alpha);
      auto tw = Clock::now();
      write_region_matte(copy, photo, {0, 0, w, h}, alpha.data(), w, h, w);
      write = std::min(write, ms_since(tw));
      g_object_unref(copy);
      auto tp = Clock::now();
      rebuild_view_surface(ed);
      paint = std::min(paint, ms_since(tp));
    }
    std::printf(
        "main thread per matte: writing it into the image %.1f ms, painting the view %.1f "
        "ms\n",
        write, paint);
  }

  // Short background strokes along the top edge, where the photographs have background.
  const double s = zoom / 100;
  std::printf("%-6s %16s %10s %16s %16s\n", "stroke", "first matte ms", "width", "full matte ms",
              "in stages ms");
  double best_first = 1e30, best_full = 1e30;
  for (int r = 0; r < rounds; ++r) {
    const double x = (0.1 + 0.08 * r) * w * s, y = 0.03 * h * s;
    GtkWidget* canvas = ed->view.drawing_area;
    send_press(canvas, x, y);
    send_motion(canvas, x + 0.05 * w * s, y, GDK_BUTTON1_MASK);
    drain();
    t0 = Clock::now();
    send_motion(canvas, x + 0.05 * w * s, y, 0);  // the end of the stroke
    LiveTimes t = wait_for_live(ed, t0);
    best_first = std::min(best_first, t.first);
    best_full = std::min(best_full, t.full);
    std::printf("%-6d %16.0f %10d %16.0f %16.0f\n", r + 1, t.first, t.first_width, t.full,
                stage_clock.take_ms());
  }
  std::printf("best: first matte %.0f ms, full %.0f ms\n", best_first, best_full);

  // Painting with the live matte off, then beside running updates (a dot's end starts one).
  std::printf("%-12s %24s %24s\n", "", "ms/segment (paint)", "ms/segment (+repaint)");
  GtkToggleToolButton* live = GTK_TOGGLE_TOOL_BUTTON(ed->view.tool[TOOL_LIVE]);
  for (bool on : {false, true}) {
    gtk_toggle_tool_button_set_active(live, on);
    drain();
    double ms[2] = {0, 0};
    int counted[2] = {0, 0};
    const int wanted[2] = {400, 100};
    for (int attempt = 0; attempt < 20; ++attempt) {
      const int k = counted[0] < wanted[0] ? 0 : 1;
      if (counted[k] >= wanted[k]) break;
      if (on) {
        wait_for_live(ed, Clock::now());
        const double x = (0.3 + 0.02 * attempt) * w * s;
        send_press(ed->view.drawing_area, x, 0.02 * h * s);
        send_motion(ed->view.drawing_area, x, 0.02 * h * s, 0);
        for (int i = 0; i < 200 && ed->live.job == nullptr; ++i) drain(), g_usleep(500);
      }
      const double y = (0.05 + 0.004 * attempt) * h * s;
      int beside = 0;
      const double per =
          paint_beside_update(ed, 0.1 * w * s, y, 0.9 * w * s, y, wanted[k], k == 1, &beside);
      ms[k] += per * beside;
      counted[k] += beside;
    }
    std::printf("%-12s %17.3f (%4d) %17.3f (%4d)\n", on ? "update runs" : "live off",
                counted[0] ? ms[0] / counted[0] : 0, counted[0],
                counted[1] ? ms[1] / counted[1] : 0, counted[1]);
  }
  wait_for_live(ed, Clock::now());

  // The same strokes from scratch, as quillane-matte --levels auto calculates them.
  cairo_surface_t* layer = ed->strokes.surf_layer;
  cairo_surface_flush(layer);
  TIFF_img calc_image;
  double** mask = nullptr;
  double** value = nullptr;
  read_calc_input(gdk_pixbuf_get_pixels(photo), gdk_pixbuf_get_rowstride(photo),
                  gdk_pixbuf_get_n_channels(photo), cairo_image_surface_get_data(layer),
                  cairo_image_surface_get_stride(layer), {0, 0, w, h}, &calc_image, &mask, &value);
  CalcOptions options = ed->calc.pass_option_args->options;
  options.auto_levels = 1;
  TIFF_img matte;
  // At the live updates' priority, so that the machine's other work weighs on both alike.
  int status = 0;
  double scratch = 0;
  std::thread worker([&] {
    lower_thread_priority();
    auto ts = Clock::now();
    status = calculate_matte(&calc_image, mask, value, options, &matte);
    scratch = ms_since(ts);
  });
  worker.join();
  double sad = 0;
  int most = 0;
  for (int y = 0; y < h && status >= 0; ++y) {
    const guchar* live = gdk_pixbuf_get_pixels(ed->doc().pixbuf_alpha) +
                         static_cast<size_t>(y) * gdk_pixbuf_get_rowstride(ed->doc().pixbuf_alpha);
    for (int x = 0; x < w; ++x) {
      const int d = std::abs(int(live[4 * x + 3]) - int(matte.plane[y][x]));
      sad += d / 255.0;
      most = std::max(most, d);
    }
  }
  if (status >= 0) free_TIFF(&matte);
  std::printf(
      "from scratch, automatic levels: %.0f ms (status %d); live full matte against it: "
      "SAD %.2f, largest difference %d/255\n",
      scratch, status, sad, most);
  return 0;
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
      bool picture;  // the live matte's picture shown in the image's place
    } rows[] = {{"whole area (polygon)", polygon_fill, false, false},
                {"circle (freehand)", freehand_fill, false, false},
                {"whole area, eraser", polygon_fill, true, false},
                {"eraser, live picture", polygon_fill, true, true}};
    for (const Row& row : rows) {
      if (row.eraser)
        cb_set_Eraser(nullptr, ed);
      else
        cb_set_FG(nullptr, ed);
      if (row.picture) {
        cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
        cairo_t* cr = cairo_create(picture);
        cairo_set_source_rgb(cr, 0.2, 0.7, 0.4);
        cairo_paint(cr);
        cairo_destroy(cr);
        set_backdrop(&ed->view, picture);
      }
      double plain = 0, shown = 0;
      for (int i = 0; i < rounds; ++i) {
        plain += row.fill(ed, w, h, false) / rounds;
        shown += row.fill(ed, w, h, true) / rounds;
      }
      std::printf("%-8.1f %-22s %16.1f %18.1f\n", zoom, row.name, plain, shown);
      if (row.picture) set_backdrop(&ed->view, nullptr);
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
  if (argc >= 4 && std::string(argv[1]) == "--live") {
    Editor* ed = quillane_shared_objects_init();
    gchar* icons = quillane_icon_dir();
    quillane_create_main_window(ed, icons);
    g_free(icons);
    drain();
    const int rc = live_main(ed, argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 3);
    std::fflush(stdout);
    _exit(rc);  // an update may still be finishing; nothing waits for it
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
