// The calculation options dialog, run for real and answered from inside gtk_dialog_run():
// what OK, Cancel and closing do to the record, the levels/steps coupling, the reset button,
// the fields' ranges and decimals, and Enter in a field.
#include <functional>
#include <string>
#include <vector>

#include "gui/gtk_calc.h"
#include "gui/gtkquillane.h"
#include "gui/quillane_opts.h"
#include "matting/calc_options.h"
#include "tests/gui/gui_harness.h"

namespace {

// The dialog's controls, rows in the order shown.
struct Options {
  GtkDialog* dialog = nullptr;
  std::vector<std::string> labels;
  std::vector<GtkSpinButton*> spins;
  GtkWidget* reset = nullptr;
  GtkToggleButton* automatic = nullptr;  // "Choose levels automatically"
  GtkComboBox* solver = nullptr;
  GtkSpinButton* levels() const { return spins[0]; }
  GtkSpinButton* steps() const { return spins[1]; }
  GtkSpinButton* threshold() const { return spins[2]; }
  GtkSpinButton* softness() const { return spins[3]; }
  GtkSpinButton* radius() const { return spins[4]; }
};

Options inspect(GtkDialog* dialog) {
  Options o;
  o.dialog = dialog;
  GList* list = gtk_container_get_children(GTK_CONTAINER(dialog->vbox));
  for (GList* l = list; l != nullptr; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (w == dialog->action_area) continue;
    // A row may hold a field and a check box beside it.
    GList* row = GTK_IS_HBOX(w) ? gtk_container_get_children(GTK_CONTAINER(w)) : nullptr;
    for (GList* r = row != nullptr ? row : l; r != nullptr;
         r = row != nullptr ? r->next : nullptr) {
      w = GTK_WIDGET(r->data);
      if (GTK_IS_LABEL(w)) o.labels.push_back(gtk_label_get_text(GTK_LABEL(w)));
      if (GTK_IS_SPIN_BUTTON(w)) o.spins.push_back(GTK_SPIN_BUTTON(w));
      if (GTK_IS_COMBO_BOX(w)) o.solver = GTK_COMBO_BOX(w);
      if (GTK_IS_CHECK_BUTTON(w))
        o.automatic = GTK_TOGGLE_BUTTON(w);
      else if (GTK_IS_BUTTON(w) && !GTK_IS_SPIN_BUTTON(w))
        o.reset = w;
    }
    g_list_free(row);
  }
  g_list_free(list);
  return o;
}

bool responded;
void on_response(GtkDialog*, gint, gpointer) {
  responded = true;
}

// Runs the dialog through the given opener and lets act() work on it while it runs. A button
// activated from the keyboard answers only after its pressed look has shown (a GTK timeout),
// so wait for an answer a little; when none comes (a failed check), cancel so that the test
// goes on.
void run_options(
    const std::function<void(const Options&)>& act, const std::function<void()>& opener = [] {
      gtk_options_dialog_open(nullptr, pass_option_args);
    }) {
  responded = false;
  DialogAnswer answer([&](GtkDialog* d) {
    g_signal_connect(d, "response", G_CALLBACK(on_response), nullptr);
    Options o = inspect(d);
    if (o.spins.size() == 5 && o.reset != nullptr && o.automatic != nullptr)
      act(o);
    else
      ADD_FAILURE() << "the dialog has " << o.spins.size() << " spin buttons";
    for (int i = 0; i < 100 && !responded; ++i) settle(20);
    if (!responded) {
      ADD_FAILURE() << "the dialog was not answered";
      gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
    }
  });
  opener();
  EXPECT_TRUE(answer.answered());
  EXPECT_EQ(answer.title(), "options for calculation");
}

void set(GtkSpinButton* spin, double value) {
  gtk_spin_button_set_value(spin, value);
}

struct Values {
  int levels, active;
  double softness, threshold;
  int radius;
};

void expect_record(const Values& v) {
  EXPECT_EQ(pass_option_args->levels_num, v.levels);
  EXPECT_EQ(pass_option_args->active_levels_num, v.active);
  EXPECT_NEAR(pass_option_args->softness, v.softness, 1e-13);
  EXPECT_NEAR(pass_option_args->threshold, v.threshold, 1e-12);
  EXPECT_EQ(pass_option_args->window_radius, v.radius);
}

void change_everything(const Options& o) {
  set(o.levels(), 4);
  set(o.steps(), 3);
  set(o.threshold(), 0.3);
  set(o.softness(), 5e-6);
  set(o.radius(), 3);
}

}  // namespace

