#include "gui/view_menu.h"

#include <gdk/gdkkeysyms.h>

#include <cmath>

#include "gui/dialog_run.h"
#include "gui/display_prefs.h"
#include "gui/live_matte.h"

namespace {

const char kShowKey[] = "quillane-show";

void write_prefs(const MatteDisplay& display) {
  char* path = display_prefs_path();
  write_display_prefs(path, display);
  g_free(path);
}

// Sets widget (a check menu item or a toggle tool button) to active without its handler.
void set_quietly(GtkWidget* widget, bool active, Editor* ed) {
  if (widget == nullptr) return;
  g_signal_handlers_block_by_func(widget, reinterpret_cast<gpointer>(cb_live_matte_toggled), ed);
  if (GTK_IS_CHECK_MENU_ITEM(widget))
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), active);
  else
    gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(widget), active);
  g_signal_handlers_unblock_by_func(widget, reinterpret_cast<gpointer>(cb_live_matte_toggled), ed);
}

// The toggle's icon, 24 x 24: a subject on a checkerboard with a red dot, "recording".
GtkWidget* live_icon() {
  const int n = 24;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, n, n);
  cairo_t* cr = cairo_create(s);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const double v = (x + y) % 2 != 0 ? 0.75 : 0.95;
      cairo_set_source_rgb(cr, v, v, v);
      cairo_rectangle(cr, 2 + 5 * x, 2 + 5 * y, 5, 5);
      cairo_fill(cr);
    }
  cairo_set_line_width(cr, 1.5);
  cairo_arc(cr, 11, 13, 6.5, 0, 2 * M_PI);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_stroke(cr);
  cairo_arc(cr, 18.5, 5.5, 4, 0, 2 * M_PI);
  cairo_set_source_rgb(cr, 0.85, 0.1, 0.1);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  // cairo keeps premultiplied native words, GdkPixbuf straight RGBA bytes.
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, n, n);
  for (int y = 0; y < n; ++y) {
    const guint32* src = reinterpret_cast<const guint32*>(cairo_image_surface_get_data(s) +
                                                          y * cairo_image_surface_get_stride(s));
    guchar* dst = gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf);
    for (int x = 0; x < n; ++x, dst += 4) {
      const guint32 w = src[x], a = w >> 24;
      for (int c = 0; c < 3; ++c) {
        const guint32 v = (w >> (16 - 8 * c)) & 255;
        dst[c] = static_cast<guchar>(a == 0 ? 0 : (v * 255 + a / 2) / a);
      }
      dst[3] = static_cast<guchar>(a);
    }
  }
  cairo_surface_destroy(s);
  GtkWidget* image = gtk_image_new_from_pixbuf(pixbuf);
  g_object_unref(pixbuf);
  return image;
}

}  // namespace

GtkWidget* append_view_menu(Editor* ed, GtkWidget* bar, GtkAccelGroup* group) {
  char* path = display_prefs_path();
  read_display_prefs(path, &ed->display);
  g_free(path);

  GtkWidget* top = gtk_menu_item_new_with_label("View");
  GtkWidget* menu = gtk_menu_new();
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
  gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);

  GtkWidget* live = gtk_check_menu_item_new_with_label("Live matte");
  gtk_widget_add_accelerator(live, "activate", group, GDK_l, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(live), ed->live.on);
  g_signal_connect(live, "toggled", G_CALLBACK(cb_live_matte_toggled), ed);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), live);
  ed->view.live_item = live;
  g_signal_connect(live, "destroy", G_CALLBACK(gtk_widget_destroyed), &ed->view.live_item);

  gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
  GSList* group_list = nullptr;
  for (int i = 0; i < SHOW_COUNT; ++i) {
    GtkWidget* item =
        gtk_radio_menu_item_new_with_label(group_list, matte_show_label(static_cast<MatteShow>(i)));
    group_list = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(item));
    g_object_set_data(G_OBJECT(item), kShowKey, GINT_TO_POINTER(i));
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), i == ed->display.show);
    g_signal_connect(item, "toggled", G_CALLBACK(cb_show_matte_as), ed);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    ed->view.show_item[i] = item;
    g_signal_connect(item, "destroy", G_CALLBACK(gtk_widget_destroyed), &ed->view.show_item[i]);
  }
  GtkWidget* colour = gtk_menu_item_new_with_label("Overlay Colour…");
  g_signal_connect(colour, "activate", G_CALLBACK(cb_overlay_colour), ed);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), colour);
  return menu;
}

GtkToolItem* live_matte_tool_item(Editor* ed) {
  GtkToolItem* toggle = gtk_toggle_tool_button_new();
  gtk_tool_button_set_icon_widget(GTK_TOOL_BUTTON(toggle), live_icon());
  gtk_tool_button_set_label(GTK_TOOL_BUTTON(toggle), "Live matte");
  gtk_widget_set_tooltip_text(GTK_WIDGET(toggle), "Live matte");
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toggle), ed->live.on);
  g_signal_connect(toggle, "toggled", G_CALLBACK(cb_live_matte_toggled), ed);
  return toggle;
}

void cb_live_matte_toggled(GtkWidget* widget, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  const bool on = GTK_IS_CHECK_MENU_ITEM(widget)
                      ? gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(widget))
                      : gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(widget));
  set_live_matte(*ed, on);
  set_quietly(ed->view.live_item, on, ed);
  set_quietly(GTK_WIDGET(ed->view.tool[TOOL_LIVE]), on, ed);
}

void cb_show_matte_as(GtkWidget* item, gpointer editor) {
  if (!gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item))) return;  // the one let go
  Editor* ed = static_cast<Editor*>(editor);
  ed->display.show =
      static_cast<MatteShow>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), kShowKey)));
  write_prefs(ed->display);
  live_display_changed(*ed);
}

void cb_overlay_colour(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  GtkWidget* dialog = gtk_color_selection_dialog_new("Overlay colour");
  gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(ed->view.main_window));
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  GtkColorSelection* selection = GTK_COLOR_SELECTION(
      gtk_color_selection_dialog_get_color_selection(GTK_COLOR_SELECTION_DIALOG(dialog)));
  gtk_color_selection_set_current_color(selection, &ed->display.tint);
  if (run_dialog(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
    gtk_color_selection_get_current_color(selection, &ed->display.tint);
    write_prefs(ed->display);
    live_display_changed(*ed);
  }
  gtk_widget_destroy(dialog);
}
