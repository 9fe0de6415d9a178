// The error dialog and the About dialog, run modally and answered from inside
// gtk_dialog_run(); the canvas cursor around them; the logo's scaling on a real window.
#include <algorithm>
#include <string>
#include <vector>

#include "gui/gtkquillane.h"
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

// The content of a dialog's vbox without its action area.
std::vector<GtkWidget*> content(GtkDialog* d) {
  std::vector<GtkWidget*> out;
  for (GtkWidget* w : children(d->vbox))
    if (w != d->action_area) out.push_back(w);
  return out;
}

GdkCursor* canvas_cursor() {
  return gdk_window_get_cursor(drawing_area->window);
}

bool dialog_left_open() {
  GList* tops = gtk_window_list_toplevels();
  bool open = false;
  for (GList* l = tops; l != nullptr; l = l->next)
    if (GTK_IS_DIALOG(l->data) && GTK_WIDGET_VISIBLE(GTK_WIDGET(l->data))) open = true;
  g_list_free(tops);
  return open;
}

// Rightmost column holding a solid pixel of the logo's rust colour, in the logo area's window.
int rightmost_rust(GtkWidget* logo) {
  int w = logo->allocation.width, h = logo->allocation.height;
  GdkPixbuf* shot = gdk_pixbuf_get_from_drawable(nullptr, logo->window, gdk_colormap_get_system(),
                                                 0, 0, 0, 0, w, h);
  if (shot == nullptr) return -1;
  int right = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      guint32 p = pixbuf_pixel(shot, x, y);
      int r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
      if (r > 150 && g < 90 && b < 40 && x > right) right = x;
    }
  g_object_unref(shot);
  return right;
}

}  // namespace

TEST_F(EditorTest, ErrorDialogShowsAllLinesInOneLabel) {
  const std::string text =
      "The matte could not be solved.\nTry fewer strokes in one region,\n\nor down scaling.";
  bool checked = false;
  DialogAnswer answer([&](GtkDialog* d) {
    checked = true;
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(d)));
    EXPECT_TRUE(gtk_window_get_destroy_with_parent(GTK_WINDOW(d)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(d)), GTK_WINDOW(main_window));
    EXPECT_EQ(canvas_cursor(), nullptr) << "the default pointer while the dialog runs";
    std::vector<GtkWidget*> inside = content(d);
    ASSERT_EQ(inside.size(), 1u);
    ASSERT_TRUE(GTK_IS_LABEL(inside[0]));
    GtkLabel* label = GTK_LABEL(inside[0]);
    EXPECT_EQ(gtk_label_get_text(label), text);
    EXPECT_FALSE(gtk_label_get_use_markup(label));
    EXPECT_EQ(pango_layout_get_line_count(gtk_label_get_layout(label)), 4);
    std::vector<GtkWidget*> buttons = children(d->action_area);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(buttons[0])), GTK_STOCK_OK);
    EXPECT_EQ(gtk_dialog_get_response_for_widget(d, buttons[0]), GTK_RESPONSE_NONE);
    gtk_button_clicked(GTK_BUTTON(buttons[0]));
  });
  error_message_dialog(drawing_area, text.c_str());
  ASSERT_TRUE(answer.answered());
  EXPECT_TRUE(checked);
  EXPECT_EQ(answer.title(), "Error");
  settle();
  EXPECT_FALSE(dialog_left_open()) << "the dialog is destroyed after it returns";
  EXPECT_EQ(canvas_cursor(), blank_cursor);

  // Markup characters are shown as they are.
  DialogAnswer plain([&](GtkDialog* d) {
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(content(d)[0])), std::string("a <b>c</b> & d"));
    gtk_dialog_response(d, GTK_RESPONSE_DELETE_EVENT);
  });
  error_message_dialog(toolbar, "a <b>c</b> & d");
  EXPECT_TRUE(plain.answered());
  EXPECT_FALSE(dialog_left_open());
}

// After a modal dialog the canvas gets the cursor of its mode back: the blank one in edit
// mode (the program draws its brush), the default pointer in view mode.
TEST_F(EditorTest, DialogsRestoreTheCursorOfTheMode) {
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), TRUE);
  settle();
  ASSERT_EQ(in_edit_mode, 0);
  EXPECT_EQ(canvas_cursor(), nullptr);
  DialogAnswer first([](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_NONE); });
  error_message_dialog(main_window, "view mode");
  EXPECT_TRUE(first.answered());
  EXPECT_EQ(canvas_cursor(), nullptr) << "no blank cursor in view mode";
  DialogAnswer about([](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_OK); });
  help_about_dialog(nullptr, main_window);
  EXPECT_TRUE(about.answered());
  EXPECT_EQ(canvas_cursor(), nullptr);

  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), FALSE);
  settle();
  EXPECT_EQ(canvas_cursor(), blank_cursor);
  DialogAnswer second([](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_NONE); });
  error_message_dialog(main_window, "edit mode");
  EXPECT_TRUE(second.answered());
  EXPECT_EQ(canvas_cursor(), blank_cursor);
}

