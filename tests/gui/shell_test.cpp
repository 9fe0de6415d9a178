// The main window's widget tree: menus with their stock items and accelerators, the fifteen
// toolbar items with their types and tooltips, the shared adjustments, what is visible at
// start, and the icon folder.
#include <cstring>
#include <string>
#include <vector>

#include <gdk/gdkkeysyms.h>

#include "gui/alpha_view.h"
#include "gui/brush.h"
#include "gui/clipboard.h"
#include "gui/closing.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/quillane_opts.h"
#include "tests/gui/gui_harness.h"

namespace {

std::vector<GtkWidget*> children(GtkWidget* container) {
  std::vector<GtkWidget*> out;
  GList* list = gtk_container_get_children(GTK_CONTAINER(container));
  for (GList* l = list; l != nullptr; l = l->next) out.push_back(GTK_WIDGET(l->data));
  g_list_free(list);
  return out;
}

GtkWidget* menu_bar() {
  return children(children(main_window)[0])[0];
}

// The items of the top menu `index` (0 File, 1 Edit, 2 Help).
std::vector<GtkWidget*> submenu_items(int index) {
  GtkWidget* top = children(menu_bar())[index];
  return children(gtk_menu_item_get_submenu(GTK_MENU_ITEM(top)));
}

struct Accel {
  guint key = 0;
  GdkModifierType mods = GdkModifierType(0);
  GtkAccelFlags flags = GtkAccelFlags(0);
  int count = 0;
};

gboolean same_closure(GtkAccelKey*, GClosure* closure, gpointer data) {
  return closure == static_cast<GClosure*>(data);
}

// The accelerators of a widget, looked up in the window's accelerator groups.
Accel accel_of(GtkWidget* item) {
  Accel out;
  GList* closures = gtk_widget_list_accel_closures(item);
  for (GList* l = closures; l != nullptr; l = l->next) {
    GClosure* closure = static_cast<GClosure*>(l->data);
    GtkAccelGroup* group = gtk_accel_group_from_accel_closure(closure);
    GSList* groups = gtk_accel_groups_from_object(G_OBJECT(main_window));
    EXPECT_NE(g_slist_find(groups, group), nullptr) << "group not attached to the window";
    GtkAccelKey* key = gtk_accel_group_find(group, same_closure, closure);
    if (key == nullptr) continue;
    out.key = key->accel_key;
    out.mods = key->accel_mods;
    out.flags = GtkAccelFlags(key->accel_flags);
    ++out.count;
  }
  g_list_free(closures);
  return out;
}

gboolean handled_by(GtkWidget* widget, const char* signal, gpointer func, gpointer data) {
  guint id = g_signal_lookup(signal, G_OBJECT_TYPE(widget));
  return g_signal_handler_find(
             widget,
             GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA), id, 0,
             nullptr, func, data) != 0;
}

GtkWidget* item(int i) {
  return GTK_WIDGET(toolbar_item(toolbar, i));
}
GtkWidget* child_of(int i) {
  return gtk_bin_get_child(GTK_BIN(item(i)));
}

std::string tip(GtkWidget* w) {
  gchar* t = gtk_widget_get_tooltip_markup(w);
  std::string s = t != nullptr ? t : "";
  g_free(t);
  return s;
}

}  // namespace

