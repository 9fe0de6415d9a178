// The calculation options dialog, the error dialog and the About dialog.
#ifndef QUILLANE_GUI_QUILLANE_OPTS_H
#define QUILLANE_GUI_QUILLANE_OPTS_H

#include <gtk/gtk.h>

#include "gui/calc_request.h"

// Out record: the options at their defaults (automatic levels off); the image size is left
// alone.
void opts_set_default(OptionArgs* record);

// Runs the modal dialog "options for calculation", transient for widget's toplevel (may be
// null), on record (in-out). OK writes the values and returns true; Cancel, Escape or closing
// the dialog return false and leave the record.
bool run_options_dialog(GtkWidget* widget, OptionArgs* record);

// Edit > Preferences and Calculate (data: the Editor): runs the dialog on the editor's option
// record and keeps its answer in ok_to_calc (1 OK, 0 otherwise). widget is not used.
void gtk_options_dialog_open(GtkWidget* widget, gpointer editor);

// "value_changed" of the levels adjustment: bounds the steps adjustment by the levels.
void cb_levels_num(GtkAdjustment* levels, GtkAdjustment* steps);

// "clicked" of "Reset to default values"; spin_buttons: GSList of the five spin buttons in the
// order levels, steps, softness, threshold, window radius; the check box "Choose levels
// automatically" hangs on the button. Changes only the controls.
void signal_set_defaults(GtkWidget* button, gpointer spin_buttons);

// Shows text (plain, one line per line break) in the modal dialog "Error", transient for the
// toplevel of widget (may be null), and returns when it is closed.
void error_message_dialog(GtkWidget* widget, const gchar* text);

// "activate" of Help > About: the About dialog with the logo.
void help_about_dialog(GtkWidget* item, gpointer window);

// Logo area "expose_event" handler; returns FALSE.
gboolean on_draw_event(GtkWidget* widget, GdkEventExpose* event, gpointer data);

// Draws the logo mark on cr in logo units (the logo box is 71 x 27 units).
void do_drawing(cairo_t* cr, GtkWidget* widget);

// Scale of the logo for a dialog of width x height: min((width + 9) / 71, height / 27).
double logo_scale(int width, int height);

#endif
