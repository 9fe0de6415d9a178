#include "gui/quillane_opts.h"

#include "gui/dialog_run.h"
#include "gui/editor.h"
#include "gui/live_matte.h"
#include "matting/calc_options.h"

void opts_set_default(OptionArgs* record) {
  calc_options_default(&record->options);
}

namespace {

const char kAutoLevelsKey[] = "quillane-auto-levels";
const char kSolverKey[] = "quillane-solver";

// While the levels are chosen automatically, the levels and steps fields have no say.
void follow_auto_levels(GtkToggleButton* check, gpointer spin_buttons) {
  gboolean manual = !gtk_toggle_button_get_active(check);
  GSList* list = static_cast<GSList*>(spin_buttons);
  gtk_widget_set_sensitive(GTK_WIDGET(g_slist_nth_data(list, OPT_LEVELS)), manual);
  gtk_widget_set_sensitive(GTK_WIDGET(g_slist_nth_data(list, OPT_ACTIVE_LEVELS)), manual);
}

}  // namespace

void cb_levels_num(GtkAdjustment* levels, GtkAdjustment* steps) {
  double n = gtk_adjustment_get_value(levels);
  // Setting the bound first would clamp the value; set both in one go.
  double value = gtk_adjustment_get_value(steps);
  if (value > n) value = n;
  gtk_adjustment_configure(
      steps, value, gtk_adjustment_get_lower(steps), n, gtk_adjustment_get_step_increment(steps),
      gtk_adjustment_get_page_increment(steps), gtk_adjustment_get_page_size(steps));
}

void signal_set_defaults(GtkWidget* button, gpointer spin_buttons) {
  // The list is in record order: levels, steps, softness, threshold, window radius.
  GSList* list = static_cast<GSList*>(spin_buttons);
  for (CalcOptionId id : calc_option_reset_order) {
    GtkSpinButton* spin = GTK_SPIN_BUTTON(g_slist_nth_data(list, id));
    gtk_spin_button_set_value(spin, calc_option_table[id].default_value);
  }
  gpointer check = g_object_get_data(G_OBJECT(button), kAutoLevelsKey);
  if (check != nullptr)
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check),
                                 calc_auto_levels_choice.default_value != 0);
  gpointer solver = g_object_get_data(G_OBJECT(button), kSolverKey);
  if (solver != nullptr)
    gtk_combo_box_set_active(GTK_COMBO_BOX(solver), calc_solver_choice.default_value);
}

void gtk_options_dialog_open(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  bool accepted = run_options_dialog(ed->view.drawing_area, ed->calc.pass_option_args);
  ed->calc.ok_to_calc = accepted ? 1 : 0;
  if (accepted) note_matte_inputs_changed(*ed);
}