TEST_F(EditorTest, MenusCarryStockItemsAcceleratorsAndHandlers) {
  std::vector<GtkWidget*> tops = children(menu_bar());
  ASSERT_EQ(tops.size(), 3u);
  const char* names[] = {"File", "Edit", "Help"};
  for (int i = 0; i < 3; ++i)
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(tops[i])), names[i]);

  struct Row {
    int menu;
    const char* stock;
    guint key;
    gpointer handler;
    gpointer data;
  };
  const Row rows[] = {
      {0, GTK_STOCK_OPEN, GDK_o, (gpointer)on_open_image, toolbar},
      {0, GTK_STOCK_SAVE, GDK_s, (gpointer)on_save_as, main_window},
      {0, GTK_STOCK_QUIT, GDK_q, (gpointer)cb_quit, main_window},  // after a separator
      {1, GTK_STOCK_COPY, GDK_c, (gpointer)pixbuf_to_clipboard, nullptr},
      {1, GTK_STOCK_UNDO, GDK_z, (gpointer)undo, nullptr},
      {1, GTK_STOCK_REDO, GDK_y, (gpointer)redo, nullptr},
      {1, nullptr, GDK_f, nullptr, nullptr},  // the check item, below
      {1, GTK_STOCK_PREFERENCES, 0, (gpointer)gtk_options_dialog_open, pass_option_args},
      {2, GTK_STOCK_ABOUT, 0, (gpointer)help_about_dialog, main_window},
  };
  std::vector<GtkWidget*> menus[3] = {submenu_items(0), submenu_items(1), submenu_items(2)};
  EXPECT_EQ(menus[0].size(), 4u);
  EXPECT_EQ(menus[1].size(), 5u);
  EXPECT_EQ(menus[2].size(), 1u);
  size_t next[3] = {0, 0, 0};
  for (const Row& row : rows) {
    ASSERT_LT(next[row.menu], menus[row.menu].size());
    GtkWidget* w = menus[row.menu][next[row.menu]++];
    if (GTK_IS_SEPARATOR_MENU_ITEM(w)) w = menus[row.menu][next[row.menu]++];
    SCOPED_TRACE(row.stock != nullptr ? row.stock : "check item");
    Accel accel = accel_of(w);
    if (row.key != 0) {
      EXPECT_EQ(accel.count, 1);
      EXPECT_EQ(accel.key, row.key);
      EXPECT_EQ(accel.mods, GDK_CONTROL_MASK);
      EXPECT_TRUE(accel.flags & GTK_ACCEL_VISIBLE);
    } else {
      EXPECT_EQ(accel.count, 0);
    }
    if (row.stock == nullptr) {
      ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(w));
      EXPECT_EQ(w, calc_roi_item);
      EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), "Calculate _From Selection");
      EXPECT_TRUE(gtk_menu_item_get_use_underline(GTK_MENU_ITEM(w)));
      EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w)));
      continue;
    }
    ASSERT_TRUE(GTK_IS_IMAGE_MENU_ITEM(w));
    EXPECT_TRUE(gtk_image_menu_item_get_use_stock(GTK_IMAGE_MENU_ITEM(w)));
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), row.stock);
    EXPECT_TRUE(handled_by(w, "activate", row.handler, row.data));
  }
}

TEST_F(EditorTest, AcceleratorsReachTheirCommands) {
  open_generated(40, 30);
  press(10, 10);
  release(10, 10);
  ASSERT_EQ(layer_pixel(10, 10), 0xffffffffu);
  // Ctrl+Z undoes the stroke, Ctrl+Y brings it back.
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_z, GDK_CONTROL_MASK));
  settle();
  EXPECT_EQ(layer_pixel(10, 10), 0u);
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_y, GDK_CONTROL_MASK));
  settle();
  EXPECT_EQ(layer_pixel(10, 10), 0xffffffffu);
  // Ctrl+F switches the region item on and off.
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_f, GDK_CONTROL_MASK));
  settle();
  EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(calc_roi_item)));
  EXPECT_EQ(calc_ROI_is_set, 1);
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_f, GDK_CONTROL_MASK));
  settle();
  EXPECT_EQ(calc_ROI_is_set, 0);
}

