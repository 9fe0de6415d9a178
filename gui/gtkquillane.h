// The editor's chief header: the process-wide editor state shared by the window, the canvas,
// the commands and the calculation, and the start-up of the main window.
//
// Everything declared here is used on the GTK main thread only. The calculation worker sees
// none of it; it works on the request record of gtk_calc.h.
#ifndef QUILLANE_GUI_GTKQUILLANE_H
#define QUILLANE_GUI_GTKQUILLANE_H

#include <cairo.h>
#include <gtk/gtk.h>

// Widgets built by quillane_create_main_window(); they live as long as the window.
extern GtkWidget* main_window;
extern GtkWidget* drawing_area;
extern GtkWidget* toolbar;
extern GtkWidget* status_bar;
extern GtkWidget* scrolled_window;
extern GtkWidget* calc_roi_item;  // the check item "Calculate _From Selection"
extern GtkAdjustment* zoom_adjustment;
extern GtkAdjustment* brush_adjustment;

// Images. pixbuf_no_alpha: the opened image without alpha, shown in edit mode.
// pixbuf_alpha: the same image with an alpha channel, which receives the matte, shown in view
// mode. pixbuf_image: an alias of whichever is shown (never owns a reference).
extern GdkPixbuf* pixbuf_no_alpha;
extern GdkPixbuf* pixbuf_alpha;
extern GdkPixbuf* pixbuf_image;
// Base of the stroke layer that undo repaints before replaying strokes; null when none.
extern GdkPixbuf* initialisinglayer;

// Rasters. surf_layer: the stroke layer, ARGB32 of the image's size, one pixel per image pixel.
// win_surf: the view surface, ARGB32 of the image's size times scale.
extern cairo_surface_t* surf_layer;
extern cairo_surface_t* win_surf;
extern GdkCursor* blank_cursor;

// View: zoom factor, view pixels per image pixel (0.125 .. 4).
extern double scale;

// Brush state: radius in image pixels (brush size / 2); colour in 0..1; alpha 1 for a
// painting brush, 0 for the eraser; the colour button's colour.
extern double radius;
extern double red, green, blue, alpha;
extern GdkColor color;

// Pointer and stroke state, window coordinates unless said otherwise.
extern double cursor_x, cursor_y;            // pointer, for the brush cursor
extern double prev_cursor_x, prev_cursor_y;  // cursor position at the last expose
extern double prev_x, prev_y;                // previous point of the stroke
extern double prev_true_x, prev_true_y;      // the same in storable (image) coordinates
extern double m_button_x, m_button_y;        // last left-button press
extern int finished_stroke;                  // 1 while no stroke is in progress
extern int stroke_idx;                       // doubles in the current stroke record

// Stroke history: a list of stroke records (arrays of doubles from g_malloc, owned by their
// node), oldest first; current is the newest stroke in force, or null.
extern GList* history;
extern GList* current;
extern unsigned int his_type;

// Modes and the calculation region (image pixels), and the selection in window pixels.
extern int in_edit_mode;
extern int calc_ROI_is_set;
extern double left_x, top_y, selection_w, selection_h;
extern int x_img_ROI, y_img_ROI, w_img_ROI, h_img_ROI;

// Creates the shared objects (placeholder pixbufs and surfaces, cursor, the calculation and
// option records) and resets the editor state to its start values. Must run after gtk_init.
void quillane_shared_objects_init();

// Releases what quillane_shared_objects_init() and later commands created.
void quillane_shared_objects_release();

// Builds the main window "Tessaly" with menus, toolbar, canvas and status bar, connects every
// handler, shows it, restores the saved geometry and hides what edit mode hides. The icons are
// looked up in icon_dir (a folder name ending in a separator). Returns the window (owned by
// GTK; closing it ends the main loop).
GtkWidget* quillane_create_main_window(const char* icon_dir);

// Toolbar item by index: 0 mode toggle, 1 open, 2 save, 3 "ALPHA", 4 Calculate, 5 "FG",
// 6 "BG", 7 eraser, 8 colour button, 9-11 zoom controls, 12 separator, 13-14 brush size.
GtkToolItem* toolbar_item(GtkWidget* tb, int index);

// The icon folder: ICON_DIR plus "/" when set, else the program's installed or built icon
// folder, else "./". Newly allocated; g_free() it.
gchar* quillane_icon_dir();

// Handlers of the main window.
gboolean cb_delete_event_with_persistence(GtkWidget* widget, GdkEvent* event, gpointer data);
void destroy(GtkWidget* widget, gpointer data);

#endif
