// Opening images in three ways and saving PNG files.
#ifndef QUILLANE_GUI_GTK_FILE_IO_H
#define QUILLANE_GUI_GTK_FILE_IO_H

#include <gtk/gtk.h>

enum OpenMode {
  OPEN_DEFAULT = 0,         // "Default open": a new image, empty layer, empty history
  OPEN_ALPHA_AS_INPUT = 1,  // "Open with alpha as input": the file's alpha becomes strokes
  OPEN_AS_LAYER = 2,        // "Open as layer": the file replaces the stroke layer
};

// Toolbar "clicked" / menu "activate" handler (data: the toolbar): runs the "Open image"
// dialog and opens the chosen file in the mode of its radio buttons. A file that cannot be
// loaded is reported in the error dialog and changes nothing.
void on_open_image(GtkWidget* widget, gpointer tb);

// Loads filename and rebuilds the editor state for mode. On failure returns FALSE with *error
// set (g_error_free) and changes nothing. tb: the toolbar (its item 0 tells the mode).
gboolean open_image_file(const gchar* filename, OpenMode mode, GtkWidget* tb, GError** error);

// Absolute path of the image opened last (Default open or with alpha as input), or null.
const gchar* opened_image_path();

// "update-preview" of the file dialogs: a 128 x 128 thumbnail in the GtkImage preview.
void update_preview_cb(GtkFileChooser* chooser, gpointer preview);

// Save handler (data: the main window): the "Save File" dialog. In edit mode it writes the
// stroke layer (or, with "Save image", the opaque image); in view mode the image with its
// alpha. Failures are shown in the status bar.
void on_save_as(GtkWidget* widget, gpointer window);

// Cuts the extension off path in place: the last '.' of the last path component, if any.
void strip_file_extension(gchar* path);

// The file actually written for a chosen name: its extension replaced by ".png". Newly
// allocated (g_free).
gchar* png_file_name(const gchar* chosen);

// Write pixbuf / surface as NAME.png, NAME being file_name with its extension cut off (in
// place), through a temporary file beside it, so that a failure leaves an existing NAME.png as
// it was (a link is written through, the old file's permissions are kept). On failure show
// "Could not save NAME.png: reason" in the status bar and return FALSE.
gboolean save_pixbuf_to_file(gchar* file_name, GdkPixbuf* pixbuf);
gboolean save_surface_to_file(gchar* file_name, cairo_surface_t* surface);

#endif