TEST_F(EditorTest, ToolbarItemsByIndexWithTypesAndTooltips) {
  ASSERT_EQ(gtk_toolbar_get_n_items(GTK_TOOLBAR(toolbar)), 15);
  EXPECT_EQ(gtk_toolbar_get_style(GTK_TOOLBAR(toolbar)), GTK_TOOLBAR_ICONS);
  EXPECT_EQ(gtk_toolbar_get_icon_size(GTK_TOOLBAR(toolbar)), GTK_ICON_SIZE_LARGE_TOOLBAR);
  EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(toolbar)), 0u);

  EXPECT_TRUE(GTK_IS_TOGGLE_TOOL_BUTTON(item(0)));
  EXPECT_FALSE(gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(item(0))));
  EXPECT_EQ(tip(item(0)), "toggle between <i>edit</i> and <i>view</i> modes");

  struct Stock {
    int index;
    const char* stock;
    const char* tooltip;
  };
  for (const Stock& s :
       {Stock{1, GTK_STOCK_OPEN, "Open an image file"}, Stock{2, GTK_STOCK_SAVE_AS, "Save image"},
        Stock{4, GTK_STOCK_EXECUTE, "Calculate / Pull the matte."},
        Stock{7, GTK_STOCK_CLEAR, "Erase brush strokes."},
        Stock{11, GTK_STOCK_ZOOM_100, "Reset scale to 100%."}}) {
    SCOPED_TRACE(s.index);
    ASSERT_TRUE(GTK_IS_TOOL_BUTTON(item(s.index)));
    EXPECT_FALSE(GTK_IS_TOGGLE_TOOL_BUTTON(item(s.index)));
    EXPECT_STREQ(gtk_tool_button_get_stock_id(GTK_TOOL_BUTTON(item(s.index))), s.stock);
    EXPECT_EQ(tip(item(s.index)), s.tooltip);
  }

  // The three icon buttons carry their tooltip on the icon image, not on the button.
  struct Icon {
    int index;
    const char* label;
    const char* file;
    const char* tooltip;
  };
  std::vector<Icon> icons = {
      {0, nullptr, "icon_tz16x24.png", nullptr},
      {3, "ALPHA", "icon_alpha24x24.png", "View alpha channel as 256 shades of grey."},
      {5, "FG", "iconFG.png", "Select foreground with white brush strokes."},
      {6, "BG", "iconBG.png", "Select background with black brush strokes."}};
  std::string dir = g_getenv("ICON_DIR");
  for (const Icon& ic : icons) {
    SCOPED_TRACE(ic.file);
    GtkWidget* image = gtk_tool_button_get_icon_widget(GTK_TOOL_BUTTON(item(ic.index)));
    ASSERT_TRUE(GTK_IS_IMAGE(image));
    gchar* file = nullptr;
    g_object_get(image, "file", &file, nullptr);
    EXPECT_STREQ(file, (dir + "/" + ic.file).c_str());
    g_free(file);
    // The file was found: a real picture, not the toolkit's missing-image placeholder.
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_PIXBUF);
    if (ic.label == nullptr) continue;
    EXPECT_STREQ(gtk_tool_button_get_label(GTK_TOOL_BUTTON(item(ic.index))), ic.label);
    EXPECT_EQ(tip(image), ic.tooltip);
    EXPECT_EQ(tip(item(ic.index)), "");
  }

  GtkWidget* colour = child_of(8);
  ASSERT_TRUE(GTK_IS_COLOR_BUTTON(colour));
  GdkColor c;
  gtk_color_button_get_color(GTK_COLOR_BUTTON(colour), &c);
  EXPECT_EQ(c.red, 32768);
  EXPECT_EQ(c.green, 32768);
  EXPECT_EQ(c.blue, 32768);
  EXPECT_EQ(tip(colour), "Select regions with an alternate transparency.");
  EXPECT_EQ(tip(item(8)), "");
  EXPECT_TRUE(handled_by(colour, "color-set", (gpointer)cb_set_Color, toolbar));

  // Zoom and brush controls: spin button and slider share one adjustment each.
  struct Control {
    int index;
    GtkAdjustment* adjustment;
    int digits;
    const char* tooltip;
  };
  for (const Control& ctl :
       {Control{9, zoom_adjustment, 1, "Scale image view between 12.5% - 400%."},
        Control{10, zoom_adjustment, 1, "Drag to scale image view between 12.5% - 400%."},
        Control{13, brush_adjustment, 0, "Set brush size."},
        Control{14, brush_adjustment, 0, "Drag to set brush size."}}) {
    SCOPED_TRACE(ctl.index);
    GtkWidget* w = child_of(ctl.index);
    EXPECT_EQ(tip(item(ctl.index)), ctl.tooltip);
    if (ctl.index % 2 == 1) {
      ASSERT_TRUE(GTK_IS_SPIN_BUTTON(w));
      EXPECT_EQ(gtk_spin_button_get_adjustment(GTK_SPIN_BUTTON(w)), ctl.adjustment);
      EXPECT_EQ(gtk_spin_button_get_digits(GTK_SPIN_BUTTON(w)), guint(ctl.digits));
      gdouble climb = 0;
      g_object_get(w, "climb-rate", &climb, nullptr);
      EXPECT_DOUBLE_EQ(climb, 1.0);
    } else {
      ASSERT_TRUE(GTK_IS_HSCALE(w));
      EXPECT_EQ(gtk_range_get_adjustment(GTK_RANGE(w)), ctl.adjustment);
      EXPECT_EQ(gtk_scale_get_digits(GTK_SCALE(w)), ctl.digits);
      EXPECT_FALSE(gtk_scale_get_draw_value(GTK_SCALE(w)));
    }
  }
  int w = -1, h = -1;
  gtk_widget_get_size_request(child_of(10), &w, &h);
  EXPECT_EQ(w, 70);
  EXPECT_LE(h, 1);  // GTK 2 turns a requested 0 into 1
  ASSERT_TRUE(GTK_IS_SEPARATOR_TOOL_ITEM(item(12)));
  EXPECT_FALSE(gtk_separator_tool_item_get_draw(GTK_SEPARATOR_TOOL_ITEM(item(12))));
  EXPECT_FALSE(gtk_tool_item_get_homogeneous(toolbar_item(toolbar, 14)));
  EXPECT_TRUE(gtk_tool_item_get_expand(toolbar_item(toolbar, 14)));

  // Handlers whose user data matters: the toolbar or the main window.
  EXPECT_TRUE(handled_by(item(1), "clicked", (gpointer)on_open_image, toolbar));
  EXPECT_TRUE(handled_by(item(2), "clicked", (gpointer)on_save_as, main_window));
  EXPECT_TRUE(handled_by(item(3), "clicked", (gpointer)cb_draw_alpha, main_window));
  EXPECT_TRUE(handled_by(item(4), "clicked", (gpointer)cb_calc, toolbar));
}

