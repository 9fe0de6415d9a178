// The C API's context: creation, progress callback, cancel request, last message.
#include <new>

#include "capi/context.h"

extern "C" {

quillane_context* quillane_context_new(void) {
  return new (std::nothrow) quillane_context();
}

void quillane_context_free(quillane_context* context) {
  delete context;
}

void quillane_context_set_progress(quillane_context* context, quillane_progress_fn callback,
                                   void* user_data) {
  if (context == nullptr) return;
  context->callback = callback;
  context->user_data = user_data;
}

void quillane_cancel(quillane_context* context) {
  if (context != nullptr) context->cancel.store(true, std::memory_order_relaxed);
}

const char* quillane_context_message(const quillane_context* context) {
  return context != nullptr ? context->message.c_str() : "";
}

}  // extern "C"
