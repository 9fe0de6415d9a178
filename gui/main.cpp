// quillane: the alpha-matting editor.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "gui/calc_slot.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/layout_report.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "matting/heap_tuning.h"

namespace {

// The editor and the files named on the command line: an image, and optionally a stroke
// layer for it.
struct Start {
  Editor* ed;
  const char* image;
  const char* layer;
};

gboolean print_layout(gpointer editor) {
  report_main_layout(static_cast<Editor*>(editor)->view);
  return FALSE;
}

bool open_or_report(Editor* ed, const char* path, OpenMode mode) {
  GError* error = nullptr;
  if (open_image_file(ed, path, mode, &error)) return true;
  gchar* text = g_strdup_printf("File open error: %s", error->message);
  g_printerr("quillane: %s\n", text);
  error_message_dialog(ed->view.main_window, text);
  g_free(text);
  g_error_free(error);
  return false;
}

gboolean open_from_command_line(gpointer data) {
  const Start* start = static_cast<const Start*>(data);
  Editor* ed = start->ed;
  if (open_or_report(ed, start->image, OPEN_DEFAULT)) {
    if (start->layer != nullptr) open_or_report(ed, start->layer, OPEN_AS_LAYER);
    offer_recovery(ed, ed->doc().opened_image);
  }
  if (layout_report_wanted()) g_timeout_add(300, print_layout, ed);
  return FALSE;
}

}  // namespace

int main(int argc, char* argv[]) {
  restart_with_tuned_heap(argv, kHeapTunablesEditor);
  gdk_threads_enter();
  gtk_init(&argc, &argv);
  if (argc > 3 ||
      (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
    std::printf(
        "Usage: %s [GTK options] [IMAGE [LAYER]]\n"
        "Opens IMAGE as a new image and LAYER (a stroke layer saved by the editor) over it.\n",
        argv[0]);
    return argc > 3 ? 2 : 0;
  }

  Editor* ed = quillane_shared_objects_init();
  gchar* icon_dir = quillane_icon_dir();
  quillane_create_main_window(ed, icon_dir);
  g_free(icon_dir);

  Start start = {ed, argc >= 2 ? argv[1] : nullptr, argc == 3 ? argv[2] : nullptr};
  if (start.image != nullptr)
    g_idle_add(open_from_command_line, &start);
  else if (layout_report_wanted())
    g_timeout_add(300, print_layout, ed);

  gtk_main();
  gdk_threads_leave();

  bool worker_running = calculation_thread_alive(*ed);
  quillane_shared_objects_release(ed);
  if (worker_running) {
    // The window was closed during a calculation, which was cancelled: nothing waits for its
    // result, so end the process now instead of joining a worker that may still be inside a
    // factorisation that cannot be interrupted.
    std::fflush(stdout);
    _exit(0);
  }
  return 0;
}
