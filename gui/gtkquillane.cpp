// Editor globals and the construction of the main window.
#include "gui/gtkquillane.h"

#include <gdk/gdkkeysyms.h>

#include "gui/alpha_view.h"
#include "gui/brush.h"
#include "gui/checked_surface.h"
#include "gui/clean_edges.h"
#include "gui/clipboard.h"
#include "gui/closing.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/history.h"
#include "gui/image_source.h"
#include "gui/layer_state.h"
#include "gui/modes.h"
#include "gui/persistence.h"
#include "gui/quillane_opts.h"
#include "gui/view.h"

GtkWidget* main_window = nullptr;
GtkWidget* drawing_area = nullptr;
GtkWidget* toolbar = nullptr;
GtkWidget* status_bar = nullptr;
GtkWidget* scrolled_window = nullptr;
GtkWidget* calc_roi_item = nullptr;
GtkAdjustment* zoom_adjustment = nullptr;
GtkAdjustment* brush_adjustment = nullptr;

GdkPixbuf* pixbuf_no_alpha = nullptr;
GdkPixbuf* pixbuf_alpha = nullptr;
GdkPixbuf* pixbuf_image = nullptr;
GdkPixbuf* initialisinglayer = nullptr;
cairo_surface_t* surf_layer = nullptr;
cairo_surface_t* win_surf = nullptr;
GdkCursor* blank_cursor = nullptr;

double scale = 1.0;
double radius = 5.0;
double red = 1.0, green = 1.0, blue = 1.0, alpha = 1.0;
GdkColor color = {0, 32768, 32768, 32768};

double cursor_x = -5.0, cursor_y = -5.0;
double prev_cursor_x = 0, prev_cursor_y = 0;
double prev_x = 0, prev_y = 0;
double prev_true_x = 0, prev_true_y = 0;
double m_button_x = 0, m_button_y = 0;
int finished_stroke = 1;
int stroke_idx = 8;

GList* history = nullptr;
GList* current = nullptr;
unsigned int his_type = 0;

int in_edit_mode = 1;
int calc_ROI_is_set = 0;
double left_x = 0, top_y = 0, selection_w = 0, selection_h = 0;
int x_img_ROI = 0, y_img_ROI = 0, w_img_ROI = 0, h_img_ROI = 0;

namespace {

// The start values of the editor state, so that a window built again (the tests build many)
// starts like a fresh program.
void reset_editor_state() {
  scale = 1.0;
  radius = 5.0;
  red = green = blue = alpha = 1.0;
  color.red = color.green = color.blue = 32768;
  cursor_x = cursor_y = -5.0;
  prev_cursor_x = prev_cursor_y = prev_x = prev_y = prev_true_x = prev_true_y = 0;
  m_button_x = m_button_y = 0;
  finished_stroke = 1;
  stroke_idx = 8;
  in_edit_mode = 1;
  calc_ROI_is_set = 0;
  left_x = top_y = selection_w = selection_h = 0;
  x_img_ROI = y_img_ROI = w_img_ROI = h_img_ROI = 0;
  note_region_image(0, 0);
  ok_to_calc = 1;
  clean_edges_wanted = true;
}

}  // namespace

void quillane_shared_objects_init() {
  reset_editor_state();
  blank_cursor = gdk_cursor_new(GDK_BLANK_CURSOR);
  pixbuf_no_alpha = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1, 1);
  pixbuf_alpha = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 1, 1);
  gdk_pixbuf_fill(pixbuf_no_alpha, 0x000000ff);
  gdk_pixbuf_fill(pixbuf_alpha, 0x000000ff);
  pixbuf_image = pixbuf_no_alpha;
  GError* error = nullptr;
  win_surf = checked_image_surface(CAIRO_FORMAT_ARGB32, 1, 1, &error);
  surf_layer =
      win_surf != nullptr ? checked_image_surface(CAIRO_FORMAT_ARGB32, 1, 1, &error) : nullptr;
  // Without two pixels of memory at start there is nothing to save yet: stop.
  if (surf_layer == nullptr) g_error("quillane: %s", error->message);
  pass_calc_args = nullptr;  // each calculation makes its own request
  note_layer_saved();
  pass_option_args = static_cast<OptionArgs*>(g_malloc0(sizeof(OptionArgs)));
  opts_set_default(pass_option_args);
  // The placeholder image is 1 x 1 until an image is opened.
  pass_option_args->img_width = pass_option_args->img_height = 1;
}

