// The progress of the current calculation in the status bar: a bar with the engine's report
// and a "Cancel" button beside it.
#ifndef QUILLANE_GUI_CALC_PROGRESS_H
#define QUILLANE_GUI_CALC_PROGRESS_H

#include <gtk/gtk.h>

#include <string>

#include "gui/editor.h"
#include "matting/calc_control.h"

// The text shown while the engine has reported nothing better.
inline constexpr char kCalculatingText[] = "C A L C U L A T I N G";

// The bar's look for a progress report: its text, and the fraction to show, or -1 to pulse.
struct ProgressLook {
  std::string text;
  double fraction;
};
ProgressLook progress_look(const CalcProgress& progress);

// Puts the bar and the Cancel button into ed's status bar and starts the 100 ms timer that
// follows the current request's report (in-out ed->calc.progress). Destroying the bar
// (directly or with the window) stops the timer.
void show_calc_progress(Editor* ed);

// Removes the bar, the button and the timer; nothing when they are gone already.
void hide_calc_progress(Editor* ed);

// Timer callback (data: the Editor): shows the current request's progress; returns TRUE.
gboolean update_progress(gpointer editor);

#endif
