#include "gui/gtk_file_IO.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "gui/brush.h"
#include "gui/clean_edges.h"
#include "gui/dialog_run.h"
#include "gui/gtk_calc.h"
#include "gui/gtkquillane.h"
#include "gui/image_source.h"
#include "gui/layer_state.h"
#include "gui/pixel_access.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "gui/view.h"
#include "matting/imgutil.h"

namespace {

// Folders and names remembered for the life of the program.
gchar* open_folder = nullptr;
gchar* save_folder = nullptr;
gchar* layer_name = nullptr;
gchar* image_name = nullptr;
// The image opened last (Default open or with alpha as input), for the dialogs' first folder
// and the names they propose before anything was saved.
gchar* opened_image = nullptr;

void replace_string(gchar** slot, gchar* value) {
  g_free(*slot);
  *slot = value;
}

// The folder a file dialog starts in: the one it showed last, else the opened image's folder,
// else the working folder (GTK would otherwise start in "Recently Used").
void set_first_folder(GtkFileChooser* chooser, const gchar* remembered) {
  if (remembered != nullptr) {
    gtk_file_chooser_set_current_folder(chooser, remembered);
    return;
  }
  gchar* dir = opened_image != nullptr ? g_path_get_dirname(opened_image) : g_get_current_dir();
  gtk_file_chooser_set_current_folder(chooser, dir);
  g_free(dir);
}

// A thumbnail of the file under the cursor, as both file dialogs show it.
void add_preview(GtkFileChooser* chooser) {
  GtkWidget* preview = gtk_image_new();
  gtk_file_chooser_set_preview_widget(chooser, preview);
  g_signal_connect(chooser, "update-preview", G_CALLBACK(update_preview_cb), preview);
}

void add_filter(GtkFileChooser* chooser, const gchar* name, const gchar* pattern) {
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, name);
  gtk_file_filter_add_pattern(filter, pattern);
  gtk_file_chooser_add_filter(chooser, filter);
}

bool view_mode_active(GtkWidget* tb) {
  return gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(tb, 0)));
}

void new_image_surfaces(int w, int h) {
  cairo_surface_destroy(surf_layer);
  surf_layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  resize_view_surface(w, h);
}

void reset_selection_to_image(int w, int h) {
  left_x = top_y = 0;
  selection_w = (w - 1) * scale;
  selection_h = (h - 1) * scale;
}

void set_new_image_options(int w, int h) {
  opts_set_default(pass_option_args);
  pass_option_args->img_width = w;
  pass_option_args->img_height = h;
}

// The image shown follows the mode toggle; the view surface is repainted from scratch.
void show_new_image(GtkWidget* tb) {
  pixbuf_image = view_mode_active(tb) ? pixbuf_alpha : pixbuf_no_alpha;
  invalidate_image_source();
  rebuild_view_surface();
  gtk_widget_queue_draw(drawing_area);
}

GdkPixbuf* new_rgb(int w, int h, bool with_alpha) {
  return gdk_pixbuf_new(GDK_COLORSPACE_RGB, with_alpha, 8, w, h);
}

// Copies red, green and blue of every pixel from an RGBA pixbuf into an RGB one of its size.
void copy_colours(GdkPixbuf* from, GdkPixbuf* to) {
  const int w = gdk_pixbuf_get_width(from), h = gdk_pixbuf_get_height(from);
  for (int y = 0; y < h; ++y) {
    const guchar* src = pixbuf_row(from, y);
    guchar* dst = pixbuf_row(to, y);
    for (int x = 0; x < w; ++x) {
      dst[x * 3] = src[x * 4];
      dst[x * 3 + 1] = src[x * 4 + 1];
      dst[x * 3 + 2] = src[x * 4 + 2];
    }
  }
}

