// Helpers for the file, clipboard, history and calculation tests: answering a sequence of
// modal dialogs by title, driving the Open and Save dialogs, reading the status bar and
// waiting for a calculation.
#ifndef QUILLANE_TESTS_GUI_DIALOG_SCRIPT_H
#define QUILLANE_TESTS_GUI_DIALOG_SCRIPT_H

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "gui/dialog_run.h"
#include "gui/gtk_calc.h"
#include "gui/gtkquillane.h"
#include "tests/gui/gui_harness.h"

// Answers modal dialogs in the given order, each step only a visible modal dialog with its
// title. Once the deadline has passed every modal dialog still shown is cancelled and its
// title recorded in stray(), so that a test never hangs in gtk_dialog_run().
class DialogScript {
 public:
  struct Step {
    std::string title;
    std::function<void(GtkDialog*)> answer;
  };

  explicit DialogScript(std::vector<Step> steps, int timeout_ms = 15000)
      : steps_(std::move(steps)) {
    deadline_ = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    source_ = g_timeout_add(20, poll, this);
  }
  ~DialogScript() {
    if (source_ != 0) g_source_remove(source_);
  }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  size_t done() const { return done_; }
  bool finished() const { return done_ == steps_.size(); }
  const std::vector<std::string>& stray() const { return stray_; }

 private:
  static std::vector<GtkDialog*> shown_dialogs() {
    std::vector<GtkDialog*> found;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l != nullptr; l = l->next) {
      GtkWidget* w = GTK_WIDGET(l->data);
      if (GTK_IS_DIALOG(w) && GTK_WIDGET_VISIBLE(w) && gtk_window_get_modal(GTK_WINDOW(w)))
        found.push_back(GTK_DIALOG(w));
    }
    g_list_free(tops);
    return found;
  }

  static gboolean poll(gpointer data) {
    DialogScript* self = static_cast<DialogScript*>(data);
    std::vector<GtkDialog*> shown = shown_dialogs();
    if (self->done_ < self->steps_.size()) {
      Step& step = self->steps_[self->done_];
      for (GtkDialog* d : shown) {
        const gchar* title = gtk_window_get_title(GTK_WINDOW(d));
        if (title != nullptr && step.title == title) {
          ++self->done_;
          step.answer(d);
          return TRUE;
        }
      }
    }
    if (g_get_monotonic_time() > self->deadline_ && !shown.empty()) {
      GtkDialog* d = shown.back();
      const gchar* title = gtk_window_get_title(GTK_WINDOW(d));
      self->stray_.push_back(title != nullptr ? title : "");
      gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
    }
    return TRUE;
  }

  std::vector<Step> steps_;
  size_t done_ = 0;
  guint source_ = 0;
  gint64 deadline_ = 0;
  std::vector<std::string> stray_;
};

// The radio button of the Open dialog with this label.
inline GtkWidget* find_radio(GtkDialog* dialog, const char* label) {
  return find_widget(GTK_WIDGET(dialog), [label](GtkWidget* w) {
    if (!GTK_IS_RADIO_BUTTON(w)) return false;
    const gchar* l = gtk_button_get_label(GTK_BUTTON(w));
    return l != nullptr && std::strcmp(l, label) == 0;
  });
}

// Answers a file dialog with GTK_RESPONSE_ACCEPT the way a double click or Enter does. A plain
// gtk_dialog_response(ACCEPT) is swallowed by GtkFileChooserDialog while its own file list
// has nothing selected (it has not finished loading the folder yet, or the file was picked
// with set_chooser_test_filename()); a response requested by the chooser widget is not.
inline void accept_file_dialog(GtkDialog* d) {
  gtk_dialog_set_default_response(d, GTK_RESPONSE_ACCEPT);
  GtkWidget* chooser = find_widget(
      GTK_WIDGET(d), [](GtkWidget* w) { return GTK_IS_FILE_CHOOSER_WIDGET(w) != FALSE; });
  ASSERT_NE(chooser, nullptr);
  g_signal_emit_by_name(chooser, "response-requested");
}

// Answers a file dialog with response (accepting through accept_file_dialog()).
inline void respond_file_dialog(GtkDialog* d, gint response) {
  if (response == GTK_RESPONSE_ACCEPT)
    accept_file_dialog(d);
  else
    gtk_dialog_response(d, response);
}

