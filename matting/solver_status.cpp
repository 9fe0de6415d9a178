#include "matting/solver_status.h"

#include <umfpack.h>

#include <cstdio>

static_assert(CALC_STATUS_OUT_OF_MEMORY == UMFPACK_ERROR_out_of_memory, "one out-of-memory status");

namespace {

// What the tool suggests for a solve that did not go through.
const char kToolTry[] = "try --levels auto, more --levels, more strokes or a smaller --region";

}  // namespace

const SolverStatusInfo solver_status_table[] = {
    {UMFPACK_ERROR_out_of_memory, "failure: out_of_memory", "", kToolTry},
    {UMFPACK_ERROR_invalid_Numeric_object, "failure: invalid numeric object",
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
     "the edit mode to perform the calculation.",
     kToolTry},
    {UMFPACK_ERROR_invalid_Symbolic_object, "failure: invalid symbolic object", "", kToolTry},
    {UMFPACK_ERROR_argument_missing, "failure: argument missing", "", kToolTry},
    {UMFPACK_ERROR_n_nonpositive, "failure: n nonpositive", "", kToolTry},
    {UMFPACK_ERROR_invalid_matrix, "failure: invalid matrix", "", kToolTry},
    {UMFPACK_ERROR_different_pattern, "failure: different pattern", "", kToolTry},
    {UMFPACK_ERROR_invalid_system, "failure: invalid system", "", kToolTry},
    {UMFPACK_ERROR_invalid_permutation, "failure: invalid permutation", "", kToolTry},
    // Older UMFPACK releases called -17 their internal error; today's call it file_IO.
    {UMFPACK_ERROR_file_IO, "failure: internal error", "", kToolTry},
    {UMFPACK_ERROR_internal_error, "failure: UMF internal error", "", kToolTry},
    {CALC_STATUS_CANCELLED, "Calculation cancelled", "", ""},
    {CALC_STATUS_STROKES_TOO_THIN,
     "strokes too thin for that many levels: use fewer levels or automatic levels", "",
     "try fewer --levels or --levels auto"},
    {0, nullptr, nullptr, nullptr},
};

const SolverStatusInfo* solver_status_info(int status) {
  for (const SolverStatusInfo* row = solver_status_table; row->message != nullptr; ++row)
    if (row->status == status && status != 0) return row;
  return nullptr;
}

const char* solver_status_message(int status) {
  // The editor's texts, message and advice on one string, made once from the table.
  static const struct Texts {
    std::string text[sizeof solver_status_table / sizeof solver_status_table[0]];
    Texts() {
      for (size_t i = 0; solver_status_table[i].message != nullptr; ++i) {
        text[i] = solver_status_table[i].message;
        if (*solver_status_table[i].editor_advice != '\0')
          text[i] += std::string("\n") + solver_status_table[i].editor_advice;
      }
    }
  } texts;
  const SolverStatusInfo* row = solver_status_info(status);
  return row != nullptr ? texts.text[row - solver_status_table].c_str() : nullptr;
}

std::string solver_warning_message(int status) {
  if (status <= 0) return "";
  char text[256];
  const char* what =
      status == UMFPACK_WARNING_singular_matrix         ? "the system is singular"
      : status == UMFPACK_WARNING_determinant_underflow ? "the determinant underflows"
      : status == UMFPACK_WARNING_determinant_overflow  ? "the determinant overflows"
                                                        : "the solver reported a warning";
  std::snprintf(text, sizeof text,
                "warning: %s (solver status %d): the matte may be wrong.\n"
                "Paint more foreground and background strokes, or calculate a larger region.",
                what, status);
  return text;
}
