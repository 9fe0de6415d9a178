// Opening images in three ways and saving PNG files.
#ifndef QUILLANE_GUI_GTK_FILE_IO_H
#define QUILLANE_GUI_GTK_FILE_IO_H

#include <gtk/gtk.h>

#include "gui/editor.h"

enum OpenMode {
  OPEN_DEFAULT = 0,         // "Default open": a new image, empty layer, empty history
  OPEN_ALPHA_AS_INPUT = 1,  // "Open with alpha as input": the file's alpha becomes strokes
  OPEN_AS_LAYER = 2,        // "Open as layer": the file replaces the stroke layer
};

// Toolbar "clicked" / menu "activate" handler (data: the Editor): runs the "Open image"
// dialog and opens the chosen file in the mode of its radio buttons. A file that cannot be
// loaded is reported in the error dialog and changes nothing. Refused while a calculation runs.
void on_open_image(GtkWidget* widget, gpointer editor);

// Loads filename into ed for mode (an image: the document's opened_image becomes its absolute
// path). On failure, also while a calculation runs or when the image needs more memory than
// the computer can give (memory_budget.h, checked before decoding), returns FALSE with *error
// set (g_error_free) and changes nothing.
gboolean open_image_file(Editor* ed, const gchar* filename, OpenMode mode, GError** error);

// "update-preview" of the file dialogs: a 128 x 128 thumbnail in the GtkImage preview, decoded
// at preview size (file_preview.h).
void update_preview_cb(GtkFileChooser* chooser, gpointer preview);

// Save handler (data: the Editor): the "Save File" dialog. In edit mode it writes the stroke
// layer (or, with "Save image", the opaque image); in view mode the image with its alpha,
// with clean edge colours when its check box is ticked, or with "Matte only (grey PNG)" the
// matte alone. Failures are shown in the status bar.
void on_save_as(GtkWidget* widget, gpointer editor);

// Cuts the extension off path in place: the last '.' of the last path component, if any.
void strip_file_extension(gchar* path);

// The file actually written for a chosen name: its extension replaced by ".png". Newly
// allocated (g_free).
gchar* png_file_name(const gchar* chosen);

// Write pixbuf / surface as NAME.png, NAME being file_name with its extension cut off (in
// place), through a temporary file beside it, so that a failure leaves an existing NAME.png as
// it was (a link is written through, the old file's permissions are kept). On failure show
// "Could not save NAME.png: reason" in view's status bar and return FALSE.
gboolean save_pixbuf_to_file(View* view, gchar* file_name, GdkPixbuf* pixbuf);
gboolean save_surface_to_file(View* view, gchar* file_name, cairo_surface_t* surface);

// The same for the matte of pixbuf alone, as a grey PNG (matte_export.h).
gboolean save_matte_to_file(View* view, gchar* file_name, GdkPixbuf* pixbuf);

#endif
