// How much memory the computer can give the editor, and whether opening an image fits in it.
// Calculate asks before a calculation that needs more (gtk_calc.h); Open refuses an image that
// needs more, before decoding it, with the numbers.
#ifndef QUILLANE_GUI_MEMORY_BUDGET_H
#define QUILLANE_GUI_MEMORY_BUDGET_H

#include <glib.h>

#include <string>

#include "gui/editor.h"

// Bytes the editor may use: calc.memory_budget when set (tests), else 80 % of the physical
// memory, or of the address-space limit (ulimit -v) when that is lower.
double memory_budget(const Calculation& calc);

// "about 3 GB", "about 120 MB": bytes for a message.
std::string memory_amount(double bytes);

// Bytes an open of a width x height image in mode (gtk_file_IO.h: 0 default, 1 alpha as
// input, 2 as layer) needs at zoom scale: the decoded file and the pixbufs, surfaces and
// copies the editor makes of it.
double open_needs(int width, int height, int mode, double scale);

// Whether ed can open filename in mode: true when its size cannot be read from its header
// (the loader then reports the file) or the open fits in memory_budget(). Otherwise false
// with *error set (G_FILE_ERROR_NOMEM; g_error_free): the image's size, what it needs and
// what the computer can give.
gboolean open_fits_in_memory(const Editor& ed, const gchar* filename, int mode, GError** error);

#endif
