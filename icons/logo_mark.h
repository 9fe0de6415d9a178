// The product's mark, drawn in logo units: a quill over an arc, in rust with a grey echo. The
// About box and the application icon draw it from here.
#ifndef QUILLANE_ICONS_LOGO_MARK_H
#define QUILLANE_ICONS_LOGO_MARK_H

#include <cairo.h>

#include <cmath>

inline void draw_logo_mark(cairo_t* cr) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_source_rgb(cr, 0.69, 0.19, 0.0);
  cairo_set_line_width(cr, 4.5);
  cairo_arc(cr, 13.5, 13.5, 9.0, M_PI * 0.75, M_PI * 2.25);
  cairo_stroke(cr);
  cairo_move_to(cr, 8.0, 22.0);
  cairo_line_to(cr, 21.0, 5.0);
  cairo_stroke(cr);

  cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
  cairo_set_line_width(cr, 3.0);
  cairo_arc(cr, 13.5, 13.5, 4.0, M_PI * 1.25, M_PI * 1.75);
  cairo_stroke(cr);
  cairo_move_to(cr, 21.0, 5.0);
  cairo_line_to(cr, 25.0, 2.0);
  cairo_stroke(cr);
}

#endif