// Alpha as input: opaque pixels become foreground strokes, transparent ones background
// strokes, everything else stays unknown; the layer's base records the same.
void open_alpha_as_input(GdkPixbuf* loaded, GtkWidget* tb) {
  int w = gdk_pixbuf_get_width(loaded), h = gdk_pixbuf_get_height(loaded);
  g_object_unref(pixbuf_no_alpha);
  g_object_unref(pixbuf_alpha);
  initialisinglayer = new_rgb(w, h, true);
  pixbuf_alpha = loaded;
  pixbuf_no_alpha = new_rgb(w, h, false);
  copy_colours(loaded, pixbuf_no_alpha);
  cairo_surface_flush(surf_layer);
  for (int y = 0; y < h; ++y) {
    const guchar* src = pixbuf_row(loaded, y);
    guchar* base = pixbuf_row(initialisinglayer, y);
    guint32* layer = surface_row(surf_layer, y);
    for (int x = 0; x < w; ++x, base += 4) {
      guchar a = src[x * 4 + 3];
      guchar v = a == 255 ? 255 : 0;     // opaque: white, transparent: black
      bool stroke = a == 255 || a == 0;  // anything in between stays unknown
      layer[x] = stroke ? 0xff000000u | (guint32(v) << 16) | (guint32(v) << 8) | v : 0u;
      base[0] = base[1] = base[2] = v;
      base[3] = stroke ? 255 : 0;
    }
  }
  cairo_surface_mark_dirty(surf_layer);
  set_new_image_options(w, h);
  // Strokes of the history belong to the previous image: never replay them over this one.
  clear_history();
  show_new_image(tb);
}

void open_as_layer(GdkPixbuf* loaded, GtkWidget* tb) {
  int W = gdk_pixbuf_get_width(pixbuf_image), H = gdk_pixbuf_get_height(pixbuf_image);
  int w = gdk_pixbuf_get_width(loaded), h = gdk_pixbuf_get_height(loaded);
  cairo_surface_destroy(win_surf);
  win_surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(W * scale),
                                        static_cast<int>(H * scale));
  cairo_surface_destroy(surf_layer);
  surf_layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);

  if (gdk_pixbuf_get_has_alpha(loaded)) {
    initialisinglayer = gdk_pixbuf_copy(loaded);
    cairo_t* cr = cairo_create(surf_layer);
    gdk_cairo_set_source_pixbuf(cr, loaded, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
  } else {
    // An opaque file: what differs from the image is paint, in the file's grey level.
    int cw = MIN(W, w), ch = MIN(H, h);
    initialisinglayer = new_rgb(cw, ch, true);
    cairo_surface_flush(surf_layer);
    const int n1 = gdk_pixbuf_get_n_channels(pixbuf_image), n2 = gdk_pixbuf_get_n_channels(loaded);
    for (int y = 0; y < ch; ++y) {
      const guchar* p1 = pixbuf_row(pixbuf_image, y);
      const guchar* p2 = pixbuf_row(loaded, y);
      guchar* base = pixbuf_row(initialisinglayer, y);
      guint32* layer = surface_row(surf_layer, y);
      for (int x = 0; x < cw; ++x, p1 += n1, p2 += n2, base += 4) {
        int d = std::abs(p2[0] - p1[0]) + std::abs(p2[1] - p1[1]) + std::abs(p2[2] - p1[2]);
        guchar v = d == 0 ? 0 : static_cast<guchar>(rgb2grey(p2[0], p2[1], p2[2]));
        layer[x] = d == 0 ? 0u : 0xff000000u | (guint32(v) << 16) | (guint32(v) << 8) | v;
        base[0] = base[1] = base[2] = v;
        base[3] = d == 0 ? 0 : 255;
      }
    }
    cairo_surface_mark_dirty(surf_layer);
  }
  (void)tb;
  rebuild_view_surface();
  g_object_unref(loaded);
  gtk_widget_queue_draw(gtk_widget_get_toplevel(drawing_area));
}