TEST_F(EditorTest, AdjustmentsStartAtTheirRangesAndDriveZoomAndBrush) {
  struct Range {
    GtkAdjustment* adj;
    double value, lower, upper, step, page;
  };
  for (const Range& r : {Range{zoom_adjustment, 100, 12.5, 400, 12.5, 25},
                         Range{brush_adjustment, 10, 1, 1024, 1, 5}}) {
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(r.adj), r.value);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_lower(r.adj), r.lower);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(r.adj), r.upper);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_step_increment(r.adj), r.step);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_increment(r.adj), r.page);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_size(r.adj), 0);
  }
  EXPECT_DOUBLE_EQ(scale, 1.0);
  EXPECT_DOUBLE_EQ(radius, 5.0);
  // Stepping the zoom spin button moves by 12.5 %, and the slider follows.
  gtk_spin_button_spin(GTK_SPIN_BUTTON(child_of(9)), GTK_SPIN_STEP_FORWARD, 0);
  settle();
  EXPECT_DOUBLE_EQ(scale, 1.125);
  EXPECT_DOUBLE_EQ(gtk_range_get_value(GTK_RANGE(child_of(10))), 112.5);
  gtk_range_set_value(GTK_RANGE(child_of(14)), 25);
  settle();
  EXPECT_DOUBLE_EQ(radius, 12.5);
  EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(child_of(13))), 25);
  // The adjustments clamp to their ranges.
  gtk_adjustment_set_value(zoom_adjustment, 1000);
  gtk_adjustment_set_value(brush_adjustment, 0);
  settle();
  EXPECT_DOUBLE_EQ(scale, 4.0);
  EXPECT_DOUBLE_EQ(radius, 0.5);
}

TEST_F(EditorTest, WindowLayoutAndWhatShowsAtStart) {
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(main_window)), "Tessaly");
  int dw = 0, dh = 0;
  gtk_window_get_default_size(GTK_WINDOW(main_window), &dw, &dh);
  EXPECT_EQ(dw, 720);
  EXPECT_EQ(dh, 480);
  GtkWindowPosition pos;
  g_object_get(main_window, "window-position", &pos, nullptr);
  EXPECT_EQ(pos, GTK_WIN_POS_CENTER);

  std::vector<GtkWidget*> box = children(children(main_window)[0]);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_TRUE(GTK_IS_MENU_BAR(box[0]));
  EXPECT_EQ(box[1], toolbar);
  EXPECT_EQ(box[2], scrolled_window);
  EXPECT_EQ(box[3], status_bar);
  EXPECT_TRUE(GTK_IS_STATUSBAR(status_bar));
  struct Pack {
    gboolean expand, fill;
    guint padding;
  };
  Pack expected[4] = {{FALSE, FALSE, 0}, {FALSE, FALSE, 0}, {TRUE, TRUE, 0}, {FALSE, TRUE, 0}};
  for (int i = 0; i < 4; ++i) {
    gboolean expand, fill;
    guint padding;
    GtkPackType type;
    gtk_box_query_child_packing(GTK_BOX(children(main_window)[0]), box[i], &expand, &fill, &padding,
                                &type);
    EXPECT_EQ(expand, expected[i].expand) << i;
    EXPECT_EQ(fill, expected[i].fill) << i;
    EXPECT_EQ(padding, expected[i].padding) << i;
  }

  GtkPolicyType hp, vp;
  gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(scrolled_window), &hp, &vp);
  EXPECT_EQ(hp, GTK_POLICY_AUTOMATIC);
  EXPECT_EQ(vp, GTK_POLICY_AUTOMATIC);
  EXPECT_TRUE(GTK_IS_VIEWPORT(gtk_widget_get_parent(drawing_area)));
  EXPECT_EQ(gtk_widget_get_parent(gtk_widget_get_parent(drawing_area)), scrolled_window);
  // The canvas asks for the size of the view surface, so that window pixels are view pixels
  // (creating the zoom spin button already applied the zoom to the 1 x 1 placeholder).
  int rw = 0, rh = 0;
  gtk_widget_get_size_request(drawing_area, &rw, &rh);
  EXPECT_EQ(rw, cairo_image_surface_get_width(win_surf));
  EXPECT_EQ(rh, cairo_image_surface_get_height(win_surf));
  gint mask = gtk_widget_get_events(drawing_area);
  const gint needed = GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK | GDK_POINTER_MOTION_HINT_MASK |
                      GDK_BUTTON_PRESS_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_BUTTON_RELEASE_MASK;
  EXPECT_EQ(mask & needed, needed);

  // Edit mode at start: everything but "ALPHA" is shown, and the system pointer is blank
  // over the canvas (the program draws its own brush).
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(gtk_widget_get_visible(item(i)), i != 3) << "toolbar item " << i;
  EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), blank_cursor);
  EXPECT_EQ(gdk_cursor_get_cursor_type(blank_cursor), GDK_BLANK_CURSOR);
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(pixbuf_image, pixbuf_no_alpha);
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf_alpha), 1);
  EXPECT_TRUE(gdk_pixbuf_get_has_alpha(pixbuf_alpha));
  EXPECT_FALSE(gdk_pixbuf_get_has_alpha(pixbuf_no_alpha));
  EXPECT_EQ(cairo_image_surface_get_width(surf_layer), 1);
  EXPECT_EQ(cairo_image_surface_get_format(win_surf), CAIRO_FORMAT_ARGB32);
}