TEST_F(EditorTest, OkWritesTheFieldsCancelAndCloseLeaveThem) {
  expect_record({1, 1, 1e-7, 0.02, 1});
  open_generated(60, 50);
  expect_record({1, 1, 1e-7, 0.02, 1});
  EXPECT_EQ(pass_option_args->img_width, 60);
  EXPECT_EQ(pass_option_args->img_height, 50);

  // Cancel: record unchanged, and the command that opened the dialog is told not to go on.
  ok_to_calc = 1;
  run_options([](const Options& o) {
    change_everything(o);
    gtk_dialog_response(o.dialog, GTK_RESPONSE_CANCEL);
  });
  expect_record({1, 1, 1e-7, 0.02, 1});
  EXPECT_EQ(ok_to_calc, 0);

  // Closing the window (or Escape) is a cancel too: the record stays, nothing may start.
  for (gint response : {GTK_RESPONSE_DELETE_EVENT, GTK_RESPONSE_NONE}) {
    ok_to_calc = 1;
    run_options([response](const Options& o) {
      change_everything(o);
      gtk_dialog_response(o.dialog, response);
    });
    expect_record({1, 1, 1e-7, 0.02, 1});
    EXPECT_EQ(ok_to_calc, 0);
  }

  // OK: every field written, the rows in their order with their labels.
  ok_to_calc = 0;
  run_options([](const Options& o) {
    const std::vector<std::string> labels = {
        "Down scale image this many times for larger images",
        "Recalculate matte in this many steps when upscaling",
        "Threshold value for trimatte from down scaled matte",
        "Degree edges are softened in the matte",
        "Window size. Try down scaling (more efficient) first!",
        "Solver"};
    EXPECT_EQ(o.labels, labels);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(o.reset)), "Reset to default values");
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(o.dialog)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(o.dialog)), GTK_WINDOW(main_window));
    EXPECT_TRUE(gtk_window_get_destroy_with_parent(GTK_WINDOW(o.dialog)));
    // The default pointer over the canvas while the dialog runs.
    EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), nullptr);
    change_everything(o);
    gtk_dialog_response(o.dialog, GTK_RESPONSE_OK);
  });
  expect_record({4, 3, 5e-6, 0.3, 3});
  EXPECT_EQ(ok_to_calc, 1);
  EXPECT_EQ(pass_option_args->img_width, 60);
  EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), blank_cursor);

  // The dialog starts from the record.
  run_options([](const Options& o) {
    EXPECT_EQ(gtk_spin_button_get_value_as_int(o.levels()), 4);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(o.steps()), 3);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.threshold()), 0.3);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.softness()), 5e-6);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(o.radius()), 3);
    gtk_dialog_response(o.dialog, GTK_RESPONSE_CANCEL);
  });
  // A new image starts with the defaults again.
  open_generated(60, 50);
  expect_record({1, 1, 1e-7, 0.02, 1});
}

