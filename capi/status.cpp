// Texts of the C API's statuses, and its version.
#include "quillane/quillane.h"

#ifndef QUILLANE_VERSION
#define QUILLANE_VERSION "unknown"
#endif

extern "C" const char* quillane_status_message(int status) {
  switch (status) {
    case QUILLANE_OK:
      return "success";
    case QUILLANE_WARNING:
      return "the matte was calculated, but the solver warns it may be wrong";
    case QUILLANE_ERROR_ARGUMENT:
      return "invalid argument";
    case QUILLANE_ERROR_OPTION:
      return "an option is out of its range";
    case QUILLANE_ERROR_REGION:
      return "the calculation region lies outside the image or is smaller than one window";
    case QUILLANE_ERROR_NO_STROKES:
      return "no strokes: paint background (black) and foreground strokes";
    case QUILLANE_ERROR_NO_BACKGROUND:
      return "no background (opaque black) stroke";
    case QUILLANE_ERROR_NO_FOREGROUND:
      return "no foreground or alternate-colour stroke";
    case QUILLANE_ERROR_NOTHING_UNKNOWN:
      return "every pixel is painted: nothing to calculate";
    case QUILLANE_ERROR_SOLVER:
      return "the sparse solver failed";
    case QUILLANE_ERROR_OUT_OF_MEMORY:
      return "out of memory";
    case QUILLANE_ERROR_CANCELLED:
      return "Calculation cancelled";
    case QUILLANE_ERROR_BUSY:
      return "the context is already calculating";
    default:
      return "unknown status";
  }
}

extern "C" const char* quillane_version(void) {
  return QUILLANE_VERSION;
}