// Closing the window: the delete handler lets the window go, and "destroy" ends the loop.
TEST_F(EditorTest, ClosingTheWindowEndsTheMainLoop) {
  g_timeout_add(
      50,
      [](gpointer) -> gboolean {
        GdkEvent* ev = gdk_event_new(GDK_DELETE);
        ev->any.window = GDK_WINDOW(g_object_ref(main_window->window));
        ev->any.send_event = TRUE;
        gtk_main_do_event(ev);
        gdk_event_free(ev);
        return FALSE;
      },
      nullptr);
  static bool timed_out;
  timed_out = false;
  guint guard = g_timeout_add(
      10000, [](gpointer) -> gboolean { return timed_out = true, gtk_main_quit(), FALSE; },
      nullptr);
  gtk_main();
  EXPECT_FALSE(timed_out) << "the main loop did not end";
  if (!timed_out) g_source_remove(guard);
  EXPECT_EQ(main_window, nullptr) << "the window was not destroyed";
}

TEST(IconFolder, EnvironmentFolderGetsOneSeparatorAppended) {
  std::string saved = g_getenv("ICON_DIR") != nullptr ? g_getenv("ICON_DIR") : "";
  g_setenv("ICON_DIR", "/opt/q/icons", TRUE);
  gchar* dir = quillane_icon_dir();
  EXPECT_STREQ(dir, "/opt/q/icons/");
  g_free(dir);
  g_setenv("ICON_DIR", "/opt/q/icons/", TRUE);
  dir = quillane_icon_dir();
  EXPECT_STREQ(dir, "/opt/q/icons//");
  g_free(dir);
  g_setenv("ICON_DIR", "", TRUE);
  dir = quillane_icon_dir();
  EXPECT_STREQ(dir, "/");
  g_free(dir);
  // Unset: the build's own icon folder (the program's installed one when it has one).
  g_unsetenv("ICON_DIR");
  dir = quillane_icon_dir();
  EXPECT_TRUE(g_str_has_suffix(dir, "/"));
  std::string icon = std::string(dir) + "icon_tz16x24.png";
  EXPECT_TRUE(g_file_test(icon.c_str(), G_FILE_TEST_IS_REGULAR)) << icon;
  g_free(dir);
  g_setenv("ICON_DIR", saved.c_str(), TRUE);
}

// A doubled separator still finds the icons.
TEST_F(EditorTest, IconFolderWithTrailingSeparatorStillLoadsIcons) {
  std::string saved = g_getenv("ICON_DIR");
  g_setenv("ICON_DIR", (saved + "/").c_str(), TRUE);
  rebuild_main_window();
  g_setenv("ICON_DIR", saved.c_str(), TRUE);
  for (int i : {0, 3, 5, 6}) {
    GtkWidget* image = gtk_tool_button_get_icon_widget(GTK_TOOL_BUTTON(item(i)));
    gchar* file = nullptr;
    g_object_get(image, "file", &file, nullptr);
    EXPECT_NE(std::strstr(file, "//icon"), nullptr) << file;
    g_free(file);
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_PIXBUF) << i;
  }
}
