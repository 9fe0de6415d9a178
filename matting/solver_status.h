// The one place that turns a calculation's status into what the user is told: the sparse
// solver's statuses by their UMFPACK names, and the calculation's own.
#ifndef QUILLANE_MATTING_SOLVER_STATUS_H
#define QUILLANE_MATTING_SOLVER_STATUS_H

#include <string>

// Status of a calculation that ran out of memory: UMFPACK's out_of_memory, which the engine
// also gives for its own allocations; no matte was made.
const int CALC_STATUS_OUT_OF_MEMORY = -1;

// Status of a calculation that was cancelled; no matte was made. Distinct from every status
// the sparse solver returns.
const int CALC_STATUS_CANCELLED = -1000;

// Status of a calculation refused because the halving to the levels asked would lose the
// strokes of one kind (level_strokes.h); no matte was made.
const int CALC_STATUS_STROKES_TOO_THIN = -1001;

// One failing status: what it means, and what to try in the editor and in the tool.
struct SolverStatusInfo {
  int status;                 // UMFPACK_ERROR_* or CALC_STATUS_*
  const char* message;        // one line: "failure: out_of_memory"
  const char* editor_advice;  // lines shown below the message in the editor; "" for none
  const char* tool_advice;    // one line for quillane-matte; "" for none
};

// Every failing status with a message, UMFPACK's in their order. Ends at the row whose
// message is null.
extern const SolverStatusInfo solver_status_table[];

// The row of a failing status, or null for every other status (success and warnings
// included). A static row.
const SolverStatusInfo* solver_status_info(int status);

// The editor's text for a failing status: the message and, on the following lines, the
// editor's advice; null for every other status. A static string.
const char* solver_status_message(int status);

// Message for a warning (a positive status: the solve finished but its matte may be wrong);
// empty for 0 and negative statuses.
std::string solver_warning_message(int status);

#endif
