#include "gui/save_choice.h"

#include <initializer_list>

namespace {

// "toggled" of "Matte only (grey PNG)" (data: the check box): a matte has no colours.
void cb_matte_only_toggled(GtkToggleButton* matte_only, gpointer clean) {
  gtk_widget_set_sensitive(GTK_WIDGET(clean), !gtk_toggle_button_get_active(matte_only));
}

}  // namespace

SaveChoice make_save_choice(bool matte_only, bool clean) {
  SaveChoice c;
  c.box = gtk_hbox_new(FALSE, 12);
  GtkWidget* image = gtk_radio_button_new_with_label(nullptr, "Image with alpha");
  c.matte_only =
      gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(image), "Matte only (grey PNG)");
  c.clean = gtk_check_button_new_with_label("Clean edge colours");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(matte_only ? c.matte_only : image), TRUE);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c.clean), clean);
  gtk_widget_set_sensitive(c.clean, !matte_only);
  g_signal_connect(c.matte_only, "toggled", G_CALLBACK(cb_matte_only_toggled), c.clean);
  for (GtkWidget* w : {image, c.matte_only, c.clean})
    gtk_box_pack_start(GTK_BOX(c.box), w, FALSE, FALSE, 0);
  gtk_widget_show_all(c.box);
  return c;
}

void read_save_choice(const SaveChoice& choice, bool* matte_only, bool* clean) {
  *matte_only = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(choice.matte_only));
  *clean = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(choice.clean));
}
