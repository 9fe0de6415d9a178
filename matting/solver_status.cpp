#include "matting/solver_status.h"

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
    default:
      return nullptr;
  }
}
