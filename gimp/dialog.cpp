// "Matte from Strokes": a GimpDialog with the editor's labels and ranges for the options.
#include "gimp/dialog.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include "gimp/layers.h"
#include "matting/calc_options.h"

namespace {

// What the callbacks need; lives on run_matte_dialog()'s stack.
struct DialogState {
  int32_t image, photo;
  GtkWidget* dialog;
  GtkWidget* combo;
  GtkWidget* auto_levels;
  GtkWidget* levels;
  GtkWidget* active;
};

gboolean layer_allowed(gint32 image, gint32 item, gpointer data) {
  const DialogState* s = static_cast<const DialogState*>(data);
  return image == s->image && usable_strokes_layer(s->image, s->photo, item);
}

// OK only with a stroke layer; the levels only when not chosen automatically; the active
// levels at most the levels.
void update(GtkWidget*, gpointer data) {
  DialogState* s = static_cast<DialogState*>(data);
  gint layer = -1;
  gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(s->combo), &layer);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(s->dialog), GTK_RESPONSE_OK, layer > 0);
  const bool manual = !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(s->auto_levels));
  gtk_widget_set_sensitive(s->levels, manual);
  gtk_widget_set_sensitive(s->active, manual);
  const int levels = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(s->levels));
  gtk_spin_button_set_range(GTK_SPIN_BUTTON(s->active), 1, levels);
}

// A spin button for option id with the editor's step and digits, between lower and upper.
GtkWidget* option_spin(CalcOptionId id, double value, double upper) {
  const CalcOptionSpec& o = calc_option_table[id];
  GtkObject* adjustment = gtk_adjustment_new(value, o.lower, upper, o.step, o.page, 0);
  GtkWidget* spin = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), o.climb_rate, o.digits);
  gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
  return spin;
}

// Puts widget in row of table, with a label on its left when label is not null.
void attach(GtkWidget* table, int row, const char* label, GtkWidget* widget) {
  if (label != nullptr) {
    GtkWidget* text = gtk_label_new_with_mnemonic(label);
    gtk_misc_set_alignment(GTK_MISC(text), 0.0, 0.5);
    gtk_label_set_mnemonic_widget(GTK_LABEL(text), widget);
    gtk_table_attach(GTK_TABLE(table), text, 0, 1, row, row + 1, GTK_FILL, GTK_FILL, 0, 0);
    gtk_table_attach(GTK_TABLE(table), widget, 1, 2, row, row + 1, GTK_FILL, GTK_FILL, 0, 0);
  } else {
    gtk_table_attach(GTK_TABLE(table), widget, 0, 2, row, row + 1, GTK_FILL, GTK_FILL, 0, 0);
  }
}

}  // namespace

bool run_matte_dialog(int32_t image, int32_t photo, MatteSettings* settings) {
  DialogState s = {image, photo, nullptr, nullptr, nullptr, nullptr, nullptr};
  s.dialog = gimp_dialog_new("Matte from Strokes", "quillane-matte", nullptr, GtkDialogFlags(0),
                             gimp_standard_help_func, "plug-in-quillane-matte", "_Cancel",
                             GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_alternative_button_order(GTK_DIALOG(s.dialog), GTK_RESPONSE_OK,
                                          GTK_RESPONSE_CANCEL, -1);
  gimp_window_set_transient(GTK_WINDOW(s.dialog));

  GtkWidget* box = gtk_vbox_new(FALSE, 12);
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(s.dialog))), box, TRUE, TRUE,
                     0);
  gchar* name = gimp_item_get_name(photo);
  gchar* intro = g_strdup_printf(
      "The layer \"%s\" gets a layer mask pulled from the strokes: opaque white over what is "
      "surely foreground, opaque black over what is surely background, other opaque colours "
      "for a partial transparency of their grey level. Every other pixel is calculated.",
      name);
  GtkWidget* label = gtk_label_new(intro);
  g_free(intro);
  g_free(name);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_widget_set_size_request(label, 420, -1);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
  gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);

  GtkWidget* table = gtk_table_new(8, 2, FALSE);
  gtk_table_set_row_spacings(GTK_TABLE(table), 6);
  gtk_table_set_col_spacings(GTK_TABLE(table), 12);
  gtk_box_pack_start(GTK_BOX(box), table, FALSE, FALSE, 0);

  s.combo = gimp_layer_combo_box_new(layer_allowed, &s);
  if (!usable_strokes_layer(image, photo, settings->strokes))
    settings->strokes = default_strokes_layer(image, photo);
  if (settings->strokes > 0)
    gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(s.combo), settings->strokes);
  attach(table, 0, "_Strokes:", s.combo);
  GtkWidget* trimap = gtk_check_button_new_with_mnemonic(
      "The layer is a _trimap (black background, white foreground, grey unknown)");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(trimap), settings->trimap != 0);
  attach(table, 1, nullptr, trimap);

  s.auto_levels = gtk_check_button_new_with_mnemonic(calc_auto_levels_choice.label);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(s.auto_levels), settings->auto_levels != 0);
  attach(table, 2, nullptr, s.auto_levels);
  const int w = gimp_drawable_width(photo), h = gimp_drawable_height(photo);
  s.levels = option_spin(OPT_LEVELS, settings->levels, calc_option_upper(OPT_LEVELS, w, h, 1));
  attach(table, 3, calc_option_table[OPT_LEVELS].label, s.levels);
  s.active = option_spin(OPT_ACTIVE_LEVELS, settings->active_levels,
                         calc_option_upper(OPT_ACTIVE_LEVELS, w, h, settings->levels));
  attach(table, 4, calc_option_table[OPT_ACTIVE_LEVELS].label, s.active);
  GtkWidget* softness =
      option_spin(OPT_SOFTNESS, settings->softness, calc_option_table[OPT_SOFTNESS].upper);
  attach(table, 5, calc_option_table[OPT_SOFTNESS].label, softness);
  GtkWidget* radius =
      option_spin(OPT_WINDOW_RADIUS, settings->radius, calc_option_table[OPT_WINDOW_RADIUS].upper);
  attach(table, 6, calc_option_table[OPT_WINDOW_RADIUS].label, radius);
  GtkWidget* clean = gtk_check_button_new_with_mnemonic("C_lean edge colours");
  gtk_widget_set_tooltip_text(
      clean,
      "Where the matte is partly transparent, the layer gets the estimated colour of the "
      "foreground, without the old background that shows through");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(clean), settings->clean_colours != 0);
  attach(table, 7, nullptr, clean);

  g_signal_connect(s.combo, "changed", G_CALLBACK(update), &s);
  g_signal_connect(s.auto_levels, "toggled", G_CALLBACK(update), &s);
  g_signal_connect(s.levels, "value-changed", G_CALLBACK(update), &s);
  update(nullptr, &s);
  gtk_widget_show_all(s.dialog);
  gtk_widget_grab_focus(s.combo);

  const bool ok = gimp_dialog_run(GIMP_DIALOG(s.dialog)) == GTK_RESPONSE_OK;
  if (ok) {
    gint layer = -1;
    gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(s.combo), &layer);
    settings->strokes = layer;
    settings->trimap = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(trimap));
    settings->auto_levels = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(s.auto_levels));
    settings->levels = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(s.levels));
    settings->active_levels = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(s.active));
    settings->softness = gtk_spin_button_get_value(GTK_SPIN_BUTTON(softness));
    settings->radius = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(radius));
    settings->clean_colours = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(clean));
  }
  gtk_widget_destroy(s.dialog);
  return ok;
}
