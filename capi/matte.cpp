// quillane_matte(): one calculation, on a thread of its own while the calling thread passes
// its progress to the caller's callback and its cancel request to the engine.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "capi/context.h"
#include "capi/engine_detail.h"
#include "capi/input.h"
#include "capi/options.h"
#include "matting/calc_control.h"
#include "matting/foreground.h"
#include "matting/quillane.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"

static_assert(int(QUILLANE_SOLVER_DIRECT) == int(CALC_SOLVER_DIRECT) &&
                  int(QUILLANE_SOLVER_AUTO) == int(CALC_SOLVER_AUTO) &&
                  int(QUILLANE_SOLVER_ITERATIVE) == int(CALC_SOLVER_ITERATIVE),
              "solver numbers of the C API are the engine's");

namespace {

// What one calculation needs and makes. The worker writes only status, message, alpha and
// foreground; the calling thread reads them after the join.
struct Job {
  const quillane_pixels* image;
  const quillane_pixels* strokes;
  CalcOptions opts;
  CalcRegion region;
  bool trimap;
  bool want_foreground;
  CalcControl control;
  int status = QUILLANE_OK;
  int engine_status = 0;  // calculate_matte()'s, or the failure that stopped the job
  bool reading = false;   // the inputs are being read
  std::string message;
  std::vector<uint8_t> alpha;       // width x height, rows without padding
  std::vector<uint8_t> foreground;  // width x height x 4 when wanted
};

// The engine's status as the C API's, with its message.
int engine_status(int status, std::string* message) {
  if (status == 0) return QUILLANE_OK;
  if (status > 0) {
    *message = solver_warning_message(status);
    return QUILLANE_WARNING;
  }
  const SolverStatusInfo* info = solver_status_info(status);
  *message = info != nullptr ? info->message : "failure: solver status " + std::to_string(status);
  if (status == CALC_STATUS_CANCELLED) return QUILLANE_ERROR_CANCELLED;
  return status == -1 ? QUILLANE_ERROR_OUT_OF_MEMORY : QUILLANE_ERROR_SOLVER;
}

// The calculation itself, on any thread: inputs, engine, matte at its place in the image,
// clean edge colours. Catches everything.
void run(Job* job) {
  const quillane_pixels& image = *job->image;
  const int w = image.width, h = image.height;
  try {
    if (job->control.cancel_requested()) {
      job->status = engine_status(CALC_STATUS_CANCELLED, &job->message);
      return;
    }
    TIFF_img calc_image;
    double** mask = nullptr;
    double** value = nullptr;
    {
      AllocationScope scope;  // no memory for the inputs: a status, not an exit
      job->reading = true;
      job->status = read_pixels_input(image, *job->strokes, job->trimap, job->region, &calc_image,
                                      &mask, &value, &job->message);
      job->reading = false;
    }
    if (job->status != QUILLANE_OK) return;
    TIFF_img alpha;
    const int status = calculate_matte(&calc_image, mask, value, job->opts, &alpha, &job->control);
    job->engine_status = status;
    job->status = engine_status(status, &job->message);
    if (job->status >= 0) {
      const CalcRegion& r = job->region;
      job->alpha.assign(static_cast<size_t>(w) * h, 0);
      for (int y = 0; y < r.h; ++y)
        std::memcpy(&job->alpha[static_cast<size_t>(y + r.y) * w + r.x], alpha.plane[y], r.w);
    }
    free_TIFF(&alpha);
    if (job->status < 0 || !job->want_foreground) return;
    job->foreground.resize(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* s = image.data + static_cast<size_t>(y) * image.stride +
                           static_cast<size_t>(x) * image.channels;
        uint8_t* d = &job->foreground[(static_cast<size_t>(y) * w + x) * 4];
        const bool grey = image.channels <= 2;
        d[0] = s[0];
        d[1] = grey ? s[0] : s[1];
        d[2] = grey ? s[0] : s[2];
        d[3] = job->alpha[static_cast<size_t>(y) * w + x];
      }
    if (clean_edge_colours(job->foreground.data(), w, h, w * 4) == FOREGROUND_OUT_OF_MEMORY)
      throw std::bad_alloc();  // reported as the calculation's own lack of memory
  } catch (const std::bad_alloc&) {
    job->engine_status = CALC_STATUS_OUT_OF_MEMORY;
    job->status = engine_status(CALC_STATUS_OUT_OF_MEMORY, &job->message);
  } catch (const std::exception& e) {
    job->status = QUILLANE_ERROR_SOLVER;
    job->message = std::string("failure: ") + e.what();
  }
}

bool same(const CalcProgress& a, const CalcProgress& b) {
  return a.level == b.level && a.levels == b.levels && a.stage == b.stage &&
         a.fraction == b.fraction;
}

// Runs job on a worker while this thread forwards context's cancel request and calls its
// progress callback every 100 ms when the report changed; without a thread, runs it here.
void run_watched(quillane_context* context, Job* job) {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::thread worker;
  try {
    worker = std::thread([&] {
      run(job);
      std::lock_guard<std::mutex> hold(lock);
      done = true;
      finished.notify_one();
    });
  } catch (const std::system_error&) {
    run(job);
    return;
  }
  CalcProgress shown = {0, 0, MATTE_STAGE_LAPLACIAN, -1};
  std::unique_lock<std::mutex> hold(lock);
  while (!finished.wait_for(hold, std::chrono::milliseconds(100), [&] { return done; })) {
    if (context->cancel.load(std::memory_order_relaxed)) job->control.request_cancel();
    const CalcProgress now = job->control.progress();
    if (context->callback == nullptr || same(now, shown)) continue;
    shown = now;
    const std::string text = calc_progress_text(now);
    const quillane_progress report = {now.level, now.levels, now.fraction, text.c_str()};
    hold.unlock();  // the callback may take its time; the worker must be able to finish
    context->callback(&report, context->user_data);
    hold.lock();
  }
  hold.unlock();
  worker.join();
}

// Copies rows of row_bytes bytes from a packed block to a buffer of the given stride.
void copy_rows(const std::vector<uint8_t>& from, int rows, size_t row_bytes, uint8_t* to,
               int stride) {
  for (int y = 0; y < rows; ++y)
    std::memcpy(to + static_cast<size_t>(y) * stride, &from[y * row_bytes], row_bytes);
}

}  // namespace

