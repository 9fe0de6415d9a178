#include "gui/modes.h"

#include <cmath>
#include <cstdlib>

#include "gui/image_source.h"
#include "gui/live_matte.h"
#include "gui/view.h"

namespace {

// Items not named here show in both modes.
bool shown_in_mode(int item, bool edit) {
  switch (item) {
    case TOOL_ALPHA:
      return !edit;
    case TOOL_CALCULATE:
    case TOOL_FG:
    case TOOL_BG:
    case TOOL_ERASER:
    case TOOL_LASSO:
    case TOOL_BRUSH_SPIN:
    case TOOL_BRUSH_SLIDER:
      return edit;
    default:
      return true;
  }
}

}  // namespace

void show_mode_items(View* view) {
  for (int i = 0; i < TOOL_COUNT; ++i) {
    GtkWidget* item = GTK_WIDGET(view->tool[i]);
    if (shown_in_mode(i, view->in_edit_mode != 0))
      gtk_widget_show(item);
    else
      gtk_widget_hide(item);
  }
}

void set_mode_cursor(const View& view) {
  if (view.drawing_area == nullptr || view.drawing_area->window == nullptr) return;
  gdk_window_set_cursor(view.drawing_area->window, view.in_edit_mode ? view.blank_cursor : nullptr);
}

void cb_toggle_mode(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  View* view = &ed->view;
  int w = gdk_pixbuf_get_width(view->pixbuf_image);
  int h = gdk_pixbuf_get_height(view->pixbuf_image);
  GtkToggleToolButton* toggle = GTK_TOGGLE_TOOL_BUTTON(view->tool[TOOL_MODE]);
  view->in_edit_mode = !gtk_toggle_tool_button_get_active(toggle);
  show_mode_items(view);
  view->pixbuf_image = view->in_edit_mode ? ed->doc().pixbuf_no_alpha : ed->doc().pixbuf_alpha;
  set_mode_cursor(*view);
  rebuild_view_surface(ed);
  if (ed->doc().calc_ROI_is_set || !view->in_edit_mode) {
    set_ROI_for_winsurf(view, ed->doc());
    draw_rect(ed, view->drawing_area, view->left_x, view->top_y);
  }
  gtk_widget_queue_draw_area(view->drawing_area, 0, 0, static_cast<int>(w * view->scale),
                             static_cast<int>(h * view->scale));
}

void toggle_calc_ROI(GtkWidget* item, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  gboolean active = gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item));
  Document* doc = document_to_change(ed);
  if (doc == nullptr) {
    // The running calculation's result is placed by the region: keep the item as it was.
    const int in_use = ed->doc().calc_ROI_is_set;
    if (active != static_cast<gboolean>(in_use)) {
      g_signal_handlers_block_by_func(item, reinterpret_cast<gpointer>(toggle_calc_ROI), editor);
      gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), in_use);
      g_signal_handlers_unblock_by_func(item, reinterpret_cast<gpointer>(toggle_calc_ROI), editor);
    }
    return;
  }
  View* view = &ed->view;
  doc->calc_ROI_is_set = active ? 1 : 0;
  set_ROI_for_winsurf(view, *doc);
  if (doc->calc_ROI_is_set || !view->in_edit_mode)
    draw_rect(ed, view->drawing_area, doc->x_img_ROI * view->scale, doc->y_img_ROI * view->scale);
  else
    del_rect(ed, view->drawing_area);
  note_matte_inputs_changed(*ed);
}

void draw_rect(Editor* ed, GtkWidget* widget, double x, double y) {
  View& v = ed->view;
  v.selection_w = std::fabs(v.m_button_x - x) + 1;
  v.selection_h = std::fabs(v.m_button_y - y) + 1;
  v.left_x = std::fmin(v.m_button_x, x);
  v.top_y = std::fmin(v.m_button_y, y);
  v.selection_w = std::floor(v.selection_w + 0.5);
  v.selection_h = std::floor(v.selection_h + 0.5);
  v.left_x = std::floor(v.left_x + 0.5);
  v.top_y = std::floor(v.top_y + 0.5);

  cairo_t* cr = cairo_create(v.win_surf);
  static const double dash[] = {4.0, 2.0};
  cairo_set_dash(cr, dash, 2, 0);
  cairo_set_source_rgb(cr, ed->doc().calc_ROI_is_set, 0, 0);
  cairo_rectangle(cr, v.left_x - 0.5, v.top_y - 0.5, v.selection_w + 1, v.selection_h + 1);
  cairo_set_line_width(cr, 1.0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_stroke(cr);
  cairo_destroy(cr);
  gtk_widget_queue_draw_area(widget, static_cast<int>(v.left_x - 1), static_cast<int>(v.top_y - 1),
                             static_cast<int>(v.selection_w + 3),
                             static_cast<int>(v.selection_h + 3));
}

void del_rect(Editor* ed, GtkWidget* widget) {
  View& v = ed->view;
  cairo_t* cr = cairo_create(v.win_surf);
  cairo_scale(cr, v.scale, v.scale);
  set_source_image(&v, cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_rectangle(cr, (v.left_x - 1) / v.scale, (v.top_y - 1) / v.scale,
                  (v.selection_w + 4) / v.scale, (v.selection_h + 4) / v.scale);
  cairo_fill(cr);
  cairo_destroy(cr);
  gtk_widget_queue_draw_area(widget, static_cast<int>(v.left_x - 1), static_cast<int>(v.top_y - 1),
                             static_cast<int>(v.selection_w + 4),
                             static_cast<int>(v.selection_h + 4));
}

void note_region_image(Document* doc, int width, int height) {
  doc->region_image_width = width;
  doc->region_image_height = height;
}

bool region_belongs_to_image(const Document& doc, int width, int height) {
  return doc.w_img_ROI > 0 && doc.h_img_ROI > 0 && doc.region_image_width == width &&
         doc.region_image_height == height;
}

void set_img_ROI_values(const View& view, Document* doc) {
  doc->x_img_ROI = static_cast<int>(view.left_x / view.scale + 0.5);
  doc->y_img_ROI = static_cast<int>(view.top_y / view.scale + 0.5);
  doc->w_img_ROI = static_cast<int>(view.selection_w / view.scale + 0.5);
  doc->h_img_ROI = static_cast<int>(view.selection_h / view.scale + 0.5);
  note_region_image(doc, gdk_pixbuf_get_width(view.pixbuf_image),
                    gdk_pixbuf_get_height(view.pixbuf_image));
}

void set_ROI_for_winsurf(View* view, const Document& doc) {
  view->selection_w = doc.w_img_ROI * view->scale;
  view->selection_h = doc.h_img_ROI * view->scale;
  view->left_x = doc.x_img_ROI * view->scale;
  view->top_y = doc.y_img_ROI * view->scale;
  view->m_button_x = view->left_x + view->selection_w - 1;
  view->m_button_y = view->top_y + view->selection_h - 1;
}

void start_selection(Editor* ed, Document* doc, GtkWidget* widget) {
  View& v = ed->view;
  del_rect(ed, widget);
  v.left_x = v.top_y = 0;
  doc->x_img_ROI = doc->y_img_ROI = 0;
  doc->w_img_ROI = gdk_pixbuf_get_width(v.pixbuf_image);
  doc->h_img_ROI = gdk_pixbuf_get_height(v.pixbuf_image);
  note_region_image(doc, doc->w_img_ROI, doc->h_img_ROI);
}

void drag_selection(Editor* ed, Document* doc, GtkWidget* widget, int x, int y) {
  del_rect(ed, widget);
  draw_rect(ed, widget, x, y);
  set_img_ROI_values(ed->view, doc);
}
