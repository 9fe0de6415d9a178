#include "gui/modes.h"

#include <cmath>
#include <cstdlib>

#include "gui/gtk_calc.h"
#include "gui/gtkquillane.h"
#include "gui/image_source.h"
#include "gui/view.h"

void show_mode_items(GtkWidget* tb) {
  // Items 3..14; 0 to 2 are always shown.
  static const bool shown_in_edit[15] = {true, true, true, false, true, true, true, true,
                                         true, true, true, true,  true, true, true};
  static const bool shown_in_view[15] = {true, true, true, true, false, false, false, false,
                                         true, true, true, true, true,  false, false};
  for (int i = 3; i < 15; ++i) {
    GtkWidget* item = GTK_WIDGET(toolbar_item(tb, i));
    if (in_edit_mode ? shown_in_edit[i] : shown_in_view[i])
      gtk_widget_show(item);
    else
      gtk_widget_hide(item);
  }
}

void set_mode_cursor() {
  if (drawing_area == nullptr || drawing_area->window == nullptr) return;
  gdk_window_set_cursor(drawing_area->window, in_edit_mode ? blank_cursor : nullptr);
}

void cb_toggle_mode(GtkWidget*, gpointer tb) {
  int w = gdk_pixbuf_get_width(pixbuf_image);
  int h = gdk_pixbuf_get_height(pixbuf_image);
  GtkToolItem* toggle = toolbar_item(GTK_WIDGET(tb), 0);
  in_edit_mode = !gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(toggle));
  show_mode_items(GTK_WIDGET(tb));
  pixbuf_image = in_edit_mode ? pixbuf_no_alpha : pixbuf_alpha;
  set_mode_cursor();
  rebuild_view_surface();
  if (calc_ROI_is_set || !in_edit_mode) {
    set_ROI_for_winsurf();
    draw_rect(drawing_area, left_x, top_y);
  }
  gtk_widget_queue_draw_area(drawing_area, 0, 0, static_cast<int>(w * scale),
                             static_cast<int>(h * scale));
}

void toggle_calc_ROI(GtkWidget* item, gpointer) {
  gboolean active = gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item));
  if (calculation_running()) {
    // The running calculation's result is placed by the region: keep the item as it was.
    if (active != static_cast<gboolean>(calc_ROI_is_set)) {
      g_signal_handlers_block_by_func(item, reinterpret_cast<gpointer>(toggle_calc_ROI), nullptr);
      gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), calc_ROI_is_set);
      g_signal_handlers_unblock_by_func(item, reinterpret_cast<gpointer>(toggle_calc_ROI), nullptr);
    }
    refuse_while_calculating();
    return;
  }
  calc_ROI_is_set = active ? 1 : 0;
  set_ROI_for_winsurf();
  if (calc_ROI_is_set || !in_edit_mode)
    draw_rect(drawing_area, x_img_ROI * scale, y_img_ROI * scale);
  else
    del_rect(drawing_area);
}

void draw_rect(GtkWidget* widget, double x, double y) {
  selection_w = std::fabs(m_button_x - x) + 1;
  selection_h = std::fabs(m_button_y - y) + 1;
  left_x = std::fmin(m_button_x, x);
  top_y = std::fmin(m_button_y, y);
  selection_w = std::floor(selection_w + 0.5);
  selection_h = std::floor(selection_h + 0.5);
  left_x = std::floor(left_x + 0.5);
  top_y = std::floor(top_y + 0.5);

  cairo_t* cr = cairo_create(win_surf);
  static const double dash[] = {4.0, 2.0};
  cairo_set_dash(cr, dash, 2, 0);
  cairo_set_source_rgb(cr, calc_ROI_is_set, 0, 0);
  cairo_rectangle(cr, left_x - 0.5, top_y - 0.5, selection_w + 1, selection_h + 1);
  cairo_set_line_width(cr, 1.0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_stroke(cr);
  cairo_destroy(cr);
  gtk_widget_queue_draw_area(widget, static_cast<int>(left_x - 1), static_cast<int>(top_y - 1),
                             static_cast<int>(selection_w + 3), static_cast<int>(selection_h + 3));
}

void del_rect(GtkWidget* widget) {
  cairo_t* cr = cairo_create(win_surf);
  cairo_scale(cr, scale, scale);
  set_source_image(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_rectangle(cr, (left_x - 1) / scale, (top_y - 1) / scale, (selection_w + 4) / scale,
                  (selection_h + 4) / scale);
  cairo_fill(cr);
  cairo_destroy(cr);
  gtk_widget_queue_draw_area(widget, static_cast<int>(left_x - 1), static_cast<int>(top_y - 1),
                             static_cast<int>(selection_w + 4), static_cast<int>(selection_h + 4));
}

namespace {
int region_image_width = 0, region_image_height = 0;
}  // namespace

void note_region_image(int width, int height) {
  region_image_width = width;
  region_image_height = height;
}

bool region_belongs_to_image(int width, int height) {
  return w_img_ROI > 0 && h_img_ROI > 0 && region_image_width == width &&
         region_image_height == height;
}

void set_img_ROI_values(int, int) {
  x_img_ROI = static_cast<int>(left_x / scale + 0.5);
  y_img_ROI = static_cast<int>(top_y / scale + 0.5);
  w_img_ROI = static_cast<int>(selection_w / scale + 0.5);
  h_img_ROI = static_cast<int>(selection_h / scale + 0.5);
  note_region_image(gdk_pixbuf_get_width(pixbuf_image), gdk_pixbuf_get_height(pixbuf_image));
}

void set_ROI_for_winsurf() {
  selection_w = w_img_ROI * scale;
  selection_h = h_img_ROI * scale;
  left_x = x_img_ROI * scale;
  top_y = y_img_ROI * scale;
  m_button_x = left_x + selection_w - 1;
  m_button_y = top_y + selection_h - 1;
}

void start_selection(GtkWidget* widget) {
  del_rect(widget);
  left_x = top_y = 0;
  x_img_ROI = y_img_ROI = 0;
  w_img_ROI = gdk_pixbuf_get_width(pixbuf_image);
  h_img_ROI = gdk_pixbuf_get_height(pixbuf_image);
  note_region_image(w_img_ROI, h_img_ROI);
}

void drag_selection(GtkWidget* widget, int x, int y) {
  del_rect(widget);
  draw_rect(widget, x, y);
  set_img_ROI_values(x, y);
}