void open_default(GdkPixbuf* loaded, GtkWidget* tb) {
  int w = gdk_pixbuf_get_width(loaded), h = gdk_pixbuf_get_height(loaded);
  g_object_unref(pixbuf_alpha);
  g_object_unref(pixbuf_no_alpha);
  clear_history();
  reset_selection_to_image(w, h);
  if (gdk_pixbuf_get_has_alpha(loaded)) {
    pixbuf_no_alpha = new_rgb(w, h, false);
    copy_colours(loaded, pixbuf_no_alpha);
    pixbuf_alpha = loaded;
  } else {
    pixbuf_no_alpha = loaded;
    pixbuf_alpha = gdk_pixbuf_add_alpha(loaded, FALSE, 0, 0, 0);
  }
  show_new_image(tb);
  set_new_image_options(w, h);
}

// Camera JPEGs carry their orientation separately; show them the way every viewer does. A
// layer file is turned too, so that a painted copy of such a photo matches the image.
GdkPixbuf* load_oriented(const gchar* filename, GError** error) {
  GdkPixbuf* loaded = gdk_pixbuf_new_from_file(filename, error);
  if (loaded == nullptr) return loaded;
  GdkPixbuf* oriented = gdk_pixbuf_apply_embedded_orientation(loaded);
  g_object_unref(loaded);
  return oriented;
}

}  // namespace

gboolean open_image_file(const gchar* filename, OpenMode mode, GtkWidget* tb, GError** error) {
  if (refuse_while_calculating()) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_AGAIN,
                        "a calculation is running; open the file when it has finished");
    return FALSE;
  }
  GdkPixbuf* loaded = load_oriented(filename, error);
  if (loaded == nullptr) return FALSE;
  if (mode != OPEN_AS_LAYER) {
    gchar* cwd = g_get_current_dir();
    replace_string(&opened_image, g_path_is_absolute(filename)
                                      ? g_strdup(filename)
                                      : g_build_filename(cwd, filename, nullptr));
    g_free(cwd);
  }

  if (initialisinglayer != nullptr) g_object_unref(initialisinglayer);
  initialisinglayer = nullptr;
  int w = gdk_pixbuf_get_width(loaded), h = gdk_pixbuf_get_height(loaded);

  if (mode == OPEN_ALPHA_AS_INPUT) {
    new_image_surfaces(w, h);
    reset_selection_to_image(w, h);
    if (gdk_pixbuf_get_has_alpha(loaded))
      open_alpha_as_input(loaded, tb);
    else
      mode = OPEN_DEFAULT;  // nothing to take strokes from: an ordinary open
  } else if (mode == OPEN_AS_LAYER) {
    open_as_layer(loaded, tb);
  }
  if (mode == OPEN_DEFAULT) {
    new_image_surfaces(w, h);
    open_default(loaded, tb);
  }
  note_layer_saved();
  return TRUE;
}

const gchar* opened_image_path() {
  return opened_image;
}

void update_preview_cb(GtkFileChooser* chooser, gpointer preview) {
  gchar* filename = gtk_file_chooser_get_preview_filename(chooser);
  GdkPixbuf* pixbuf =
      filename != nullptr ? gdk_pixbuf_new_from_file_at_size(filename, 128, 128, nullptr) : nullptr;
  gtk_image_set_from_pixbuf(GTK_IMAGE(preview), pixbuf);
  if (pixbuf != nullptr) g_object_unref(pixbuf);
  g_free(filename);
  gtk_file_chooser_set_preview_widget_active(chooser, pixbuf != nullptr);
}

