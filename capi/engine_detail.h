// What the library's own programs (the tool) may learn of a calculation beyond the C API: the
// engine's status, so that they can give its advice. Not exported from the shared library.
#ifndef QUILLANE_CAPI_ENGINE_DETAIL_H
#define QUILLANE_CAPI_ENGINE_DETAIL_H

#include "quillane/quillane.h"

namespace quillane_detail {

// In context: after quillane_matte() returned. The engine's status of that call
// (solver_status.h: 0, a solver status, CALC_STATUS_*), 0 when the engine did not run.
int engine_status(const quillane_context* context);

// In context: as above. Whether that call ran out of memory while it read its inputs, before
// the engine started.
bool failed_reading_inputs(const quillane_context* context);

}  // namespace quillane_detail

#endif
