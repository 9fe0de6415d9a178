#include "gui/gtk_file_IO.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "fileio/image_load.h"
#include "fileio/output_file.h"
#include "fileio/png_write.h"
#include "gui/brush.h"
#include "gui/checked_surface.h"
#include "gui/clean_edges.h"
#include "gui/dialog_run.h"
#include "gui/file_preview.h"
#include "gui/image_source.h"
#include "gui/layer_state.h"
#include "gui/live_matte.h"
#include "gui/matte_export.h"
#include "gui/memory_budget.h"
#include "gui/pixel_access.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "gui/save_choice.h"
#include "gui/view.h"
#include "matting/imgutil.h"

namespace {

void replace_string(gchar** slot, gchar* value) {
  g_free(*slot);
  *slot = value;
}

// The folder a file dialog starts in: the one it showed last, else the opened image's folder,
// else the working folder (GTK would otherwise start in "Recently Used").
void set_first_folder(GtkFileChooser* chooser, const gchar* remembered, const gchar* opened) {
  if (remembered != nullptr) {
    gtk_file_chooser_set_current_folder(chooser, remembered);
    return;
  }
  gchar* dir = opened != nullptr ? g_path_get_dirname(opened) : g_get_current_dir();
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

bool view_mode_active(const View& view) {
  return gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(view.tool[TOOL_MODE]));
}

void reset_selection_to_image(View* view, int w, int h) {
  view->left_x = view->top_y = 0;
  view->selection_w = (w - 1) * view->scale;
  view->selection_h = (h - 1) * view->scale;
}

void set_new_image_options(OptionArgs* record, int w, int h) {
  opts_set_default(record);
  record->img_width = w;
  record->img_height = h;
}

// The image shown follows the mode toggle; the view surface is repainted from scratch.
void show_new_image(Editor* ed) {
  View* view = &ed->view;
  view->pixbuf_image = view_mode_active(*view) ? ed->doc().pixbuf_alpha : ed->doc().pixbuf_no_alpha;
  invalidate_image_source(view);
  rebuild_view_surface(ed);
  gtk_widget_queue_draw(view->drawing_area);
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

// What an open makes before it changes anything, so that a failure (no memory, a surface
// cairo cannot make) leaves the editor as it was. Each member is owned until it is installed.
struct OpenParts {
  cairo_surface_t* layer = nullptr;  // the new stroke layer
  cairo_surface_t* view = nullptr;   // the new view surface; kept as it is for a layer open
  GdkPixbuf* no_alpha = nullptr;     // the new image without alpha (not for a layer open)
  GdkPixbuf* with_alpha = nullptr;   // ... and with alpha
  GdkPixbuf* base = nullptr;         // the new initialisinglayer, when the mode makes one

  ~OpenParts() {
    if (layer != nullptr) cairo_surface_destroy(layer);
    if (view != nullptr) cairo_surface_destroy(view);
    for (GdkPixbuf* p : {no_alpha, with_alpha, base})
      if (p != nullptr) g_object_unref(p);
  }
};

// Moves the pointer out of *slot (left null), for handing over ownership.
template <typename T>
T* take(T** slot) {
  T* value = *slot;
  *slot = nullptr;
  return value;
}

// Makes the surfaces and pixbufs of an open of loaded in mode (OPEN_ALPHA_AS_INPUT only for a
// file with alpha) into ed, whose image on show and zoom size them. Takes loaded's reference
// in every case. FALSE with *error when something cannot be made.
gboolean make_open_parts(const Editor& ed, GdkPixbuf* loaded, OpenMode mode, OpenParts* parts,
                         GError** error) {
  const int w = gdk_pixbuf_get_width(loaded), h = gdk_pixbuf_get_height(loaded);
  const bool has_alpha = gdk_pixbuf_get_has_alpha(loaded);
  const double scale = ed.view.scale;
  if (mode == OPEN_AS_LAYER) {
    GdkPixbuf* shown = ed.view.pixbuf_image;
    const int W = gdk_pixbuf_get_width(shown), H = gdk_pixbuf_get_height(shown);
    parts->layer = checked_image_surface(CAIRO_FORMAT_ARGB32, W, H, error);
    parts->base = has_alpha ? gdk_pixbuf_copy(loaded) : new_rgb(MIN(W, w), MIN(H, h), true);
    parts->with_alpha = loaded;  // only held here, released with the parts
  } else {
    parts->layer = checked_image_surface(CAIRO_FORMAT_ARGB32, w, h, error);
    parts->view = parts->layer == nullptr
                      ? nullptr
                      : checked_image_surface(CAIRO_FORMAT_ARGB32, static_cast<int>(w * scale),
                                              static_cast<int>(h * scale), error);
    if (mode == OPEN_ALPHA_AS_INPUT) parts->base = new_rgb(w, h, true);
    if (has_alpha) {
      // The file's own alpha stays in with_alpha, shown in view mode until a matte replaces it.
      parts->no_alpha = new_rgb(w, h, false);
      parts->with_alpha = loaded;
      if (parts->no_alpha != nullptr) copy_colours(loaded, parts->no_alpha);
    } else {
      parts->no_alpha = loaded;
      parts->with_alpha = gdk_pixbuf_add_alpha(loaded, FALSE, 0, 0, 0);
    }
  }
  if (parts->layer == nullptr || (mode != OPEN_AS_LAYER && parts->view == nullptr)) return FALSE;
  if (parts->with_alpha == nullptr || (mode != OPEN_AS_LAYER && parts->no_alpha == nullptr) ||
      (mode != OPEN_DEFAULT && parts->base == nullptr)) {
    g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_NOMEM, "not enough memory for a %dx%d image", w,
                h);
    return FALSE;
  }
  return TRUE;
}

// Replaces the stroke layer by the one of parts.
void install_layer(Strokes* strokes, OpenParts* parts) {
  cairo_surface_destroy(strokes->surf_layer);
  strokes->surf_layer = take(&parts->layer);
}

// Installs the new image of parts: both pixbufs, the stroke layer, the view surface.
void install_image(Editor* ed, Document* doc, OpenParts* parts) {
  g_object_unref(doc->pixbuf_no_alpha);
  g_object_unref(doc->pixbuf_alpha);
  doc->pixbuf_no_alpha = take(&parts->no_alpha);
  doc->pixbuf_alpha = take(&parts->with_alpha);
  install_layer(&ed->strokes, parts);
  install_view_surface(&ed->view, take(&parts->view));
}

// Alpha as input: opaque pixels become foreground strokes, transparent ones background
// strokes, everything else stays unknown; the layer's base records the same.
void open_alpha_as_input(Editor* ed, Document* doc, OpenParts* parts) {
  GdkPixbuf* loaded = parts->with_alpha;
  int w = gdk_pixbuf_get_width(loaded), h = gdk_pixbuf_get_height(loaded);
  GdkPixbuf* base_pixbuf = take(&parts->base);
  ed->strokes.initialisinglayer = base_pixbuf;
  install_image(ed, doc, parts);
  reset_selection_to_image(&ed->view, w, h);
  cairo_surface_t* surf_layer = ed->strokes.surf_layer;
  cairo_surface_flush(surf_layer);
  for (int y = 0; y < h; ++y) {
    const guchar* src = pixbuf_row(loaded, y);
    guchar* base = pixbuf_row(base_pixbuf, y);
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
  set_new_image_options(ed->calc.pass_option_args, w, h);
  // Strokes of the history belong to the previous image: never replay them over this one.
  clear_history(ed);
  show_new_image(ed);
}

// The view surface keeps its size (the image stays) and is repainted.
void open_as_layer(Editor* ed, OpenParts* parts) {
  GdkPixbuf* loaded = parts->with_alpha;
  GdkPixbuf* shown = ed->view.pixbuf_image;
  int W = gdk_pixbuf_get_width(shown), H = gdk_pixbuf_get_height(shown);
  int w = gdk_pixbuf_get_width(loaded), h = gdk_pixbuf_get_height(loaded);
  install_layer(&ed->strokes, parts);
  GdkPixbuf* base_pixbuf = take(&parts->base);
  ed->strokes.initialisinglayer = base_pixbuf;
  cairo_surface_t* surf_layer = ed->strokes.surf_layer;

  if (gdk_pixbuf_get_has_alpha(loaded)) {
    cairo_t* cr = cairo_create(surf_layer);
    gdk_cairo_set_source_pixbuf(cr, loaded, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
  } else {
    // An opaque file: what differs from the image is paint, in the file's grey level.
    int cw = MIN(W, w), ch = MIN(H, h);
    cairo_surface_flush(surf_layer);
    const int n1 = gdk_pixbuf_get_n_channels(shown), n2 = gdk_pixbuf_get_n_channels(loaded);
    for (int y = 0; y < ch; ++y) {
      const guchar* p1 = pixbuf_row(shown, y);
      const guchar* p2 = pixbuf_row(loaded, y);
      guchar* base = pixbuf_row(base_pixbuf, y);
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
  rebuild_view_surface(ed);
  gtk_widget_queue_draw(gtk_widget_get_toplevel(ed->view.drawing_area));
}

// Default open: the new image with an empty layer, history and selection of its size.
void open_default(Editor* ed, Document* doc, OpenParts* parts) {
  int w = gdk_pixbuf_get_width(parts->with_alpha), h = gdk_pixbuf_get_height(parts->with_alpha);
  clear_history(ed);
  install_image(ed, doc, parts);
  reset_selection_to_image(&ed->view, w, h);
  show_new_image(ed);
  set_new_image_options(ed->calc.pass_option_args, w, h);
}

}  // namespace

gboolean open_image_file(Editor* ed, const gchar* filename, OpenMode mode, GError** error) {
  Document* doc = document_to_change(ed);
  if (doc == nullptr) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_AGAIN,
                        "a calculation is running; open the file when it has finished");
    return FALSE;
  }
  // Refused before decoding: an image the computer cannot hold would only end the editor.
  if (!open_fits_in_memory(*ed, filename, mode, error)) return FALSE;
  // The tool reads files the same way, so that a layer saved here fits there.
  GdkPixbuf* loaded = load_image_file(filename, image_max_side_for_surfaces, error);
  if (loaded == nullptr) return FALSE;
  // Nothing to take strokes from: an ordinary open.
  if (mode == OPEN_ALPHA_AS_INPUT && !gdk_pixbuf_get_has_alpha(loaded)) mode = OPEN_DEFAULT;
  OpenParts parts;
  if (!make_open_parts(*ed, loaded, mode, &parts, error)) return FALSE;
  if (mode != OPEN_AS_LAYER) {
    gchar* cwd = g_get_current_dir();
    replace_string(&doc->opened_image, g_path_is_absolute(filename)
                                           ? g_strdup(filename)
                                           : g_build_filename(cwd, filename, nullptr));
    g_free(cwd);
  }

  GdkPixbuf*& base = ed->strokes.initialisinglayer;
  if (base != nullptr) g_object_unref(base);
  base = nullptr;
  if (mode == OPEN_ALPHA_AS_INPUT)
    open_alpha_as_input(ed, doc, &parts);
  else if (mode == OPEN_AS_LAYER)
    open_as_layer(ed, &parts);
  else
    open_default(ed, doc, &parts);
  note_layer_saved(&ed->strokes);
  note_strokes_changed(*ed);
  return TRUE;
}

void update_preview_cb(GtkFileChooser* chooser, gpointer preview) {
  gchar* filename = gtk_file_chooser_get_preview_filename(chooser);
  GdkPixbuf* pixbuf = filename != nullptr ? load_preview(filename, 128) : nullptr;
  gtk_image_set_from_pixbuf(GTK_IMAGE(preview), pixbuf);
  if (pixbuf != nullptr) g_object_unref(pixbuf);
  g_free(filename);
  gtk_file_chooser_set_preview_widget_active(chooser, pixbuf != nullptr);
}

void on_open_image(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  if (document_to_change(ed) == nullptr) return;
  Session* session = &ed->session;
  GtkWidget* parent = ed->view.main_window;
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      "Open image", GTK_WINDOW(parent), GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_OPEN,
      GTK_RESPONSE_ACCEPT, GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  set_first_folder(chooser, session->open_folder, ed->doc().opened_image);

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
    if (filename != nullptr && !open_image_file(ed, filename, mode, &error)) {
      gchar* text = g_strdup_printf("File open error: %s", error->message);
      error_message_dialog(parent, text);
      g_free(text);
      g_error_free(error);
    } else if (filename != nullptr && mode != OPEN_AS_LAYER) {
      offer_recovery(ed, ed->doc().opened_image);
    }
    g_free(filename);
  }
  replace_string(&session->open_folder, gtk_file_chooser_get_current_folder(chooser));
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

// "Could not save NAME: reason" in the status bar.
void report_save_failure(View* view, const gchar* name, const gchar* reason) {
  gchar* text = g_strdup_printf("Could not save %s: %s", name, reason);
  update_statusbar(text, STATUS_MESSAGE, view->status_bar);
  g_free(text);
}

// Where the encoders' bytes go: an open descriptor, and the error of a failed write.
struct Sink {
  int fd;
  int error;
};

// Writes all size bytes to the sink's descriptor; false with sink->error set on failure.
bool sink_write(Sink* sink, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(sink->fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      sink->error = n < 0 ? errno : EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// GdkPixbuf's save callback: the bytes go to the sink (a Sink*).
gboolean pixbuf_bytes(const gchar* data, gsize size, GError** error, gpointer sink) {
  if (sink_write(static_cast<Sink*>(sink), data, size)) return TRUE;
  g_set_error_literal(error, G_FILE_ERROR, g_file_error_from_errno(static_cast<Sink*>(sink)->error),
                      g_strerror(static_cast<Sink*>(sink)->error));
  return FALSE;
}

// cairo's PNG stream callback: the bytes go to the sink (a Sink*).
cairo_status_t surface_bytes(void* sink, const unsigned char* data, unsigned int size) {
  return sink_write(static_cast<Sink*>(sink), reinterpret_cast<const char*>(data), size)
             ? CAIRO_STATUS_SUCCESS
             : CAIRO_STATUS_WRITE_ERROR;
}

// Writes NAME.png (NAME: file_name with its extension cut off, in place) through a temporary
// file beside it that replaces the old file only when complete (output_file.h), so that a
// failed save never costs the file it was replacing. encode(fd, &reason) writes the PNG.
template <typename Encode>
gboolean save_png(View* view, gchar* file_name, Encode encode) {
  strip_file_extension(file_name);
  gchar* name = g_strdup_printf("%s.png", file_name);
  OutputFile out;
  std::string reason;
  bool ok = output_plan(name, &out, &reason) && output_open(&out, &reason);
  if (ok && !encode(out.fd, &reason)) {
    output_abandon(&out);
    ok = false;
  }
  ok = ok && output_commit(&out, &reason);
  if (!ok) report_save_failure(view, name, reason.c_str());
  g_free(name);
  return ok;
}

}  // namespace

gboolean save_pixbuf_to_file(View* view, gchar* file_name, GdkPixbuf* pixbuf) {
  return save_png(view, file_name, [pixbuf](int fd, std::string* reason) {
    Sink sink = {fd, 0};
    GError* error = nullptr;
    if (gdk_pixbuf_save_to_callback(pixbuf, pixbuf_bytes, &sink, "png", &error, nullptr))
      return true;
    *reason = error != nullptr ? error->message : "unknown error";
    if (error != nullptr) g_error_free(error);
    return false;
  });
}

gboolean save_matte_to_file(View* view, gchar* file_name, GdkPixbuf* pixbuf) {
  return save_png(view, file_name, [pixbuf](int fd, std::string* reason) {
    std::vector<uint8_t> png;
    const CalcRegion whole = {0, 0, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)};
    return encode_matte_png(pixbuf, whole, &png, reason) &&
           write_all(fd, png.data(), png.size(), reason);
  });
}

gboolean save_surface_to_file(View* view, gchar* file_name, cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  return save_png(view, file_name, [surface](int fd, std::string* reason) {
    Sink sink = {fd, 0};
    cairo_status_t status = cairo_surface_write_to_png_stream(surface, surface_bytes, &sink);
    if (status == CAIRO_STATUS_SUCCESS) return true;
    *reason = sink.error != 0 ? g_strerror(sink.error) : cairo_status_to_string(status);
    return false;
  });
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
void preset_name(GtkFileChooser* chooser, const gchar* path, const gchar* opened,
                 const gchar* suffix) {
  if (path == nullptr) {
    if (opened == nullptr) return;
    gchar* base = g_path_get_basename(opened);
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

void on_save_as(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  Session* session = &ed->session;
  const gchar* opened = ed->doc().opened_image;
  GtkWidget* parent = ed->view.main_window;
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      "Save File", GTK_WINDOW(parent), GTK_FILE_CHOOSER_ACTION_SAVE, GTK_STOCK_CANCEL,
      GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  set_first_folder(chooser, session->save_folder, opened);

  add_preview(chooser);

  bool edit = ed->view.in_edit_mode != 0;
  if (edit) {
    gtk_dialog_add_button(GTK_DIALOG(dialog), "Save image", RESPONSE_SAVE_IMAGE);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), RESPONSE_SAVE_IMAGE,
                                            GTK_RESPONSE_ACCEPT, GTK_RESPONSE_CANCEL, -1);
    preset_name(chooser, session->layer_name, opened, "_strokes");
  } else {
    preset_name(chooser, session->image_name, opened, "_matte");
  }
  // Only a view-mode save writes the matte: only there can it be written alone, or edge
  // colours be cleaned.
  SaveChoice choice;
  if (!edit) {
    choice = make_save_choice(session->matte_only_wanted, session->clean_edges_wanted);
    gtk_file_chooser_set_extra_widget(chooser, choice.box);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  // The file written is NAME.png, which need not be the name chosen: the overwrite question is
  // asked below about the file actually written.
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);

  add_filter(chooser, "PNG Files", "*.png");
  add_filter(chooser, "All Files", "*.*");

  for (;;) {
    gint response = run_dialog(GTK_DIALOG(dialog));
    if (!edit) read_save_choice(choice, &session->matte_only_wanted, &session->clean_edges_wanted);
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
      replace_string(&session->layer_name, chosen);
      if (save_surface_to_file(&ed->view, session->layer_name, ed->strokes.surf_layer))
        note_layer_saved(&ed->strokes);
    } else {
      replace_string(&session->image_name, chosen);
      // The image of the mode the dialog was opened in, even if a calculation's result switched
      // the mode while the dialog was open.
      const Document& doc = ed->doc();
      if (!edit && session->matte_only_wanted) {
        save_matte_to_file(&ed->view, session->image_name, doc.pixbuf_alpha);
        break;
      }
      GdkPixbuf* image = pixbuf_to_write(edit ? doc.pixbuf_no_alpha : doc.pixbuf_alpha,
                                         !edit && session->clean_edges_wanted);
      if (image == nullptr) {
        gchar* name = png_file_name(session->image_name);
        report_save_failure(&ed->view, name, kCleanEdgesNoMemory);
        g_free(name);
        break;
      }
      save_pixbuf_to_file(&ed->view, session->image_name, image);
      g_object_unref(image);
    }
    break;
  }
  replace_string(&session->save_folder, gtk_file_chooser_get_current_folder(chooser));
  gtk_widget_destroy(dialog);
}
