// The progress of the current calculation in the status bar: a bar that pulses with
// "C A L C U L A T I N G" for the whole calculation, a label with the engine's report beside
// it ("level 2 of 3 · solving · 40 %"), and a "Cancel" button.
#ifndef QUILLANE_GUI_CALC_PROGRESS_H
#define QUILLANE_GUI_CALC_PROGRESS_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// The bar's text.
inline constexpr char kCalculatingText[] = "C A L C U L A T I N G";

// Puts the bar, the stage label and the Cancel button into ed's status bar and starts the
// 100 ms timer that pulses the bar and follows the current request's report (in-out
// ed->calc.progress). Destroying the bar (directly or with the window) stops the timer.
void show_calc_progress(Editor* ed);

// Removes the bar, the label, the button and the timer; nothing when they are gone already.
void hide_calc_progress(Editor* ed);

// Timer callback (data: the Editor): pulses the bar and shows the current request's report in
// the stage label. Returns TRUE.
gboolean update_progress(gpointer editor);

#endif
