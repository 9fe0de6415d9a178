#include "gui/live_worker.h"

#include <new>

#include "gui/platform.h"
#include "matting/matte_session.h"
#include "numeric/allocate.h"

namespace {

// Hands a delivered matte, composed for the canvas, to the main loop. Runs inside update().
void post_frame(LiveJob* job, const SessionMatte& m) {
  GdkPixbuf* image = job->key.image;
  LiveFrame* frame =
      new LiveFrame{job,
                    m.width,
                    m.height,
                    m.level,
                    m.levels,
                    m.final,
                    std::vector<uint8_t>(m.alpha, m.alpha + size_t(m.width) * m.height),
                    nullptr};
  const MatteSource source = {frame->alpha.data(), m.width, m.height, m.width, 1, job->key.region};
  frame->picture = compose_matte(gdk_pixbuf_get_pixels(image), gdk_pixbuf_get_rowstride(image),
                                 gdk_pixbuf_get_n_channels(image), gdk_pixbuf_get_width(image),
                                 gdk_pixbuf_get_height(image), source, job->display);
  job->handoffs.fetch_add(1);
  g_idle_add(live_frame_arrived, frame);
}

// Reads the job's strokes and calculates; sets job->input and job->status.
void calculate(LiveJob* job) {
  GdkPixbuf* image = job->key.image;
  const CalcRegion& r = job->key.region;
  const int stride = gdk_pixbuf_get_rowstride(image), channels = gdk_pixbuf_get_n_channels(image);
  const uint8_t* rgb = gdk_pixbuf_get_pixels(image) + static_cast<size_t>(r.y) * stride +
                       static_cast<size_t>(r.x) * channels;
  TIFF_img region_image = TIFF_img();
  double** mask = nullptr;
  double** value = nullptr;
  try {
    AllocationScope scope;  // no memory for the copies ends this update, not the editor
    job->input =
        read_calc_input(rgb, stride, channels, reinterpret_cast<const uint8_t*>(job->layer.data()),
                        r.w * 4, {0, 0, r.w, r.h}, &region_image, &mask, &value);
    if (job->input != CALC_INPUT_OK) return;
    if (!job->session) job->session = std::make_shared<MatteSession>(region_image, job->options);
  } catch (const std::bad_alloc&) {
    // The scope has released the copies made so far.
    job->status = -1;  // UMFPACK_ERROR_out_of_memory
    return;
  }
  free_TIFF(&region_image);
  MatteRequest request;
  request.display_width = job->display_width;
  request.display_height = job->display_height;
  request.deliver = [job](const SessionMatte& m) { post_frame(job, m); };
  job->status = job->session->update(mask, value, request, &job->control);
  free_img_t(mask);
  free_img_t(value);
}

}  // namespace

gpointer live_worker(gpointer data) {
  LiveJob* job = static_cast<LiveJob*>(data);
  // Painting goes first: the update, and the threads it starts, yield the processor to it.
  lower_thread_priority();
  MatteStageObserver* previous = set_matte_stage_observer(job->observer);
  calculate(job);
  set_matte_stage_observer(previous);
  job->thread = g_thread_self();
  g_idle_add(live_job_done, job);
  return nullptr;
}

void release_live_job(LiveJob* job) {
  if (job->handoffs.fetch_sub(1) != 1) return;
  g_object_unref(job->key.image);
  delete job;
}
