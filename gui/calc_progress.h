// The progress of the current calculation in the status bar: a bar with the engine's report
// and a "Cancel" button beside it.
#ifndef QUILLANE_GUI_CALC_PROGRESS_H
#define QUILLANE_GUI_CALC_PROGRESS_H

#include <gtk/gtk.h>

#include <string>

#include "gui/gtk_calc.h"

// The text shown while the engine has reported nothing better.
extern const char kCalculatingText[];

// The bar's look for a progress report: its text, and the fraction to show, or -1 to pulse.
struct ProgressLook {
  std::string text;
  double fraction;
};
ProgressLook progress_look(const CalcProgress& progress);

// Puts the bar and the Cancel button of args (in-out: progress_bar, cancel_button,
// progress_timer) into the status bar and starts the 100 ms timer that follows the worker's
// report. Destroying the bar (directly or with the window) stops the timer.
void show_calc_progress(CalcArgs* args);

// Removes args' bar, button and timer; nothing when they are gone already.
void hide_calc_progress(CalcArgs* args);

// Timer callback (data: the request): shows the worker's progress; returns TRUE.
gboolean update_progress(gpointer args);

#endif