bool run_options_dialog(GtkWidget* widget, OptionArgs* record) {
  GtkWidget* parent = widget != nullptr ? gtk_widget_get_toplevel(widget) : nullptr;
  int bound = levels_bound(record->img_width, record->img_height);
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      "options for calculation", parent != nullptr ? GTK_WINDOW(parent) : nullptr,
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_STOCK_OK,
      GTK_RESPONSE_OK, GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, nullptr);
  // Enter in any field accepts, as in every other dialog a user meets.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);

  const CalcOptions& current = record->options;
  GtkAdjustment* adjustment[CALC_OPTION_COUNT];
  for (int id = 0; id < CALC_OPTION_COUNT; ++id) {
    const CalcOptionSpec& info = calc_option_table[id];
    double upper = calc_option_upper(static_cast<CalcOptionId>(id), record->img_width,
                                     record->img_height, current.levels_num);
    if (id == OPT_LEVELS) upper = bound;
    adjustment[id] =
        GTK_ADJUSTMENT(gtk_adjustment_new(calc_option_get(current, static_cast<CalcOptionId>(id)),
                                          info.lower, upper, info.step, info.page, 0));
  }
  g_signal_connect(adjustment[OPT_LEVELS], "value_changed", G_CALLBACK(cb_levels_num),
                   adjustment[OPT_ACTIVE_LEVELS]);

  GtkWidget* content = GTK_DIALOG(dialog)->vbox;
  GtkWidget* spin[CALC_OPTION_COUNT];
  GtkWidget* auto_check = nullptr;
  for (CalcOptionId id : calc_option_dialog_order) {
    const CalcOptionSpec& info = calc_option_table[id];
    GtkWidget* label = gtk_label_new(info.label);
    spin[id] = gtk_spin_button_new(adjustment[id], info.climb_rate, info.digits);
    gtk_entry_set_activates_default(GTK_ENTRY(spin[id]), TRUE);
    gtk_widget_set_name(spin[id], info.name);
    gtk_widget_set_tooltip_text(spin[id], info.description);
    gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 0);
    if (id == OPT_LEVELS) {
      // The automatic choice sits beside the levels field it replaces.
      GtkWidget* row = gtk_hbox_new(FALSE, 8);
      gtk_box_pack_start(GTK_BOX(row), spin[id], TRUE, TRUE, 0);
      auto_check = gtk_check_button_new_with_label(calc_auto_levels_choice.label);
      gtk_widget_set_name(auto_check, calc_auto_levels_choice.name);
      gtk_widget_set_tooltip_text(auto_check, calc_auto_levels_choice.description);
      gtk_box_pack_start(GTK_BOX(row), auto_check, FALSE, FALSE, 0);
      gtk_box_pack_start(GTK_BOX(content), row, FALSE, FALSE, 0);
    } else {
      gtk_box_pack_start(GTK_BOX(content), spin[id], FALSE, FALSE, 0);
    }
  }
  gtk_box_pack_start(GTK_BOX(content), gtk_label_new(calc_solver_choice.label), FALSE, FALSE, 0);
  GtkWidget* solver = gtk_combo_box_new_text();
  for (int i = 0; i < calc_solver_choice.count; ++i)
    gtk_combo_box_append_text(GTK_COMBO_BOX(solver), calc_solver_choice.labels[i]);
  gtk_combo_box_set_active(GTK_COMBO_BOX(solver), current.solver);
  gtk_widget_set_name(solver, calc_solver_choice.name);
  gtk_widget_set_tooltip_text(solver, calc_solver_choice.description);
  gtk_box_pack_start(GTK_BOX(content), solver, FALSE, FALSE, 0);
  GSList* spin_list = nullptr;
  for (int id = CALC_OPTION_COUNT - 1; id >= 0; --id)
    spin_list = g_slist_prepend(spin_list, spin[id]);
  g_signal_connect(auto_check, "toggled", G_CALLBACK(follow_auto_levels), spin_list);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(auto_check), current.auto_levels != 0);
  follow_auto_levels(GTK_TOGGLE_BUTTON(auto_check), spin_list);
  GtkWidget* reset = gtk_button_new_with_label("Reset to default values");
  g_object_set_data(G_OBJECT(reset), kAutoLevelsKey, auto_check);
  g_object_set_data(G_OBJECT(reset), kSolverKey, solver);
  g_signal_connect(reset, "clicked", G_CALLBACK(signal_set_defaults), spin_list);
  gtk_box_pack_start(GTK_BOX(content), reset, FALSE, FALSE, 0);

  gtk_widget_show_all(dialog);
  gint response = run_dialog(GTK_DIALOG(dialog));
  if (response == GTK_RESPONSE_OK) {
    for (int id = 0; id < CALC_OPTION_COUNT; ++id) {
      // Commit text typed into a field that still has the focus.
      gtk_spin_button_update(GTK_SPIN_BUTTON(spin[id]));
    }
    CalcOptions chosen = current;
    for (int id = 0; id < CALC_OPTION_COUNT; ++id)
      calc_option_set(&chosen, static_cast<CalcOptionId>(id),
                      gtk_adjustment_get_value(adjustment[id]));
    chosen.auto_levels = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(auto_check)) ? 1 : 0;
    chosen.solver = gtk_combo_box_get_active(GTK_COMBO_BOX(solver));
    record->options = chosen;
  }
  // Cancel, and also Escape or the close button, leave the record as it was: nobody expects
  // closing a dialog to start a calculation that may take minutes.
  gtk_widget_destroy(dialog);
  g_slist_free(spin_list);
  return response == GTK_RESPONSE_OK;
}
