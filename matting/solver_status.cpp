#include "matting/solver_status.h"

#include <cstdio>

const char* solver_status_message(int status) {
  switch (status) {
    case -1:
      return "failure: out_of_memory";
    case -3:
      return "failure: invalid numeric object\n"
             "you can try:\n"
             "Scaling the image down using an external application or increase\n"
             "the number of scaling steps in the calculation options.\n"
             "\n"
             "Or tighten the image trimatte i.e. paint out more foregound and\n"
             "background pixels.\n"
             "\n"
             "Or in preview mode (left tool bar button) drag the mouse to select\n"
             "a smaller region of the image and make that the calculation region\n"
             "from the edit menu. Don't forget you'll need to toggle back to\n"
             "the edit mode to perform the calculation.";
    case -4:
      return "failure: invalid symbolic object";
    case -5:
      return "failure: argument missing";
    case -6:
      return "failure: n nonpositive";
    case -8:
      return "failure: invalid matrix";
    case -11:
      return "failure: different pattern";
    case -13:
      return "failure: invalid system";
    case -15:
      return "failure: invalid permutation";
    case -17:
      return "failure: internal error";
    case -911:
      return "failure: UMF internal error";
    case CALC_STATUS_CANCELLED:
      return "Calculation cancelled";
    default:
      return nullptr;
  }
}

std::string solver_warning_message(int status) {
  if (status <= 0) return "";
  // UMFPACK's warnings: 1 singular matrix, 2 and 3 determinant under- and overflow.
  char text[256];
  const char* what = status == 1   ? "the system is singular"
                     : status == 2 ? "the determinant underflows"
                     : status == 3 ? "the determinant overflows"
                                   : "the solver reported a warning";
  std::snprintf(text, sizeof text,
                "warning: %s (solver status %d): the matte may be wrong.\n"
                "Paint more foreground and background strokes, or calculate a larger region.",
                what, status);
  return text;
}
