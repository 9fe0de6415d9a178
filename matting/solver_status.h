// The one place that turns a sparse-solver status into the message shown to the user.
#ifndef QUILLANE_MATTING_SOLVER_STATUS_H
#define QUILLANE_MATTING_SOLVER_STATUS_H

// Message for a failing UMFPACK status (-1, -3, -4, -5, -6, -8, -11, -13, -15, -17, -911);
// null for every other status, success and warnings included. A static string.
const char* solver_status_message(int status);

#endif