void quillane_shared_objects_release() {
  invalidate_image_source();
  g_object_unref(pixbuf_alpha);
  g_object_unref(pixbuf_no_alpha);
  pixbuf_alpha = pixbuf_no_alpha = pixbuf_image = nullptr;
  cairo_surface_destroy(surf_layer);
  cairo_surface_destroy(win_surf);
  surf_layer = win_surf = nullptr;
  if (initialisinglayer != nullptr) g_object_unref(initialisinglayer);
  initialisinglayer = nullptr;
  free_stroke_list(history);
  history = current = nullptr;
  if (blank_cursor != nullptr) gdk_cursor_unref(blank_cursor);
  blank_cursor = nullptr;
  // A worker still running frees its own request when it ends.
  cancel_calculation();
  g_free(pass_option_args);
  pass_option_args = nullptr;
}

gchar* quillane_icon_dir() {
  const gchar* env = g_getenv("ICON_DIR");
  if (env != nullptr) return g_strdup_printf("%s/", env);
  // The installed program keeps its icons beside its binary's share folder; the built one
  // uses the build tree's copy.
  gchar* exe = g_file_read_link("/proc/self/exe", nullptr);
  if (exe != nullptr) {
    gchar* bin = g_path_get_dirname(exe);
    gchar* installed =
        g_build_filename(bin, "..", "share", "quillane", "icons", "icon_tz16x24.png", nullptr);
    bool found = g_file_test(installed, G_FILE_TEST_EXISTS);
    gchar* dir =
        found ? g_build_filename(bin, "..", "share", "quillane", "icons", "", nullptr) : nullptr;
    g_free(installed);
    g_free(bin);
    g_free(exe);
    if (dir != nullptr) return dir;
  }
#ifdef QUILLANE_BUILD_ICON_DIR
  if (g_file_test(QUILLANE_BUILD_ICON_DIR "/icon_tz16x24.png", G_FILE_TEST_EXISTS))
    return g_strdup(QUILLANE_BUILD_ICON_DIR "/");
#endif
  return g_strdup("./");
}

GtkToolItem* toolbar_item(GtkWidget* tb, int index) {
  return gtk_toolbar_get_nth_item(GTK_TOOLBAR(tb), index);
}

gboolean cb_delete_event_with_persistence(GtkWidget* widget, GdkEvent*, gpointer) {
  return prepare_to_close(widget) ? FALSE : TRUE;
}

void destroy(GtkWidget*, gpointer) {
  main_window = nullptr;
  gtk_main_quit();
}

