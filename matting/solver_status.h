// The one place that turns a sparse-solver status into the message shown to the user.
#ifndef QUILLANE_MATTING_SOLVER_STATUS_H
#define QUILLANE_MATTING_SOLVER_STATUS_H

#include <string>

// Status of a calculation that was cancelled; no matte was made. Distinct from every status
// the sparse solver returns.
const int CALC_STATUS_CANCELLED = -1000;

// Message for a failing status: UMFPACK's -1, -3, -4, -5, -6, -8, -11, -13, -15, -17, -911,
// and CALC_STATUS_CANCELLED ("Calculation cancelled"); null for every other status, success
// and warnings included. A static string.
const char* solver_status_message(int status);

// Message for a warning (a positive status: the solve finished but its matte may be wrong);
// empty for 0 and negative statuses.
std::string solver_warning_message(int status);

#endif
