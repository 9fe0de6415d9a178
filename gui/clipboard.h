// Copy: the image on show, cut to the calculation region, onto the CLIPBOARD selection.
#ifndef QUILLANE_GUI_CLIPBOARD_H
#define QUILLANE_GUI_CLIPBOARD_H

#include <gtk/gtk.h>

// Edit > Copy handler; data not used. Without a region for the current image (none chosen
// yet, or one left from an image of another size) the whole image is copied.
void pixbuf_to_clipboard(GtkWidget* item, gpointer data);

#endif
