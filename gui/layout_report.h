// QUILLANE_PRINT_LAYOUT=1 makes the editor print where its widgets are on the screen, as
// lines "layout NAME INDEX X Y WIDTH HEIGHT" on stdout, so that scripts driving it with
// synthetic input know where to click. Toolbar items are named as toolbar_item_name() says.
#ifndef QUILLANE_GUI_LAYOUT_REPORT_H
#define QUILLANE_GUI_LAYOUT_REPORT_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// True when QUILLANE_PRINT_LAYOUT is set.
bool layout_report_wanted();

// Prints view's canvas and every visible toolbar item, then "layout done".
void report_main_layout(const View& view);

// When wanted, prints widget's line (index 0) once it has been placed on the screen.
void report_layout_later(const char* name, GtkWidget* widget);

#endif
