// The editor's shared objects and the construction of its main window.
#include "gui/gtkquillane.h"

#include <gdk/gdkkeysyms.h>

#include "gui/alpha_view.h"
#include "gui/brush.h"
#include "gui/checked_surface.h"
#include "gui/clipboard.h"
#include "gui/closing.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/history.h"
#include "gui/image_source.h"
#include "gui/layer_state.h"
#include "gui/live_matte.h"
#include "gui/modes.h"
#include "gui/persistence.h"
#include "gui/quillane_opts.h"
#include "gui/shortcuts.h"
#include "gui/tool_group.h"
#include "gui/view.h"
#include "gui/view_menu.h"
#include "gui/zoom_commands.h"

Editor* quillane_shared_objects_init() {
  Editor* ed = new Editor();
  Document* doc = document_to_change(ed);
  View* view = &ed->view;
  view->blank_cursor = gdk_cursor_new(GDK_BLANK_CURSOR);
  doc->pixbuf_no_alpha = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1, 1);
  doc->pixbuf_alpha = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 1, 1);
  gdk_pixbuf_fill(doc->pixbuf_no_alpha, 0x000000ff);
  gdk_pixbuf_fill(doc->pixbuf_alpha, 0x000000ff);
  view->pixbuf_image = doc->pixbuf_no_alpha;
  GError* error = nullptr;
  view->win_surf = checked_image_surface(CAIRO_FORMAT_ARGB32, 1, 1, &error);
  ed->strokes.surf_layer = view->win_surf != nullptr
                               ? checked_image_surface(CAIRO_FORMAT_ARGB32, 1, 1, &error)
                               : nullptr;
  // Without two pixels of memory at start there is nothing to save yet: stop.
  if (ed->strokes.surf_layer == nullptr) g_error("quillane: %s", error->message);
  note_layer_saved(&ed->strokes);
  OptionArgs* options = new OptionArgs();
  opts_set_default(options);
  // The placeholder image is 1 x 1 until an image is opened.
  options->img_width = options->img_height = 1;
  ed->calc.pass_option_args = options;
  return ed;
}

