// Copy: the image on show, cut to the calculation region, onto the CLIPBOARD selection.
#ifndef QUILLANE_GUI_CLIPBOARD_H
#define QUILLANE_GUI_CLIPBOARD_H

#include <gtk/gtk.h>

// Edit > Copy handler (data: the Editor). Without a region for the current image (none chosen
// yet, or one left from an image of another size) the whole image is copied; with clean edge
// colours when the Save dialog's check box is on; in view mode the matte alone (a grey PNG)
// when the Save dialog's choice is "Matte only". A copy that cannot be made (memory) is said in
// the status bar, "Could not copy: reason", and the clipboard keeps what it had.
void pixbuf_to_clipboard(GtkWidget* item, gpointer editor);

#endif