void on_open_image(GtkWidget*, gpointer tb) {
  if (refuse_while_calculating()) return;
  GtkWidget* parent = gtk_widget_get_toplevel(GTK_WIDGET(toolbar_item(GTK_WIDGET(tb), 0)));
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      "Open image", GTK_WINDOW(parent), GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_OPEN,
      GTK_RESPONSE_ACCEPT, GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  set_first_folder(chooser, open_folder);

  add_preview(chooser);

  GtkWidget* box = gtk_hbox_new(FALSE, 5);
  GtkWidget* radio_default = gtk_radio_button_new_with_label(nullptr, "Default open");
  GtkWidget* radio_alpha = gtk_radio_button_new_with_label_from_widget(
      GTK_RADIO_BUTTON(radio_default), "Open with alpha as input");
  GtkWidget* radio_layer =
      gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(radio_default), "Open as layer");
  for (GtkWidget* radio : {radio_default, radio_alpha, radio_layer})
    gtk_box_pack_start(GTK_BOX(box), radio, TRUE, FALSE, 0);
  gtk_widget_show_all(box);
  gtk_file_chooser_set_extra_widget(chooser, box);

  GtkFileFilter* images = gtk_file_filter_new();
  gtk_file_filter_set_name(images, "Image Files");
  gtk_file_filter_add_pixbuf_formats(images);
  gtk_file_chooser_add_filter(chooser, images);
  add_filter(chooser, "All Files *", "*");

  if (run_dialog(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    gchar* filename = chooser_filename(chooser);
    OpenMode mode = OPEN_DEFAULT;
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radio_alpha)))
      mode = OPEN_ALPHA_AS_INPUT;
    else if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radio_layer)))
      mode = OPEN_AS_LAYER;
    GError* error = nullptr;
    if (filename != nullptr && !open_image_file(filename, mode, GTK_WIDGET(tb), &error)) {
      gchar* text = g_strdup_printf("File open error: %s", error->message);
      error_message_dialog(parent, text);
      g_free(text);
      g_error_free(error);
    } else if (filename != nullptr && mode != OPEN_AS_LAYER) {
      offer_recovery(opened_image, GTK_WIDGET(tb));
    }
    g_free(filename);
  }
  replace_string(&open_folder, gtk_file_chooser_get_current_folder(chooser));
  gtk_widget_destroy(dialog);
}

void strip_file_extension(gchar* path) {
  gchar* base = std::strrchr(path, '/');
  base = base != nullptr ? base + 1 : path;
  gchar* dot = std::strrchr(base, '.');
  // A leading dot names a hidden file, not an extension.
  if (dot != nullptr && dot != base) *dot = '\0';
}

gchar* png_file_name(const gchar* chosen) {
  gchar* stem = g_strdup(chosen);
  strip_file_extension(stem);
  gchar* name = g_strdup_printf("%s.png", stem);
  g_free(stem);
  return name;
}

namespace {

void report_save_failure(const gchar* message) {
  gchar* text = g_strdup_printf("File open error: %s", message);
  update_statusbar(text, STATUS_MESSAGE, status_bar);
  g_free(text);
}

}  // namespace

gboolean save_pixbuf_to_file(gchar* file_name, GdkPixbuf* pixbuf) {
  strip_file_extension(file_name);
  gchar* name = g_strdup_printf("%s.png", file_name);
  GError* error = nullptr;
  gboolean ok = gdk_pixbuf_save(pixbuf, name, "png", &error, nullptr);
  if (!ok) {
    report_save_failure(error->message);
    g_error_free(error);
  }
  g_free(name);
  return ok;
}

gboolean save_surface_to_file(gchar* file_name, cairo_surface_t* surface) {
  strip_file_extension(file_name);
  gchar* name = g_strdup_printf("%s.png", file_name);
  cairo_surface_flush(surface);
  cairo_status_t status = cairo_surface_write_to_png(surface, name);
  if (status != CAIRO_STATUS_SUCCESS) {
    gchar* message = g_strdup_printf("%s: %s", name, cairo_status_to_string(status));
    report_save_failure(message);
    g_free(message);
  }
  g_free(name);
  return status == CAIRO_STATUS_SUCCESS;
}