void quillane_shared_objects_release(Editor* ed) {
  release_live_matte(*ed);
  release_calculations(ed);
  Document* doc = document_to_change(ed, true);
  View* view = &ed->view;
  invalidate_image_source(view);
  g_object_unref(doc->pixbuf_alpha);
  g_object_unref(doc->pixbuf_no_alpha);
  g_free(doc->opened_image);
  cairo_surface_destroy(ed->strokes.surf_layer);
  cairo_surface_destroy(view->win_surf);
  if (ed->strokes.initialisinglayer != nullptr) g_object_unref(ed->strokes.initialisinglayer);
  free_stroke_list(ed->strokes.history);
  if (view->blank_cursor != nullptr) gdk_cursor_unref(view->blank_cursor);
  Session* session = &ed->session;
  for (gchar* text : {session->open_folder, session->save_folder, session->layer_name,
                      session->image_name, session->recovery_written})
    g_free(text);
  g_slist_free_full(session->recovery_files, g_free);
  delete ed;
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

gboolean cb_delete_event_with_persistence(GtkWidget*, GdkEvent*, gpointer editor) {
  return prepare_to_close(static_cast<Editor*>(editor)) ? FALSE : TRUE;
}

void destroy(GtkWidget*, gpointer editor) {
  static_cast<Editor*>(editor)->view.main_window = nullptr;
  gtk_main_quit();
}

namespace {

GtkWidget* icon_image(const gchar* icon_dir, const gchar* file) {
  gchar* path = g_strdup_printf("%s%s", icon_dir, file);
  GtkWidget* image = gtk_image_new_from_file(path);
  g_free(path);
  return image;
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

// The View menu's zoom items, after the live matte's.
void build_view_menu(Editor* ed, GtkWidget* view, GtkAccelGroup* group) {
  gtk_menu_shell_append(GTK_MENU_SHELL(view), gtk_separator_menu_item_new());
  GtkWidget* fit = gtk_menu_item_new_with_label("Zoom to fit");
  gtk_widget_add_accelerator(fit, "activate", group, GDK_0, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  gtk_widget_add_accelerator(fit, "activate", group, GDK_KP_0, GDK_CONTROL_MASK, GtkAccelFlags(0));
  g_signal_connect(fit, "activate", G_CALLBACK(cb_zoom_to_fit), ed);
  gtk_menu_shell_append(GTK_MENU_SHELL(view), fit);
}

GtkWidget* build_menu_bar(Editor* ed) {
  GtkAccelGroup* group = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(ed->view.main_window), group);
  GtkWidget* bar = gtk_menu_bar_new();

  GtkWidget* file = top_menu(bar, "File");
  GtkWidget* edit = top_menu(bar, "Edit");
  GtkWidget* view = append_view_menu(ed, bar, group);
  GtkWidget* help = top_menu(bar, "Help");

  menu_item(file, GTK_STOCK_OPEN, group, GDK_o, G_CALLBACK(on_open_image), ed, false);
  menu_item(file, GTK_STOCK_SAVE, group, GDK_s, G_CALLBACK(on_save_as), ed, false);
  gtk_menu_shell_append(GTK_MENU_SHELL(file), gtk_separator_menu_item_new());
  menu_item(file, GTK_STOCK_QUIT, group, GDK_q, G_CALLBACK(cb_quit), ed, true);

  menu_item(edit, GTK_STOCK_COPY, group, GDK_c, G_CALLBACK(pixbuf_to_clipboard), ed, true);
  menu_item(edit, GTK_STOCK_UNDO, group, GDK_z, G_CALLBACK(undo), ed, true);
  menu_item(edit, GTK_STOCK_REDO, group, GDK_y, G_CALLBACK(redo), ed, false);
  GtkWidget* roi = gtk_check_menu_item_new_with_mnemonic("Calculate _From Selection");
  gtk_widget_add_accelerator(roi, "activate", group, GDK_f, GDK_CONTROL_MASK, GTK_ACCEL_VISIBLE);
  g_signal_connect(roi, "activate", G_CALLBACK(toggle_calc_ROI), ed);
  gtk_menu_shell_append(GTK_MENU_SHELL(edit), roi);
  ed->view.calc_roi_item = roi;
  menu_item(edit, GTK_STOCK_PREFERENCES, group, 0, G_CALLBACK(gtk_options_dialog_open), ed, false);

  build_view_menu(ed, view, group);

  menu_item(help, GTK_STOCK_ABOUT, group, 0, G_CALLBACK(help_about_dialog), ed->view.main_window,
            false);
  return bar;
}

// Appends item to the toolbar as the item of that name.
GtkToolItem* add_tool(View* view, ToolbarItem name, GtkToolItem* item) {
  gtk_toolbar_insert(GTK_TOOLBAR(view->toolbar), item, -1);
  view->tool[name] = item;
  return item;
}

GtkToolItem* stock_button(View* view, ToolbarItem name, const gchar* stock, const gchar* tip,
                          GCallback handler, gpointer data) {
  GtkToolItem* item = gtk_tool_button_new_from_stock(stock);
  gtk_widget_set_tooltip_markup(GTK_WIDGET(item), tip);
  g_signal_connect(item, "clicked", handler, data);
  return add_tool(view, name, item);
}

GtkToolItem* icon_button(View* view, ToolbarItem name, const gchar* icon_dir, const gchar* file,
                         const gchar* label, const gchar* tip, GCallback handler, gpointer data) {
  GtkWidget* image = icon_image(icon_dir, file);
  gtk_widget_set_tooltip_markup(image, tip);
  GtkToolItem* item = gtk_tool_button_new(image, label);
  g_signal_connect(item, "clicked", handler, data);
  return add_tool(view, name, item);
}

GtkToolItem* holder(View* view, ToolbarItem name, GtkWidget* child, const gchar* tip) {
  GtkToolItem* item = gtk_tool_item_new();
  gtk_container_add(GTK_CONTAINER(item), child);
  if (tip != nullptr) gtk_widget_set_tooltip_markup(GTK_WIDGET(item), tip);
  return add_tool(view, name, item);
}

// The one place that decides the toolbar's order: the items are appended in the order of
// ToolbarItem.
void build_toolbar(Editor* ed, const gchar* icon_dir) {
  View* view = &ed->view;
  GtkToolbar* tb = GTK_TOOLBAR(view->toolbar);
  gtk_toolbar_set_style(tb, GTK_TOOLBAR_ICONS);
  gtk_toolbar_set_icon_size(tb, GTK_ICON_SIZE_LARGE_TOOLBAR);
  gtk_container_set_border_width(GTK_CONTAINER(tb), 0);

  GtkToolItem* toggle = gtk_toggle_tool_button_new();
  gtk_tool_button_set_icon_widget(GTK_TOOL_BUTTON(toggle),
                                  icon_image(icon_dir, "icon_tz16x24.png"));
  gtk_widget_set_tooltip_markup(GTK_WIDGET(toggle),
                                "toggle between <i>edit</i> and <i>view</i> modes");
  g_signal_connect(toggle, "clicked", G_CALLBACK(cb_toggle_mode), ed);
  add_tool(view, TOOL_MODE, toggle);

  stock_button(view, TOOL_OPEN, GTK_STOCK_OPEN, "Open an image file", G_CALLBACK(on_open_image),
               ed);
  stock_button(view, TOOL_SAVE, GTK_STOCK_SAVE_AS, "Save image", G_CALLBACK(on_save_as), ed);
  icon_button(view, TOOL_ALPHA, icon_dir, "icon_alpha24x24.png", "ALPHA",
              "View alpha channel as 256 shades of grey.", G_CALLBACK(cb_draw_alpha), ed);
  stock_button(view, TOOL_CALCULATE, GTK_STOCK_EXECUTE, "Calculate / Pull the matte.",
               G_CALLBACK(cb_calc), ed);
  add_tool_group(ed, icon_dir);  // FG, BG, Eraser, Lasso

  GtkWidget* colour = gtk_color_button_new_with_color(&ed->brush.color);
  gtk_widget_set_tooltip_markup(colour, "Select regions with an alternate transparency.");
  g_signal_connect(colour, "color-set", G_CALLBACK(cb_set_Color), ed);
  g_signal_connect(colour, "color-set", G_CALLBACK(cb_colour_tool), ed);
  holder(view, TOOL_COLOUR, colour, nullptr);

  GtkAdjustment* zoom = GTK_ADJUSTMENT(gtk_adjustment_new(100, 12.5, 400, 12.5, 25, 0));
  view->zoom_adjustment = zoom;
  g_signal_connect(zoom, "value_changed", G_CALLBACK(cb_draw_zoom), ed);
  holder(view, TOOL_ZOOM_SPIN, gtk_spin_button_new(zoom, 1.0, 1),
         "Scale image view between 12.5% - 400%.");
  GtkWidget* zoom_slider = gtk_hscale_new(zoom);
  gtk_scale_set_digits(GTK_SCALE(zoom_slider), 1);
  gtk_scale_set_draw_value(GTK_SCALE(zoom_slider), FALSE);
  gtk_widget_set_size_request(zoom_slider, 70, 0);
  holder(view, TOOL_ZOOM_SLIDER, zoom_slider, "Drag to scale image view between 12.5% - 400%.");
  stock_button(view, TOOL_ZOOM_100, GTK_STOCK_ZOOM_100, "Reset scale to 100%.",
               G_CALLBACK(cb_zoom_to), zoom);

  GtkAdjustment* brush = GTK_ADJUSTMENT(gtk_adjustment_new(10, 1, 1024, 1, 5, 0));
  view->brush_adjustment = brush;
  g_signal_connect(brush, "value_changed", G_CALLBACK(cb_set_brush_size), ed);
  add_tool(view, TOOL_SEPARATOR, gtk_separator_tool_item_new());
  holder(view, TOOL_BRUSH_SPIN, gtk_spin_button_new(brush, 1.0, 0), "Set brush size.");
  GtkWidget* brush_slider = gtk_hscale_new(brush);
  gtk_scale_set_digits(GTK_SCALE(brush_slider), 0);
  gtk_scale_set_draw_value(GTK_SCALE(brush_slider), FALSE);
  holder(view, TOOL_BRUSH_SLIDER, brush_slider, "Drag to set brush size.");
  add_tool(view, TOOL_LIVE, live_matte_tool_item(ed));
}

}  // namespace

GtkWidget* quillane_create_main_window(Editor* ed, const char* icon_dir) {
  View* view = &ed->view;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  view->main_window = window;
  set_editor_of_window(window, ed);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  gtk_window_set_default_size(GTK_WINDOW(window), 720, 480);
  gtk_window_set_title(GTK_WINDOW(window), "Tessaly");
  gtk_window_set_icon_name(GTK_WINDOW(window), "quillane");

  GtkWidget* vbox = gtk_vbox_new(FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), vbox);

  view->toolbar = gtk_toolbar_new();
  GtkWidget* menu_bar = build_menu_bar(ed);

  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  view->scrolled_window = scrolled;
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  GtkWidget* canvas = gtk_drawing_area_new();
  view->drawing_area = canvas;
  gtk_widget_set_size_request(canvas, 640, 480);
  gtk_scrolled_window_add_with_viewport(GTK_SCROLLED_WINDOW(scrolled), canvas);
  g_signal_connect(canvas, "destroy", G_CALLBACK(gtk_widget_destroyed), &view->drawing_area);
  g_signal_connect(canvas, "expose_event", G_CALLBACK(on_expose_event), ed);
  g_signal_connect(canvas, "configure_event", G_CALLBACK(configure_event), ed);
  g_signal_connect(canvas, "motion_notify_event", G_CALLBACK(motion_notify_event), ed);
  g_signal_connect(canvas, "button_press_event", G_CALLBACK(button_press_event), ed);
  // A release outside the canvas would otherwise leave the stroke open, and the next press
  // would join it with a straight line.
  g_signal_connect(canvas, "button_release_event", G_CALLBACK(button_release_event), ed);
  g_signal_connect(canvas, "scroll-event", G_CALLBACK(cb_canvas_scroll), ed);
  gtk_widget_set_events(canvas, GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK |
                                    GDK_POINTER_MOTION_HINT_MASK | GDK_BUTTON_PRESS_MASK |
                                    GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK |
                                    GDK_SCROLL_MASK);

  build_toolbar(ed, icon_dir);

  gtk_box_pack_start(GTK_BOX(vbox), menu_bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(vbox), view->toolbar, FALSE, FALSE, 0);
  gtk_separator_tool_item_set_draw(GTK_SEPARATOR_TOOL_ITEM(view->tool[TOOL_SEPARATOR]), FALSE);
  gtk_tool_item_set_homogeneous(view->tool[TOOL_BRUSH_SLIDER], FALSE);
  gtk_tool_item_set_expand(view->tool[TOOL_BRUSH_SLIDER], TRUE);
  gtk_box_pack_start(GTK_BOX(vbox), scrolled, TRUE, TRUE, 0);
  view->status_bar = gtk_statusbar_new();
  make_status_readable(view->status_bar);
  g_signal_connect(view->status_bar, "destroy", G_CALLBACK(gtk_widget_destroyed),
                   &view->status_bar);
  gtk_box_pack_start(GTK_BOX(vbox), view->status_bar, FALSE, TRUE, 0);

  g_signal_connect(window, "delete_event", G_CALLBACK(cb_delete_event_with_persistence), ed);
  g_signal_connect(window, "destroy", G_CALLBACK(destroy), ed);
  // First the single keys: Escape drops a lasso outline before it cancels a calculation.
  g_signal_connect(window, "key-press-event", G_CALLBACK(cb_shortcut_key_press), ed);
  g_signal_connect(window, "key-press-event", G_CALLBACK(cb_calc_key_press), ed);

  gtk_clipboard_set_can_store(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), nullptr, 0);

  gtk_widget_show_all(window);
  set_configuration(window);
  gtk_widget_hide(GTK_WIDGET(view->tool[TOOL_ALPHA]));
  gdk_window_set_cursor(canvas->window, view->blank_cursor);
  return window;
}