namespace {

GtkWidget* icon_image(const gchar* icon_dir, const gchar* file) {
  gchar* path = g_strdup_printf("%s%s", icon_dir, file);
  GtkWidget* image = gtk_image_new_from_file(path);
  g_free(path);
  return image;
}

void append_item(GtkWidget* tb, GtkToolItem* item) {
  gtk_toolbar_insert(GTK_TOOLBAR(tb), item, -1);
}

GtkWidget* menu_item(GtkWidget* menu, const gchar* stock, GtkAccelGroup* group, guint key,
                     GCallback handler, gpointer data, bool with_group) {
  GtkWidget* item = gtk_image_menu_item_new_from_stock(stock, with_group ? group : nullptr);
  // The group gives an item only its stock accelerator, and GTK 2's "gtk-undo" has none.
  GtkStockItem info;
  bool stock_key = with_group && gtk_stock_lookup(stock, &info) && info.keyval != 0;
  if (!stock_key && key != 0)
    gtk_widget_add_accelerator(item, "activate", group, key, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  g_signal_connect(item, "activate", handler, data);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  return item;
}

GtkWidget* top_menu(GtkWidget* bar, const gchar* label) {
  GtkWidget* top = gtk_menu_item_new_with_label(label);
  GtkWidget* menu = gtk_menu_new();
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
  gtk_menu_shell_append(GTK_MENU_SHELL(bar), top);
  return menu;
}

GtkWidget* build_menu_bar(GtkWidget* window, GtkWidget* tb) {
  GtkAccelGroup* group = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(window), group);
  GtkWidget* bar = gtk_menu_bar_new();

  GtkWidget* file = top_menu(bar, "File");
  GtkWidget* edit = top_menu(bar, "Edit");
  GtkWidget* help = top_menu(bar, "Help");

  menu_item(file, GTK_STOCK_OPEN, group, GDK_o, G_CALLBACK(on_open_image), tb, false);
  menu_item(file, GTK_STOCK_SAVE, group, GDK_s, G_CALLBACK(on_save_as), window, false);
  gtk_menu_shell_append(GTK_MENU_SHELL(file), gtk_separator_menu_item_new());
  menu_item(file, GTK_STOCK_QUIT, group, GDK_q, G_CALLBACK(cb_quit), window, true);

  menu_item(edit, GTK_STOCK_COPY, group, GDK_c, G_CALLBACK(pixbuf_to_clipboard), nullptr, true);
  menu_item(edit, GTK_STOCK_UNDO, group, GDK_z, G_CALLBACK(undo), nullptr, true);
  menu_item(edit, GTK_STOCK_REDO, group, GDK_y, G_CALLBACK(redo), nullptr, false);
  calc_roi_item = gtk_check_menu_item_new_with_mnemonic("Calculate _From Selection");
  gtk_widget_add_accelerator(calc_roi_item, "activate", group, GDK_f, GDK_CONTROL_MASK,
                             GTK_ACCEL_VISIBLE);
  g_signal_connect(calc_roi_item, "activate", G_CALLBACK(toggle_calc_ROI), nullptr);
  gtk_menu_shell_append(GTK_MENU_SHELL(edit), calc_roi_item);
  menu_item(edit, GTK_STOCK_PREFERENCES, group, 0, G_CALLBACK(gtk_options_dialog_open),
            pass_option_args, false);

  menu_item(help, GTK_STOCK_ABOUT, group, 0, G_CALLBACK(help_about_dialog), window, false);
  return bar;
}

GtkToolItem* stock_button(GtkWidget* tb, const gchar* stock, const gchar* tip, GCallback handler,
                          gpointer data) {
  GtkToolItem* item = gtk_tool_button_new_from_stock(stock);
  gtk_widget_set_tooltip_markup(GTK_WIDGET(item), tip);
  g_signal_connect(item, "clicked", handler, data);
  append_item(tb, item);
  return item;
}

GtkToolItem* icon_button(GtkWidget* tb, const gchar* icon_dir, const gchar* file,
                         const gchar* label, const gchar* tip, GCallback handler, gpointer data) {
  GtkWidget* image = icon_image(icon_dir, file);
  gtk_widget_set_tooltip_markup(image, tip);
  GtkToolItem* item = gtk_tool_button_new(image, label);
  g_signal_connect(item, "clicked", handler, data);
  append_item(tb, item);
  return item;
}

GtkToolItem* holder(GtkWidget* tb, GtkWidget* child, const gchar* tip) {
  GtkToolItem* item = gtk_tool_item_new();
  gtk_container_add(GTK_CONTAINER(item), child);
  if (tip != nullptr) gtk_widget_set_tooltip_markup(GTK_WIDGET(item), tip);
  append_item(tb, item);
  return item;
}

void build_toolbar(GtkWidget* tb, GtkWidget* window, const gchar* icon_dir) {
  gtk_toolbar_set_style(GTK_TOOLBAR(tb), GTK_TOOLBAR_ICONS);
  gtk_toolbar_set_icon_size(GTK_TOOLBAR(tb), GTK_ICON_SIZE_LARGE_TOOLBAR);
  gtk_container_set_border_width(GTK_CONTAINER(tb), 0);

  GtkToolItem* toggle = gtk_toggle_tool_button_new();
  gtk_tool_button_set_icon_widget(GTK_TOOL_BUTTON(toggle),
                                  icon_image(icon_dir, "icon_tz16x24.png"));
  gtk_widget_set_tooltip_markup(GTK_WIDGET(toggle),
                                "toggle between <i>edit</i> and <i>view</i> modes");
  g_signal_connect(toggle, "clicked", G_CALLBACK(cb_toggle_mode), tb);
  append_item(tb, toggle);

  stock_button(tb, GTK_STOCK_OPEN, "Open an image file", G_CALLBACK(on_open_image), tb);
  stock_button(tb, GTK_STOCK_SAVE_AS, "Save image", G_CALLBACK(on_save_as), window);
  icon_button(tb, icon_dir, "icon_alpha24x24.png", "ALPHA",
              "View alpha channel as 256 shades of grey.", G_CALLBACK(cb_draw_alpha), window);
  stock_button(tb, GTK_STOCK_EXECUTE, "Calculate / Pull the matte.", G_CALLBACK(cb_calc), tb);
  icon_button(tb, icon_dir, "iconFG.png", "FG", "Select foreground with white brush strokes.",
              G_CALLBACK(cb_set_FG), tb);
  icon_button(tb, icon_dir, "iconBG.png", "BG", "Select background with black brush strokes.",
              G_CALLBACK(cb_set_BG), tb);
  stock_button(tb, GTK_STOCK_CLEAR, "Erase brush strokes.", G_CALLBACK(cb_set_Eraser), tb);

  GtkWidget* colour = gtk_color_button_new_with_color(&color);
  gtk_widget_set_tooltip_markup(colour, "Select regions with an alternate transparency.");
  g_signal_connect(colour, "color-set", G_CALLBACK(cb_set_Color), tb);
  holder(tb, colour, nullptr);

  zoom_adjustment = GTK_ADJUSTMENT(gtk_adjustment_new(100, 12.5, 400, 12.5, 25, 0));
  g_signal_connect(zoom_adjustment, "value_changed", G_CALLBACK(cb_draw_zoom), window);
  holder(tb, gtk_spin_button_new(zoom_adjustment, 1.0, 1),
         "Scale image view between 12.5% - 400%.");
  GtkWidget* zoom_slider = gtk_hscale_new(zoom_adjustment);
  gtk_scale_set_digits(GTK_SCALE(zoom_slider), 1);
  gtk_scale_set_draw_value(GTK_SCALE(zoom_slider), FALSE);
  gtk_widget_set_size_request(zoom_slider, 70, 0);
  holder(tb, zoom_slider, "Drag to scale image view between 12.5% - 400%.");
  stock_button(tb, GTK_STOCK_ZOOM_100, "Reset scale to 100%.", G_CALLBACK(cb_zoom_to),
               zoom_adjustment);

  brush_adjustment = GTK_ADJUSTMENT(gtk_adjustment_new(10, 1, 1024, 1, 5, 0));
  g_signal_connect(brush_adjustment, "value_changed", G_CALLBACK(cb_set_brush_size), tb);
  append_item(tb, gtk_separator_tool_item_new());
  holder(tb, gtk_spin_button_new(brush_adjustment, 1.0, 0), "Set brush size.");
  GtkWidget* brush_slider = gtk_hscale_new(brush_adjustment);
  gtk_scale_set_digits(GTK_SCALE(brush_slider), 0);
  gtk_scale_set_draw_value(GTK_SCALE(brush_slider), FALSE);
  holder(tb, brush_slider, "Drag to set brush size.");
}

}  // namespace