TEST_F(EditorTest, StepsFollowTheLevels) {
  open_generated(60, 50);  // up to 50 / 10 = 5 levels
  run_options([](const Options& o) {
    GtkAdjustment* steps = gtk_spin_button_get_adjustment(o.steps());
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(gtk_spin_button_get_adjustment(o.levels())), 5);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(steps), 1);
    set(o.levels(), 4);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(steps), 4);
    set(o.steps(), 4);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.steps()), 4);
    // Lowering the levels pulls the steps down with them.
    set(o.levels(), 2);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.steps()), 2);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(steps), 2);
    set(o.steps(), 3);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.steps()), 2);
    // Raising them leaves the steps where they are, with room up to the new levels.
    set(o.levels(), 5);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.steps()), 2);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(steps), 5);
    set(o.levels(), 9);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.levels()), 5);
    gtk_dialog_response(o.dialog, GTK_RESPONSE_OK);
  });
  expect_record({5, 2, 1e-7, 0.02, 1});

  // The bound divides the shorter side by ten, truncating, and is at least 1.
  struct Bound {
    int w, h, levels;
  };
  for (const Bound& b : {Bound{15, 15, 1}, Bound{25, 400, 2}, Bound{19, 300, 1}}) {
    SCOPED_TRACE(std::to_string(b.w) + "x" + std::to_string(b.h));
    open_generated(b.w, b.h);
    run_options([&](const Options& o) {
      EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(gtk_spin_button_get_adjustment(o.levels())),
                       b.levels);
      set(o.levels(), 3);
      gtk_spin_button_spin(o.levels(), GTK_SPIN_STEP_FORWARD, 0);
      EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.levels()), b.levels);
      set(o.steps(), 3);
      EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.steps()), b.levels);
      gtk_dialog_response(o.dialog, GTK_RESPONSE_OK);
    });
    expect_record({b.levels, b.levels, 1e-7, 0.02, 1});
  }
}

TEST_F(EditorTest, ResetChangesOnlyTheControls) {
  open_generated(60, 50);
  *pass_option_args = {3, 2, 2e-6, 0.1, 4, 60, 50, 1, CALC_SOLVER_ITERATIVE};
  run_options([](const Options& o) {
    EXPECT_TRUE(gtk_toggle_button_get_active(o.automatic));
    EXPECT_EQ(gtk_combo_box_get_active(o.solver), CALC_SOLVER_ITERATIVE);
    gtk_button_clicked(GTK_BUTTON(o.reset));
    EXPECT_FALSE(gtk_toggle_button_get_active(o.automatic));
    EXPECT_EQ(gtk_combo_box_get_active(o.solver), CALC_SOLVER_DIRECT);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(o.levels()), 1);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(o.steps()), 1);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.softness()), 1e-7);
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(o.threshold()), 0.02);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(o.radius()), 1);
    gtk_dialog_response(o.dialog, GTK_RESPONSE_CANCEL);
  });
  expect_record({3, 2, 2e-6, 0.1, 4});
  EXPECT_EQ(pass_option_args->auto_levels, 1);
  EXPECT_EQ(pass_option_args->solver, CALC_SOLVER_ITERATIVE);
  run_options([](const Options& o) {
    gtk_button_clicked(GTK_BUTTON(o.reset));
    gtk_dialog_response(o.dialog, GTK_RESPONSE_OK);
  });
  expect_record({1, 1, 1e-7, 0.02, 1});
  EXPECT_EQ(pass_option_args->auto_levels, 0);
  EXPECT_EQ(pass_option_args->solver, CALC_SOLVER_DIRECT);
  EXPECT_EQ(pass_option_args->img_width, 60);
  EXPECT_EQ(pass_option_args->img_height, 50);
}