TEST(LogoScale, NarrowByWidthLowByHeight) {
  EXPECT_DOUBLE_EQ(logo_scale(62, 27), 1.0);     // both rules agree
  EXPECT_DOUBLE_EQ(logo_scale(133, 1000), 2.0);  // narrow: (133 + 9) / 71
  EXPECT_DOUBLE_EQ(logo_scale(1000, 54), 2.0);   // low: 54 / 27
  EXPECT_DOUBLE_EQ(logo_scale(200, 200), 209.0 / 71.0);
  EXPECT_DOUBLE_EQ(logo_scale(0, 0), 0.0);
}

TEST_F(EditorTest, AboutDialogFromTheHelpMenuWithScalingLogo) {
  // Help is the third menu of the menu bar, the first child of the window's box.
  GtkWidget* bar = children(children(main_window)[0])[0];
  GtkWidget* help = gtk_menu_item_get_submenu(GTK_MENU_ITEM(children(bar)[2]));
  ASSERT_EQ(children(help).size(), 1u);
  GtkWidget* item = children(help)[0];

  struct Measure {
    int w, h;   // requested dialog size
    double s;   // scale by the rule, from the size the dialog got
    int right;  // rightmost rust column
    bool by_width;
  };
  std::vector<Measure> m = {{350, 900, 0, 0, false},
                            {500, 900, 0, 0, false},
                            {1200, 300, 0, 0, false},
                            {1200, 400, 0, 0, false}};
  DialogAnswer answer([&](GtkDialog* d) {
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(d)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(d)), GTK_WINDOW(main_window));
    int dw = 0, dh = 0;
    gtk_window_get_default_size(GTK_WINDOW(d), &dw, &dh);
    EXPECT_EQ(dw, 200);
    EXPECT_EQ(dh, 200);
    EXPECT_EQ(canvas_cursor(), nullptr);
    std::vector<GtkWidget*> inside = content(d);
    ASSERT_EQ(inside.size(), 2u);
    ASSERT_TRUE(GTK_IS_DRAWING_AREA(inside[0]));
    int rw = 0, rh = 0;
    gtk_widget_get_size_request(inside[0], &rw, &rh);
    EXPECT_EQ(rw, 200);
    EXPECT_EQ(rh, 85);
    ASSERT_TRUE(GTK_IS_LABEL(inside[1]));
    std::string label = gtk_label_get_text(GTK_LABEL(inside[1]));
    EXPECT_NE(label.find("Quillane"), std::string::npos) << label;
    EXPECT_NE(label.find("0.10.4"), std::string::npos) << label;
    std::vector<GtkWidget*> buttons = children(d->action_area);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(buttons[0])), GTK_STOCK_OK);
    EXPECT_EQ(gtk_dialog_get_response_for_widget(d, buttons[0]), GTK_RESPONSE_OK);

    GtkWidget* top = GTK_WIDGET(d);
    gtk_window_move(GTK_WINDOW(d), 0, 0);  // wholly on the screen, which is what is read
    for (Measure& x : m) {
      gtk_window_resize(GTK_WINDOW(d), x.w, x.h);
      settle(300);
      gtk_widget_queue_draw(top);
      settle(100);
      int w = top->allocation.width, h = top->allocation.height;
      x.s = std::min((w + 9) / 71.0, h / 27.0);
      x.by_width = (w + 9) / 71.0 < h / 27.0;
      x.right = rightmost_rust(inside[0]);
    }
    gtk_button_clicked(GTK_BUTTON(buttons[0]));
  });
  gtk_menu_item_activate(GTK_MENU_ITEM(item));
  ASSERT_TRUE(answer.answered());
  EXPECT_EQ(answer.title(), "About Quillane");
  EXPECT_EQ(canvas_cursor(), blank_cursor);
  EXPECT_FALSE(dialog_left_open());

  // The logo is drawn at x = s + s * u for logo units u: its right edge moves with s. Narrow
  // dialogs (the first two) scale by their width, low ones (the last two) by their height.
  for (const Measure& x : m) ASSERT_GT(x.right, 0) << x.w << "x" << x.h << ": no logo drawn";
  EXPECT_NEAR(double(m[1].right) / m[0].right, m[1].s / m[0].s, 0.04);
  EXPECT_NEAR(double(m[3].right) / m[2].right, m[3].s / m[2].s, 0.04);
  EXPECT_TRUE(m[0].by_width && m[1].by_width && !m[2].by_width && !m[3].by_width);
  EXPECT_GT(m[1].s / m[0].s, 1.2) << "the narrow dialogs were not resized";
  EXPECT_GT(m[3].s / m[2].s, 1.2) << "the low dialogs were not resized";
  // Same scale, same logo: a wide and a low dialog of equal scale draw alike.
  EXPECT_NEAR(m[2].right / m[2].s, m[0].right / m[0].s, 0.5);
}