// A step that picks `path` in a file dialog, selects the radio button `radio` (when given)
// and answers with `response`.
inline DialogScript::Step choose_file(const char* title, const std::string& path,
                                      gint response = GTK_RESPONSE_ACCEPT,
                                      const char* radio = nullptr) {
  return {title, [path, response, radio](GtkDialog* d) {
            if (radio != nullptr) {
              GtkWidget* button = find_radio(d, radio);
              EXPECT_NE(button, nullptr) << "no radio button " << radio;
              if (button != nullptr) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), TRUE);
            }
            if (!path.empty()) set_chooser_test_filename(GTK_FILE_CHOOSER(d), path.c_str());
            respond_file_dialog(d, response);
          }};
}

// A step that answers a dialog with `response`, after reading the text of its labels.
inline DialogScript::Step answer_reading(const char* title, std::string* text,
                                         gint response = GTK_RESPONSE_OK) {
  return {title, [text, response](GtkDialog* d) {
            if (text != nullptr) {
              text->clear();
              find_widget(GTK_WIDGET(d), [text](GtkWidget* w) {
                if (GTK_IS_LABEL(w) && gtk_widget_get_ancestor(w, GTK_TYPE_BUTTON) == nullptr)
                  *text += gtk_label_get_text(GTK_LABEL(w));
                return false;
              });
            }
            gtk_dialog_response(d, response);
          }};
}

// Waits (iterating the main loop) until the chooser reports `folder` as its current folder;
// returns what it reports in the end.
inline std::string chooser_folder_when(GtkFileChooser* chooser, const std::string& folder) {
  std::string now;
  gint64 deadline = g_get_monotonic_time() + 3 * G_USEC_PER_SEC;
  for (;;) {
    gchar* f = gtk_file_chooser_get_current_folder(chooser);
    now = f != nullptr ? f : "";
    g_free(f);
    if (now == folder || g_get_monotonic_time() > deadline) return now;
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    g_usleep(10000);
  }
}

// The newest status-bar message of a context, or "" when there is none. GTK 2 keeps the
// message stack in the public field `messages`, its elements in this (frozen) layout.
struct StatusbarMessage {
  gchar* text;
  guint context_id;
  guint message_id;
};
inline std::string status_message(guint context) {
  for (GSList* l = GTK_STATUSBAR(status_bar)->messages; l != nullptr; l = l->next) {
    const StatusbarMessage* msg = static_cast<const StatusbarMessage*>(l->data);
    if (msg->context_id == context) return msg->text;
  }
  return "";
}

// Number of progress bars in the status bar.
inline int progress_bars() {
  int n = 0;
  find_widget(status_bar, [&n](GtkWidget* w) {
    if (GTK_IS_PROGRESS_BAR(w)) ++n;
    return false;
  });
  return n;
}

// Iterates the main loop until the running calculation has been delivered; false when the
// generous deadline passed first.
inline bool wait_for_calculation(int seconds = 120) {
  gint64 deadline = g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC;
  while (calculation_running()) {
    if (g_get_monotonic_time() > deadline) return false;
    gtk_main_iteration_do(FALSE);
    g_usleep(2000);
  }
  settle();
  return true;
}

// Presses Calculate, accepts the options dialog and waits for the result; false when the
// dialog did not come or the result did not arrive in time. Other dialogs fail the test.
inline bool calculate_and_wait() {
  DialogScript script({answer_reading("options for calculation", nullptr, GTK_RESPONSE_OK)});
  g_signal_emit_by_name(toolbar_item(toolbar, 4), "clicked");
  bool delivered = wait_for_calculation();
  EXPECT_TRUE(script.stray().empty()) << "unexpected dialog " << script.stray().front();
  return script.finished() && delivered;
}

// The whole stroke layer as words, for exact comparisons.
inline std::vector<guint32> layer_snapshot() {
  cairo_surface_flush(surf_layer);
  int w = cairo_image_surface_get_width(surf_layer), h = cairo_image_surface_get_height(surf_layer);
  std::vector<guint32> words;
  words.reserve(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) words.push_back(layer_pixel(x, y));
  return words;
}

inline int count_pixels(const std::vector<guint32>& words, guint32 value) {
  int n = 0;
  for (guint32 v : words) n += v == value;
  return n;
}

#endif
