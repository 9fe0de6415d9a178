#include <algorithm>
#include <cmath>

#include "gui/dialog_run.h"
#include "gui/quillane_opts.h"
#include "icons/logo_mark.h"

namespace {

// The widest a message may be: the window it is for, less the dialog's frame and the label's
// padding, or 600 pixels without one.
int message_width_limit(GtkWidget* top) {
  const int frame = 2 * 12 + 40;
  if (top == nullptr || !GTK_IS_WINDOW(top) || top->allocation.width <= 1) return 600;
  return std::max(top->allocation.width - frame, 200);
}

}  // namespace

void error_message_dialog(GtkWidget* widget, const gchar* text) {
  GtkWidget* label = gtk_label_new(text);
  GtkWidget* top = widget != nullptr ? gtk_widget_get_toplevel(widget) : nullptr;
  // Lines longer than the window wraps (within words only where a word alone is too long, as a
  // file name can be): a dialog is never wider than the window it belongs to.
  int natural = 0;
  PangoLayout* layout = gtk_widget_create_pango_layout(label, text);
  pango_layout_get_pixel_size(layout, &natural, nullptr);
  g_object_unref(layout);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  gtk_widget_set_size_request(label, std::min(natural, message_width_limit(top)), -1);
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      "Error", top != nullptr && GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr,
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_STOCK_OK,
      GTK_RESPONSE_NONE, nullptr);
  gtk_misc_set_padding(GTK_MISC(label), 12, 12);
  gtk_container_add(GTK_CONTAINER(GTK_DIALOG(dialog)->vbox), label);
  gtk_widget_show_all(dialog);
  run_dialog(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

double logo_scale(int width, int height) {
  double by_width = (width + 9) / 71.0;
  double by_height = height / 27.0;
  return by_width < by_height ? by_width : by_height;
}

void do_drawing(cairo_t* cr, GtkWidget*) {
  draw_logo_mark(cr);
}

namespace {

// The wordmark "quillane" as strokes in logo units, right of the mark (x 28 .. 70).
void draw_wordmark(cairo_t* cr) {
  // Narrowed a little so that the last letter stays clear of the box's right edge.
  cairo_translate(cr, 28, 0);
  cairo_scale(cr, 0.9, 1);
  cairo_translate(cr, -28, 0);
  cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
  cairo_set_line_width(cr, 1.6);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  const double base = 19.0, xh = 11.0;
  double x = 29.0;
  // q
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + 2.2, base - 2.5, 2.5, 0, 2 * M_PI);
  cairo_move_to(cr, x + 4.7, xh);
  cairo_line_to(cr, x + 4.7, base + 5);
  x += 6.5;
  // u
  cairo_move_to(cr, x, xh);
  cairo_line_to(cr, x, base - 2);
  cairo_arc_negative(cr, x + 2.0, base - 2, 2.0, M_PI, 0);
  cairo_move_to(cr, x + 4.0, xh);
  cairo_line_to(cr, x + 4.0, base);
  x += 6.0;
  // i
  cairo_move_to(cr, x, xh);
  cairo_line_to(cr, x, base);
  cairo_move_to(cr, x, xh - 3.0);
  cairo_line_to(cr, x, xh - 2.6);
  x += 2.5;
  // l l
  for (int i = 0; i < 2; ++i) {
    cairo_move_to(cr, x, 5.0);
    cairo_line_to(cr, x, base);
    x += 2.5;
  }
  x += 0.5;
  // a
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + 2.2, base - 2.5, 2.5, 0, 2 * M_PI);
  cairo_move_to(cr, x + 4.7, xh + 0.5);
  cairo_line_to(cr, x + 4.7, base);
  x += 6.5;
  // n
  cairo_move_to(cr, x, base);
  cairo_line_to(cr, x, xh);
  cairo_move_to(cr, x, xh + 2.0);
  cairo_arc(cr, x + 2.0, xh + 2.0, 2.0, M_PI, 0);
  cairo_line_to(cr, x + 4.0, base);
  x += 6.0;
  // e
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + 2.5, base - 2.5, 2.5, 0, M_PI * 1.75);
  cairo_move_to(cr, x, base - 2.5);
  cairo_line_to(cr, x + 5.0, base - 2.5);
  cairo_stroke(cr);
}

}  // namespace

gboolean on_draw_event(GtkWidget* widget, GdkEventExpose*, gpointer) {
  GtkWidget* top = gtk_widget_get_toplevel(widget);
  double s = logo_scale(top->allocation.width, top->allocation.height);
  cairo_t* cr = gdk_cairo_create(widget->window);
  cairo_translate(cr, s, 0);
  cairo_scale(cr, s, s);
  cairo_save(cr);
  do_drawing(cr, widget);
  cairo_restore(cr);
  draw_wordmark(cr);
  cairo_destroy(cr);
  return FALSE;
}

void help_about_dialog(GtkWidget*, gpointer window) {
  GtkWidget* logo = gtk_drawing_area_new();
  gtk_widget_set_size_request(logo, 200, 85);
  gchar* text = g_strdup_printf("Quillane %s\n\nAlpha mattes\nfrom rough strokes", "0.10.4");
  GtkWidget* label = gtk_label_new(text);
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      "About Quillane", GTK_WINDOW(window),
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_STOCK_OK,
      GTK_RESPONSE_OK, nullptr);
  gtk_window_set_default_size(GTK_WINDOW(dialog), 200, 200);
  GtkWidget* content = GTK_DIALOG(dialog)->vbox;
  gtk_box_pack_start(GTK_BOX(content), logo, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 6);
  g_signal_connect(logo, "expose_event", G_CALLBACK(on_draw_event), nullptr);
  gtk_widget_show_all(dialog);
  run_dialog(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  g_free(text);
}
