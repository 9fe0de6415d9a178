// The alpha view: the matte of the document's pixbuf_alpha shown as an opaque grey picture on
// the view surface (alpha 0 black, 255 white) until the view surface is next rebuilt.
#ifndef QUILLANE_GUI_ALPHA_VIEW_H
#define QUILLANE_GUI_ALPHA_VIEW_H

#include <gtk/gtk.h>

// "clicked" of the "ALPHA" tool button (data: the Editor).
void cb_draw_alpha(GtkWidget* button, gpointer editor);

#endif
