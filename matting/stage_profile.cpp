#include "matting/stage_profile.h"

namespace {
thread_local MatteStageObserver* current_observer = nullptr;
}  // namespace

const char* matte_stage_name(MatteStage stage) {
  switch (stage) {
    case MATTE_STAGE_LAPLACIAN:
      return "laplacian";
    case MATTE_STAGE_ASSEMBLY:
      return "assembly";
    case MATTE_STAGE_SYMBOLIC:
      return "symbolic";
    case MATTE_STAGE_NUMERIC:
      return "numeric";
    case MATTE_STAGE_SOLVE:
      return "solve";
    case MATTE_STAGE_RESAMPLING:
      return "resampling";
    default:
      return "?";
  }
}

MatteStageObserver* set_matte_stage_observer(MatteStageObserver* observer) {
  MatteStageObserver* previous = current_observer;
  current_observer = observer;
  return previous;
}

MatteStageObserver* matte_stage_observer() {
  return current_observer;
}