namespace {

enum { RESPONSE_SAVE_IMAGE = 2 };

// Asks before replacing target; TRUE when the user agrees.
bool confirm_replace(GtkWidget* parent, const gchar* target) {
  gchar* base = g_path_get_basename(target);
  GtkWidget* ask = gtk_message_dialog_new(
      GTK_WINDOW(parent),
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
      "A file named \"%s\" already exists.  Do you want to replace it?", base);
  gtk_window_set_title(GTK_WINDOW(ask), "Replace file");
  gtk_dialog_add_buttons(GTK_DIALOG(ask), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, "_Replace",
                         GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(ask), GTK_RESPONSE_ACCEPT);
  gint answer = run_dialog(GTK_DIALOG(ask));
  gtk_widget_destroy(ask);
  g_free(base);
  return answer == GTK_RESPONSE_ACCEPT;
}

// Presets the name field with a remembered path (folder and name, extension already cut), or,
// before the first save, with the opened image's name followed by suffix.
void preset_name(GtkFileChooser* chooser, const gchar* path, const gchar* suffix) {
  if (path == nullptr) {
    if (opened_image == nullptr) return;
    gchar* base = g_path_get_basename(opened_image);
    strip_file_extension(base);
    gchar* name = g_strconcat(base, suffix, nullptr);
    gtk_file_chooser_set_current_name(chooser, name);
    g_free(name);
    g_free(base);
    return;
  }
  gchar* dir = g_path_get_dirname(path);
  gchar* base = g_path_get_basename(path);
  gtk_file_chooser_set_current_folder(chooser, dir);
  gtk_file_chooser_set_current_name(chooser, base);
  g_free(dir);
  g_free(base);
}

}  // namespace

void on_save_as(GtkWidget*, gpointer window) {
  GtkWidget* parent = gtk_widget_get_toplevel(GTK_WIDGET(window));
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      "Save File", GTK_WINDOW(parent), GTK_FILE_CHOOSER_ACTION_SAVE, GTK_STOCK_CANCEL,
      GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  set_first_folder(chooser, save_folder);

  add_preview(chooser);

  bool edit = in_edit_mode != 0;
  if (edit) {
    gtk_dialog_add_button(GTK_DIALOG(dialog), "Save image", RESPONSE_SAVE_IMAGE);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), RESPONSE_SAVE_IMAGE,
                                            GTK_RESPONSE_ACCEPT, GTK_RESPONSE_CANCEL, -1);
    preset_name(chooser, layer_name, "_strokes");
  } else {
    preset_name(chooser, image_name, "_matte");
  }
  // Only a view-mode save writes the matte, so only there can edge colours be cleaned.
  GtkWidget* clean = edit ? nullptr : gtk_check_button_new_with_label("Clean edge colours");
  if (clean != nullptr) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(clean), clean_edges_wanted);
    gtk_widget_show(clean);
    gtk_file_chooser_set_extra_widget(chooser, clean);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  // The file written is NAME.png, which need not be the name chosen: the overwrite question is
  // asked below about the file actually written.
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);

  add_filter(chooser, "PNG Files", "*.png");
  add_filter(chooser, "All Files", "*.*");

  for (;;) {
    gint response = run_dialog(GTK_DIALOG(dialog));
    if (clean != nullptr)
      clean_edges_wanted = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(clean)) != FALSE;
    if (response != GTK_RESPONSE_ACCEPT && !(edit && response == RESPONSE_SAVE_IMAGE)) break;
    gchar* chosen = chooser_filename(chooser);
    if (chosen == nullptr) continue;
    gchar* target = png_file_name(chosen);
    bool go = !g_file_test(target, G_FILE_TEST_EXISTS) || confirm_replace(dialog, target);
    g_free(target);
    if (!go) {
      g_free(chosen);
      continue;  // back to the dialog to choose another name
    }
    if (edit && response == GTK_RESPONSE_ACCEPT) {
      replace_string(&layer_name, chosen);
      if (save_surface_to_file(layer_name, surf_layer)) note_layer_saved();
    } else {
      replace_string(&image_name, chosen);
      // The image of the mode the dialog was opened in, even if a calculation's result switched
      // the mode while the dialog was open.
      GdkPixbuf* image = pixbuf_to_write(edit ? pixbuf_no_alpha : pixbuf_alpha);
      save_pixbuf_to_file(image_name, image);
      g_object_unref(image);
    }
    break;
  }
  replace_string(&save_folder, gtk_file_chooser_get_current_folder(chooser));
  gtk_widget_destroy(dialog);
}
