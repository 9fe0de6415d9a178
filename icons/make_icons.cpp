// Draws the editor's toolbar icons and its application icon with cairo, into the folder given
// on the command line. Run at build time; the PNGs are installed with the program.
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "icons/logo_mark.h"

namespace {

using Painter = void (*)(cairo_t*, int, int);

bool write_icon(const std::string& dir, const char* name, int w, int h, Painter paint) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  paint(cr, w, h);
  cairo_destroy(cr);
  std::string path = dir + "/" + name;
  cairo_status_t status = cairo_surface_write_to_png(s, path.c_str());
  cairo_surface_destroy(s);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "make_icons: %s: %s\n", path.c_str(), cairo_status_to_string(status));
    return false;
  }
  return true;
}

void rounded_box(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 1.5 * M_PI);
  cairo_close_path(cr);
}

// A brush stroke: a thick S-curve across the icon.
void squiggle(cairo_t* cr, int w, int h) {
  cairo_move_to(cr, w * 0.2, h * 0.75);
  cairo_curve_to(cr, w * 0.35, h * 0.15, w * 0.6, h * 0.95, w * 0.8, h * 0.25);
}

// Edit / view toggle: a checkerboard (transparency) below, a painted stroke above.
void paint_toggle(cairo_t* cr, int w, int h) {
  rounded_box(cr, 0.5, 0.5, w - 1, h - 1, 3);
  cairo_clip_preserve(cr);
  cairo_set_source_rgb(cr, 0.55, 0.55, 0.55);
  cairo_fill(cr);
  const int cell = 4;
  for (int y = h / 2; y < h; y += cell)
    for (int x = 0; x < w; x += cell)
      if (((x / cell) + (y / cell)) % 2 == 0) {
        cairo_rectangle(cr, x, y, cell, cell);
      }
  cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
  cairo_fill(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, 3.0);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_move_to(cr, 3.5, h * 0.38);
  cairo_curve_to(cr, w * 0.4, h * 0.1, w * 0.6, h * 0.5, w - 3.5, h * 0.2);
  cairo_stroke(cr);
  cairo_reset_clip(cr);
  rounded_box(cr, 0.5, 0.5, w - 1, h - 1, 3);
  cairo_set_line_width(cr, 1.0);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_stroke(cr);
}

// Alpha view: a grey ramp from black to white.
void paint_alpha(cairo_t* cr, int w, int h) {
  cairo_pattern_t* ramp = cairo_pattern_create_linear(2, 0, w - 2, 0);
  cairo_pattern_add_color_stop_rgb(ramp, 0, 0, 0, 0);
  cairo_pattern_add_color_stop_rgb(ramp, 1, 1, 1, 1);
  rounded_box(cr, 1.5, 3.5, w - 3, h - 7, 2);
  cairo_set_source(cr, ramp);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(ramp);
  cairo_set_line_width(cr, 1.0);
  cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
  cairo_stroke(cr);
}

void paint_stroke_icon(cairo_t* cr, int w, int h, double bg, double fg) {
  rounded_box(cr, 1.5, 1.5, w - 3, h - 3, 3);
  cairo_set_source_rgb(cr, bg, bg, bg);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1.0);
  cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
  cairo_stroke(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, w * 0.2);
  cairo_set_source_rgb(cr, fg, fg, fg);
  squiggle(cr, w, h);
  cairo_stroke(cr);
}

void paint_fg(cairo_t* cr, int w, int h) {
  paint_stroke_icon(cr, w, h, 0.45, 1.0);
}
void paint_bg(cairo_t* cr, int w, int h) {
  paint_stroke_icon(cr, w, h, 0.8, 0.0);
}

// Lasso: a closed freehand outline, dashed, around a filled patch.
void paint_lasso(cairo_t* cr, int w, int h) {
  auto loop = [cr, w, h] {
    cairo_move_to(cr, w * 0.50, h * 0.12);
    cairo_curve_to(cr, w * 0.95, h * 0.10, w * 0.98, h * 0.62, w * 0.62, h * 0.80);
    cairo_curve_to(cr, w * 0.35, h * 0.92, w * 0.02, h * 0.75, w * 0.12, h * 0.42);
    cairo_curve_to(cr, w * 0.18, h * 0.20, w * 0.32, h * 0.13, w * 0.50, h * 0.12);
    cairo_close_path(cr);
  };
  loop();
  cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
  cairo_fill(cr);
  loop();
  cairo_set_line_width(cr, 2.0);
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  cairo_stroke_preserve(cr);
  const double dash[] = {3.0, 3.0};
  cairo_set_dash(cr, dash, 2, 0);
  cairo_set_line_width(cr, 1.0);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  // The rope's end hanging from the loop.
  cairo_set_line_width(cr, 1.5);
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  cairo_move_to(cr, w * 0.30, h * 0.86);
  cairo_curve_to(cr, w * 0.30, h * 0.98, w * 0.15, h * 0.95, w * 0.12, h * 0.99);
  cairo_stroke(cr);
}

// Application icon: the quill-and-arc mark of the About box on a light tile.
void paint_app(cairo_t* cr, int w, int h) {
  rounded_box(cr, 4, 4, w - 8, h - 8, w * 0.12);
  cairo_set_source_rgb(cr, 0.97, 0.95, 0.92);
  cairo_fill(cr);
  double s = w / 28.0;
  cairo_scale(cr, s, s);
  cairo_translate(cr, 0.5, 0.5);
  draw_logo_mark(cr);
  (void)h;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons FOLDER\n");
    return 2;
  }
  std::string dir = argv[1];
  bool ok = write_icon(dir, "icon_tz16x24.png", 16, 24, paint_toggle) &&
            write_icon(dir, "icon_alpha24x24.png", 24, 24, paint_alpha) &&
            write_icon(dir, "iconFG.png", 24, 24, paint_fg) &&
            write_icon(dir, "iconBG.png", 24, 24, paint_bg) &&
            write_icon(dir, "iconLasso.png", 24, 24, paint_lasso) &&
            write_icon(dir, "quillane.png", 128, 128, paint_app);
  return ok ? 0 : 1;
}
