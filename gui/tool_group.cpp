#include "gui/tool_group.h"

#include "gui/brush.h"
#include "gui/lasso.h"

namespace {

const ToolbarItem kTools[] = {TOOL_FG, TOOL_BG, TOOL_ERASER, TOOL_LASSO};

bool brush_is_white(const Brush& b) {
  return b.alpha != 0.0 && b.red == 1.0 && b.green == 1.0 && b.blue == 1.0;
}
bool brush_is_black(const Brush& b) {
  return b.alpha != 0.0 && b.red == 0.0 && b.green == 0.0 && b.blue == 0.0;
}

// The tool button of brush b's colour; TOOL_COUNT (none) for the colour button's colours.
ToolbarItem brush_tool(const Brush& b) {
  return b.alpha == 0.0      ? TOOL_ERASER
         : brush_is_white(b) ? TOOL_FG
         : brush_is_black(b) ? TOOL_BG
                             : TOOL_COUNT;
}

GtkToolItem* tool_button(const Editor& ed, ToolbarItem item) {
  return item == TOOL_COUNT ? ed.tools.no_tool : ed.view.tool[item];
}

// "toggled" of a tool button (data: the Editor): the button pressed now selects its tool; the
// one released needs nothing.
void cb_tool_toggled(GtkToggleToolButton* button, gpointer editor) {
  if (!gtk_toggle_tool_button_get_active(button)) return;
  Editor* ed = static_cast<Editor*>(editor);
  const ToolbarItem item = static_cast<ToolbarItem>(
      GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "quillane-tool")));
  const bool was_lasso = ed->tools.lasso;
  ed->tools.lasso = item == TOOL_LASSO;
  if (was_lasso && !ed->tools.lasso) drop_lasso_outline(ed);
  // The cursor changes from brush to crosshair or back.
  if (was_lasso != ed->tools.lasso) redraw_lasso_cursor(ed);
  GtkWidget* widget = GTK_WIDGET(button);
  switch (item) {
    case TOOL_FG:
      cb_set_FG(widget, ed);
      break;
    case TOOL_BG:
      cb_set_BG(widget, ed);
      break;
    case TOOL_ERASER:
      cb_set_Eraser(widget, ed);
      break;
    default:  // the lasso keeps the brush's colour; the hidden member keeps the colour button's
      redraw_brush(ed);
      break;
  }
}

// Appends a radio member of group (null: a new group) as the item of that name (TOOL_COUNT:
// the hidden member, not shown by gtk_widget_show_all()).
GtkToolItem* add_member(Editor* ed, ToolbarItem name, GtkRadioToolButton* group,
                        const gchar* stock) {
  GtkToolItem* item = stock != nullptr
                          ? gtk_radio_tool_button_new_with_stock_from_widget(group, stock)
                          : (group != nullptr ? gtk_radio_tool_button_new_from_widget(group)
                                              : gtk_radio_tool_button_new(nullptr));
  g_object_set_data(G_OBJECT(item), "quillane-tool", GINT_TO_POINTER(name));
  gtk_toolbar_insert(GTK_TOOLBAR(ed->view.toolbar), item, -1);
  if (name == TOOL_COUNT) {
    gtk_widget_set_no_show_all(GTK_WIDGET(item), TRUE);
    ed->tools.no_tool = item;
    g_signal_connect(item, "destroy", G_CALLBACK(gtk_widget_destroyed), &ed->tools.no_tool);
  } else {
    ed->view.tool[name] = item;
  }
  g_signal_connect(item, "toggled", G_CALLBACK(cb_tool_toggled), ed);
  return item;
}

// An icon from icon_dir, with its tooltip on the image as the other icon buttons have it.
void set_icon(GtkToolItem* item, const gchar* icon_dir, const gchar* file, const gchar* label,
              const gchar* tip) {
  gchar* path = g_strdup_printf("%s%s", icon_dir, file);
  GtkWidget* image = gtk_image_new_from_file(path);
  g_free(path);
  gtk_widget_set_tooltip_markup(image, tip);
  gtk_tool_button_set_icon_widget(GTK_TOOL_BUTTON(item), image);
  gtk_tool_button_set_label(GTK_TOOL_BUTTON(item), label);
}

}  // namespace

void add_tool_group(Editor* ed, const gchar* icon_dir) {
  GtkToolItem* fg = add_member(ed, TOOL_FG, nullptr, nullptr);
  GtkRadioToolButton* group = GTK_RADIO_TOOL_BUTTON(fg);
  set_icon(fg, icon_dir, "iconFG.png", "FG", "Select foreground with white brush strokes.");
  set_icon(add_member(ed, TOOL_BG, group, nullptr), icon_dir, "iconBG.png", "BG",
           "Select background with black brush strokes.");
  GtkToolItem* eraser = add_member(ed, TOOL_ERASER, group, GTK_STOCK_CLEAR);
  gtk_widget_set_tooltip_markup(GTK_WIDGET(eraser), "Erase brush strokes.");
  set_icon(add_member(ed, TOOL_LASSO, group, nullptr), icon_dir, "iconLasso.png", "Lasso",
           "Fill an outline with the brush's colour: drag around an area, or Control-click "
           "its corners (double-click or Enter fills, Escape drops it). Key L.");
  add_member(ed, TOOL_COUNT, group, nullptr);
  // A window built anew shows the tool the records hold.
  press_tool(ed, ed->tools.lasso ? TOOL_LASSO : brush_tool(ed->brush));
}

ToolbarItem pressed_tool(const Editor& ed) {
  for (ToolbarItem item : kTools) {
    GtkToolItem* button = ed.view.tool[item];
    if (button != nullptr && gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(button)))
      return item;
  }
  return TOOL_COUNT;
}

void press_tool(Editor* ed, ToolbarItem item) {
  GtkToolItem* button = tool_button(*ed, item);
  if (button != nullptr) gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(button), TRUE);
}

void cb_colour_tool(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  if (!ed->tools.lasso) press_tool(ed, TOOL_COUNT);
}

void swap_foreground_background(Editor* ed) {
  const bool white = brush_is_white(ed->brush);
  if (ed->tools.lasso) {
    if (white)
      cb_set_BG(nullptr, ed);
    else
      cb_set_FG(nullptr, ed);
    redraw_lasso_cursor(ed);
    return;
  }
  press_tool(ed, pressed_tool(*ed) == TOOL_FG ? TOOL_BG : TOOL_FG);
}

void choose_eraser(Editor* ed) {
  if (!ed->tools.lasso) {
    press_tool(ed, TOOL_ERASER);
    return;
  }
  cb_set_Eraser(nullptr, ed);
  redraw_lasso_cursor(ed);
}

void toggle_lasso(Editor* ed) {
  press_tool(ed, ed->tools.lasso ? brush_tool(ed->brush) : TOOL_LASSO);
}
