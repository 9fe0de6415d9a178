#include "gui/layout_report.h"

#include <cstdio>

namespace {

void print_widget(const char* name, int index, GtkWidget* widget) {
  if (widget->window == nullptr || !GTK_WIDGET_VISIBLE(widget)) return;
  int ox, oy;
  gdk_window_get_origin(widget->window, &ox, &oy);
  if (GTK_WIDGET_NO_WINDOW(widget)) {
    ox += widget->allocation.x;
    oy += widget->allocation.y;
  }
  std::printf("layout %s %d %d %d %d %d\n", name, index, ox, oy, widget->allocation.width,
              widget->allocation.height);
  std::fflush(stdout);
}

struct Pending {
  const char* name;
  GtkWidget* widget;
};

gboolean print_pending(gpointer data) {
  Pending* p = static_cast<Pending*>(data);
  print_widget(p->name, 0, p->widget);
  g_object_unref(p->widget);
  delete p;
  return FALSE;
}

}  // namespace

bool layout_report_wanted() {
  return g_getenv("QUILLANE_PRINT_LAYOUT") != nullptr;
}

void report_main_layout(const View& view) {
  print_widget("canvas", 0, view.drawing_area);
  for (int i = 0; i < TOOL_COUNT; ++i)
    print_widget(toolbar_item_name(static_cast<ToolbarItem>(i)), 0, GTK_WIDGET(view.tool[i]));
  std::printf("layout done\n");
  std::fflush(stdout);
}

void report_layout_later(const char* name, GtkWidget* widget) {
  if (!layout_report_wanted()) return;
  g_timeout_add(300, print_pending, new Pending{name, GTK_WIDGET(g_object_ref(widget))});
}