// The check box beside the levels: off by default; while on, levels and steps have no say.
TEST_F(EditorTest, ChoosingLevelsAutomaticallyDisablesLevelsAndSteps) {
  open_generated(60, 50);
  for (bool on : {true, false}) {
    run_options([on](const Options& o) {
      EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(o.automatic)), "Choose levels automatically");
      EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(o.automatic)),
                gtk_widget_get_parent(GTK_WIDGET(o.levels())));
      EXPECT_EQ(gtk_toggle_button_get_active(o.automatic), !on);
      gtk_toggle_button_set_active(o.automatic, on);
      for (int i = 0; i < 5; ++i)
        EXPECT_EQ(GTK_WIDGET_IS_SENSITIVE(o.spins[i]), !on || i >= 2) << i;
      gtk_dialog_response(o.dialog, GTK_RESPONSE_OK);
    });
    EXPECT_EQ(pass_option_args->auto_levels, on ? 1 : 0);
  }
}

TEST_F(EditorTest, FieldsShowTheirDecimalsAndRanges) {
  open_generated(60, 50);
  run_options([](const Options& o) {
    struct Field {
      GtkSpinButton* spin;
      double lower, upper, step, climb;
      guint digits;
      const char* text;
    };
    for (const Field& f :
         {Field{o.levels(), 1, 5, 1, 1, 0, "1"}, Field{o.steps(), 1, 1, 1, 1, 0, "1"},
          Field{o.threshold(), 0, 0.5, 0.01, 0.01, 2, "0.02"},
          Field{o.softness(), 1e-7, 1e-5, 1e-7, 1e-7, 7, "0.0000001"},
          Field{o.radius(), 1, 5, 1, 1, 0, "1"}}) {
      SCOPED_TRACE(f.text);
      GtkAdjustment* a = gtk_spin_button_get_adjustment(f.spin);
      EXPECT_DOUBLE_EQ(gtk_adjustment_get_lower(a), f.lower);
      EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(a), f.upper);
      EXPECT_DOUBLE_EQ(gtk_adjustment_get_step_increment(a), f.step);
      EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_size(a), 0);
      gdouble climb = 0;
      g_object_get(f.spin, "climb-rate", &climb, nullptr);
      EXPECT_DOUBLE_EQ(climb, f.climb);
      EXPECT_EQ(gtk_spin_button_get_digits(f.spin), f.digits);
      EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(f.spin)), f.text);
    }
    // One step up of the softness is one unit of its last decimal.
    gtk_spin_button_spin(o.softness(), GTK_SPIN_STEP_FORWARD, 0);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(o.softness())), "0.0000002");
    set(o.radius(), 7);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(o.radius()), 5);
    gtk_dialog_response(o.dialog, GTK_RESPONSE_CANCEL);
  });
}

// Enter in a field accepts the dialog, with the text just typed there.
TEST_F(EditorTest, EnterInAFieldAcceptsWithTheTypedValue) {
  ok_to_calc = 0;
  run_options([](const Options& o) {
    gtk_widget_grab_focus(GTK_WIDGET(o.threshold()));
    gtk_entry_set_text(GTK_ENTRY(o.threshold()), "0.25");
    gtk_widget_activate(GTK_WIDGET(o.threshold()));
  });
  EXPECT_NEAR(pass_option_args->threshold, 0.25, 1e-12);
  EXPECT_EQ(ok_to_calc, 1);
}

TEST_F(EditorTest, EditPreferencesOpensTheDialogAndCancelStartsNothing) {
  open_generated(60, 50);
  // The Edit menu is the menu that holds the region item.
  GtkWidget* edit = gtk_widget_get_parent(calc_roi_item);
  GtkWidget* item = find_widget(edit, [](GtkWidget* w) {
    return GTK_IS_IMAGE_MENU_ITEM(w) &&
           g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), GTK_STOCK_PREFERENCES) == 0;
  });
  ASSERT_NE(item, nullptr);
  run_options(
      [](const Options& o) {
        change_everything(o);
        gtk_dialog_response(o.dialog, GTK_RESPONSE_CANCEL);
      },
      [&] { gtk_menu_item_activate(GTK_MENU_ITEM(item)); });
  expect_record({1, 1, 1e-7, 0.02, 1});
  EXPECT_FALSE(calculation_running());
  EXPECT_EQ(in_edit_mode, 1);
}