GtkWidget* quillane_create_main_window(const char* icon_dir) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  main_window = window;
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  gtk_window_set_default_size(GTK_WINDOW(window), 720, 480);
  gtk_window_set_title(GTK_WINDOW(window), "Tessaly");
  gtk_window_set_icon_name(GTK_WINDOW(window), "quillane");

  GtkWidget* vbox = gtk_vbox_new(FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), vbox);

  toolbar = gtk_toolbar_new();
  GtkWidget* menu_bar = build_menu_bar(window, toolbar);

  scrolled_window = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled_window), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  drawing_area = gtk_drawing_area_new();
  gtk_widget_set_size_request(drawing_area, 640, 480);
  gtk_scrolled_window_add_with_viewport(GTK_SCROLLED_WINDOW(scrolled_window), drawing_area);
  g_signal_connect(drawing_area, "expose_event", G_CALLBACK(on_expose_event), nullptr);
  g_signal_connect(drawing_area, "configure_event", G_CALLBACK(configure_event), nullptr);
  g_signal_connect(drawing_area, "motion_notify_event", G_CALLBACK(motion_notify_event), nullptr);
  g_signal_connect(drawing_area, "button_press_event", G_CALLBACK(button_press_event), nullptr);
  // A release outside the canvas would otherwise leave the stroke open, and the next press
  // would join it with a straight line.
  g_signal_connect(drawing_area, "button_release_event", G_CALLBACK(button_release_event), nullptr);
  gtk_widget_set_events(drawing_area, GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK |
                                          GDK_POINTER_MOTION_HINT_MASK | GDK_BUTTON_PRESS_MASK |
                                          GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK);

  build_toolbar(toolbar, window, icon_dir);

  gtk_box_pack_start(GTK_BOX(vbox), menu_bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(vbox), toolbar, FALSE, FALSE, 0);
  gtk_separator_tool_item_set_draw(GTK_SEPARATOR_TOOL_ITEM(toolbar_item(toolbar, 12)), FALSE);
  gtk_tool_item_set_homogeneous(toolbar_item(toolbar, 14), FALSE);
  gtk_tool_item_set_expand(toolbar_item(toolbar, 14), TRUE);
  gtk_box_pack_start(GTK_BOX(vbox), scrolled_window, TRUE, TRUE, 0);
  status_bar = gtk_statusbar_new();
  g_signal_connect(status_bar, "destroy", G_CALLBACK(gtk_widget_destroyed), &status_bar);
  gtk_box_pack_start(GTK_BOX(vbox), status_bar, FALSE, TRUE, 0);

  g_signal_connect(window, "delete_event", G_CALLBACK(cb_delete_event_with_persistence), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(destroy), nullptr);
  g_signal_connect(window, "key-press-event", G_CALLBACK(cb_calc_key_press), nullptr);

  gtk_clipboard_set_can_store(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), nullptr, 0);

  gtk_widget_show_all(window);
  set_configuration(window);
  gtk_widget_hide(GTK_WIDGET(toolbar_item(toolbar, 3)));
  gdk_window_set_cursor(drawing_area->window, blank_cursor);
  return window;
}
