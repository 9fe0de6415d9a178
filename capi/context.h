// The state behind the C API's opaque quillane_context.
#ifndef QUILLANE_CAPI_CONTEXT_H
#define QUILLANE_CAPI_CONTEXT_H

#include <atomic>
#include <string>

#include "quillane/quillane.h"

struct quillane_context {
  std::atomic<bool> cancel{false};  // set by quillane_cancel(), used up by one calculation
  std::atomic<bool> busy{false};    // a quillane_matte() runs on this context
  quillane_progress_fn callback = nullptr;
  void* user_data = nullptr;
  std::string message;    // of the last calculation
  int engine_status = 0;  // the engine's own status of the last calculation, 0 when none ran
  bool failed_reading = false;  // the last calculation ran out of memory reading its inputs
};

#endif
