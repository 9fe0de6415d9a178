#include "gui/recovery.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <glib/gstdio.h>
#include <unistd.h>

#include "fileio/image_load.h"
#include "gui/dialog_run.h"
#include "gui/gtk_file_IO.h"
#include "gui/layer_state.h"
#include "gui/quillane_opts.h"

namespace {

// Files written or restored by this run are removed by a normal close.
void remember(Session* session, const gchar* path) {
  GSList*& files = session->recovery_files;
  if (g_slist_find_custom(files, path, reinterpret_cast<GCompareFunc>(std::strcmp)) == nullptr)
    files = g_slist_prepend(files, g_strdup(path));
}

gchar* recovery_folder() {
  const gchar* state = g_getenv("XDG_STATE_HOME");
  if (state != nullptr && g_path_is_absolute(state))
    return g_build_filename(state, "quillane", "recovery", nullptr);
  return g_build_filename(g_get_home_dir(), ".local", "state", "quillane", "recovery", nullptr);
}

cairo_status_t write_to_fd(void* closure, const unsigned char* data, unsigned int length) {
  int fd = *static_cast<int*>(closure);
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return CAIRO_STATUS_WRITE_ERROR;
    data += n;
    length -= static_cast<unsigned int>(n);
  }
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

gchar* recovery_file_for(const gchar* image_path) {
  // One file per image, whatever path named it: ./a, a//b, a/../a/b and links give the same.
  char* real = realpath(image_path, nullptr);
  gchar* canonical =
      real != nullptr ? g_strdup(real) : g_canonicalize_filename(image_path, nullptr);
  std::free(real);
  gchar* hash = g_compute_checksum_for_string(G_CHECKSUM_SHA256, canonical, -1);
  g_free(canonical);
  hash[32] = '\0';  // 128 bits name a file well enough
  gchar* folder = recovery_folder();
  gchar* name = g_strconcat(hash, ".png", nullptr);
  gchar* path = g_build_filename(folder, name, nullptr);
  g_free(name);
  g_free(folder);
  g_free(hash);
  return path;
}

bool write_recovery_file(Session* session, const gchar* image_path, cairo_surface_t* layer,
                         std::string* problem) {
  if (image_path == nullptr) return false;
  gchar* path = recovery_file_for(image_path);
  const uint64_t fingerprint = surface_fingerprint(
      layer, {0, 0, cairo_image_surface_get_width(layer), cairo_image_surface_get_height(layer)});
  // A large layer takes about a second to write: an unchanged one is not written again.
  if (fingerprint == session->recovery_fingerprint &&
      g_strcmp0(path, session->recovery_written) == 0 &&
      g_file_test(path, G_FILE_TEST_IS_REGULAR)) {
    g_free(path);
    return true;
  }
  gchar* folder = g_path_get_dirname(path);
  gchar* temp = g_strconcat(path, ".XXXXXX", nullptr);
  const char* failed = nullptr;
  int error = 0;
  int fd = -1;
  if (g_mkdir_with_parents(folder, 0700) != 0) {
    failed = "cannot make its folder";
    error = errno;
  } else if ((fd = g_mkstemp(temp)) < 0) {
    failed = "cannot create it";
    error = errno;
  } else {
    cairo_surface_flush(layer);
    bool written =
        cairo_surface_write_to_png_stream(layer, write_to_fd, &fd) == CAIRO_STATUS_SUCCESS;
    if (!written) error = errno;
    if (written && fsync(fd) != 0) {
      written = false;
      error = errno;
    }
    if (close(fd) != 0 && written) {
      written = false;
      error = errno;
    }
    if (!written) {
      failed = "cannot write it";
    } else if (g_rename(temp, path) != 0) {
      failed = "cannot rename it into place";
      error = errno;
    }
    if (failed != nullptr) g_unlink(temp);
  }
  if (failed != nullptr) {
    gchar* text = g_strdup_printf("recovery file %s: %s (%s)", path, failed,
                                  error != 0 ? g_strerror(error) : "write error");
    g_printerr("quillane: %s\n", text);
    if (problem != nullptr) *problem = text;
    g_free(text);
  } else {
    remember(session, path);
  }
  g_free(session->recovery_written);
  session->recovery_written = failed == nullptr ? g_strdup(path) : nullptr;
  session->recovery_fingerprint = fingerprint;
  g_free(temp);
  g_free(folder);
  g_free(path);
  return failed == nullptr;
}

void keep_strokes_for_recovery(Editor* ed) {
  std::string problem;
  if (!write_recovery_file(&ed->session, ed->doc().opened_image, ed->strokes.surf_layer,
                           &problem) &&
      !problem.empty()) {
    problem = "Strokes not kept for recovery: " + problem;
    show_status_message(ed->view.status_bar, &ed->view.said, problem.c_str());
  }
}

namespace {

// Whether the file at path is a stroke layer for an image of width x height, as the editor
// writes them: a PNG with an alpha channel of that size that decodes to its end. False with
// the reason in *why.
bool usable_layer(const gchar* path, int width, int height, std::string* why) {
  GError* error = nullptr;
  GdkPixbuf* layer = load_image_file(path, 0, &error);
  if (layer == nullptr) {
    *why = error != nullptr ? error->message : "it cannot be read";
    g_clear_error(&error);
    return false;
  }
  const int w = gdk_pixbuf_get_width(layer), h = gdk_pixbuf_get_height(layer);
  const bool alpha = gdk_pixbuf_get_has_alpha(layer);
  g_object_unref(layer);
  gchar* text = nullptr;
  if (!alpha)
    text = g_strdup("it is not a stroke layer (no alpha channel)");
  else if (w != width || h != height)
    text = g_strdup_printf("it is %dx%d pixels, the image %dx%d", w, h, width, height);
  if (text != nullptr) *why = text;
  g_free(text);
  return text == nullptr;
}

// Says in the status bar that the strokes kept for image_path cannot be used, and why.
void say_dropped(Editor* ed, const gchar* image_path, const std::string& why, bool removed) {
  gchar* base = g_path_get_basename(image_path);
  gchar* text = g_strdup_printf(
      "Strokes kept for \xe2\x80\x9c%s\xe2\x80\x9d could not be restored: %s; %s", base,
      why.c_str(), removed ? "their recovery file was removed" : "their recovery file is kept");
  g_printerr("quillane: %s\n", text);
  show_status_message(ed->view.status_bar, &ed->view.said, text);
  g_free(text);
  g_free(base);
}

}  // namespace

void offer_recovery(Editor* ed, const gchar* image_path) {
  if (image_path == nullptr) return;
  gchar* path = recovery_file_for(image_path);
  GdkPixbuf* image = ed->doc().pixbuf_no_alpha;
  GtkWidget* window = ed->view.main_window;
  if (!g_file_test(path, G_FILE_TEST_EXISTS)) {
    g_free(path);
    return;
  }
  // Checked whole before it is offered: a file that fails would fail at every start.
  std::string why;
  if (!usable_layer(path, gdk_pixbuf_get_width(image), gdk_pixbuf_get_height(image), &why)) {
    const bool removed = g_unlink(path) == 0;
    if (!removed) why += std::string(" (removing it: ") + g_strerror(errno) + ")";
    say_dropped(ed, image_path, why, removed);
    g_free(path);
    return;
  }
  GStatBuf st;
  gchar when[64] = "";
  if (g_stat(path, &st) == 0) {
    GDateTime* t = g_date_time_new_from_unix_local(st.st_mtime);
    gchar* text = g_date_time_format(t, "%Y-%m-%d %H:%M");
    g_strlcpy(when, text, sizeof when);
    g_free(text);
    g_date_time_unref(t);
  }
  gchar* base = g_path_get_basename(image_path);
  GtkWidget* ask = gtk_message_dialog_new(
      GTK_WINDOW(window),
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
      "Strokes painted on \"%s\" were kept before a calculation (%s), and the editor was not "
      "closed normally afterwards.\n\nRestore these strokes?",
      base, when);
  g_free(base);
  gtk_window_set_title(GTK_WINDOW(ask), "Restore strokes");
  gtk_dialog_add_buttons(GTK_DIALOG(ask), "_Discard", GTK_RESPONSE_REJECT, "_Restore",
                         GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(ask), GTK_RESPONSE_ACCEPT);
  gint answer = run_dialog(GTK_DIALOG(ask));
  gtk_widget_destroy(ask);
  if (answer == GTK_RESPONSE_ACCEPT) {
    GError* error = nullptr;
    if (open_image_file(ed, path, OPEN_AS_LAYER, &error)) {
      note_layer_unsaved(&ed->strokes);
      remember(&ed->session, path);  // kept until the restored strokes are closed normally
    } else {
      gchar* text = g_strdup_printf("File open error: %s", error->message);
      error_message_dialog(window, text);
      g_free(text);
      g_error_free(error);
    }
  } else if (answer == GTK_RESPONSE_REJECT && g_unlink(path) != 0) {
    gchar* text =
        g_strdup_printf("Recovery file %s could not be removed: %s", path, g_strerror(errno));
    g_printerr("quillane: %s\n", text);
    show_status_message(ed->view.status_bar, &ed->view.said, text);
    g_free(text);
  }
  g_free(path);
}

void remove_recovery_files(Session* session) {
  for (GSList* l = session->recovery_files; l != nullptr; l = l->next)
    g_unlink(static_cast<const gchar*>(l->data));
  g_slist_free_full(session->recovery_files, g_free);
  session->recovery_files = nullptr;
}