extern "C" int quillane_matte(quillane_context* context, const quillane_options* options,
                              const quillane_pixels* image, const quillane_pixels* strokes,
                              unsigned char* alpha, int alpha_stride, unsigned char* foreground,
                              int foreground_stride) {
  if (context == nullptr) return QUILLANE_ERROR_ARGUMENT;
  if (context->busy.exchange(true)) return QUILLANE_ERROR_BUSY;
  int status;
  try {
    std::string& message = context->message;
    message.clear();
    context->engine_status = 0;
    context->failed_reading = false;
    Job job;
    job.image = image;
    job.strokes = strokes;
    job.want_foreground = foreground != nullptr;
    if (options == nullptr) {
      message = "options are missing";
      status = QUILLANE_ERROR_ARGUMENT;
    } else if (!pixels_usable(image, "the image", &message) ||
               !pixels_usable(strokes, "the strokes", &message)) {
      status = QUILLANE_ERROR_ARGUMENT;
    } else if (strokes->width != image->width || strokes->height != image->height) {
      message = "the strokes are " + std::to_string(strokes->width) + "x" +
                std::to_string(strokes->height) + " but the image is " +
                std::to_string(image->width) + "x" + std::to_string(image->height);
      status = QUILLANE_ERROR_ARGUMENT;
    } else if (alpha == nullptr || alpha_stride < image->width) {
      message = "the alpha buffer is missing or its stride is less than the width";
      status = QUILLANE_ERROR_ARGUMENT;
    } else if (foreground != nullptr && foreground_stride / 4 < image->width) {
      message = "the foreground buffer's stride is less than four times the width";
      status = QUILLANE_ERROR_ARGUMENT;
    } else {
      status = read_options(*options, image->width, image->height, &job.opts, &job.region,
                            &job.trimap, &message);
    }
    if (status == QUILLANE_OK) {
      if (context->cancel.load(std::memory_order_relaxed)) job.control.request_cancel();
      run_watched(context, &job);
      status = job.status;
      message = job.message;
      context->engine_status = job.engine_status;
      context->failed_reading = job.reading;
      if (status >= 0) {
        const int w = image->width, h = image->height;
        copy_rows(job.alpha, h, w, alpha, alpha_stride);
        if (foreground != nullptr)
          copy_rows(job.foreground, h, size_t(w) * 4, foreground, foreground_stride);
      }
    }
  } catch (const std::bad_alloc&) {
    status = QUILLANE_ERROR_OUT_OF_MEMORY;
    context->message.clear();
  }
  context->cancel.store(false, std::memory_order_relaxed);
  context->busy.store(false);
  return status;
}

int quillane_detail::engine_status(const quillane_context* context) {
  return context->engine_status;
}

bool quillane_detail::failed_reading_inputs(const quillane_context* context) {
  return context->failed_reading;
}
