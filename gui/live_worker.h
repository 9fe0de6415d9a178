// One update of the live matte on its worker thread (live_matte.h): the job the main thread
// hands over, and the frames the worker hands back. The worker reads the job's inputs, calls the
// session's update() and passes every matte it delivers, with its picture already composed, to
// the main loop (g_idle_add); when update() has returned it queues the job's end.
#ifndef QUILLANE_GUI_LIVE_WORKER_H
#define QUILLANE_GUI_LIVE_WORKER_H

#include <cairo.h>
#include <gtk/gtk.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "gui/live_matte.h"
#include "gui/matte_display.h"
#include "matting/calc_control.h"
#include "matting/calc_options.h"

class Editor;
class MatteSession;

struct LiveJob {
  // Made by the main thread before the worker starts; the worker only reads them.
  LiveKey key;                  // key.image: a reference of the job's own
  CalcOptions options;          // softness, threshold, window radius (automatic levels)
  std::vector<uint32_t> layer;  // the stroke layer inside key.region, rows of region.w words
  int display_width = 0;        // the zoomed region's size, for the early matte
  int display_height = 0;
  MatteDisplay display;          // how the frames are composed
  MatteStageObserver* observer;  // installed on the worker's thread (null: none); borrowed
  unsigned serial = 0;
  gint64 changed_at = 0;  // the change this update answers (monotonic microseconds)
  uint64_t strokes = 0;   // fingerprint of layer
  // The worker's until the main thread has joined it.
  std::shared_ptr<MatteSession> session;  // null at the start: the worker makes one for key
  int input = 0;                          // read_calc_input()'s result
  int status = 0;  // update()'s, or UMFPACK's -1 when the session could not be made
  GThread* thread = nullptr;
  // Any thread.
  CalcControl control;
  std::atomic<int> handoffs{1};  // frames queued and not yet taken, plus one for the end
  // Main thread: the editor that asked, null once it is gone.
  Editor* editor = nullptr;
};

// A matte the update delivered, on its way to the main loop.
struct LiveFrame {
  LiveJob* job;
  int width, height;  // of the matte: a level's size, the region's when final
  int level, levels;
  bool final;
  std::vector<uint8_t> alpha;  // width x height bytes
  cairo_surface_t* picture;    // the image composed with it by job->display; null: no memory
};

// Worker thread entry; data is the LiveJob. Returns null.
gpointer live_worker(gpointer job);

// Main-loop callbacks the worker queues, defined with the live matte (live_matte.cpp): a frame
// (data: the LiveFrame, freed there) and the job's end (data: the LiveJob). Return FALSE.
gboolean live_frame_arrived(gpointer frame);
gboolean live_job_done(gpointer job);

// Main thread: the main loop has taken one of job's handoffs; the last frees the job, its
// inputs and its reference to the image and the session.
void release_live_job(LiveJob* job);

#endif
