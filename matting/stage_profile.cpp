#include "matting/stage_profile.h"

#include "matting/calc_control.h"

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

const char* matte_stage_label(MatteStage stage) {
  switch (stage) {
    case MATTE_STAGE_LAPLACIAN:
      return "building the Laplacian";
    case MATTE_STAGE_ASSEMBLY:
      return "preparing the solve";
    case MATTE_STAGE_SYMBOLIC:
      return "analysing";
    case MATTE_STAGE_NUMERIC:
      return "factorising";
    case MATTE_STAGE_SOLVE:
      return "solving";
    case MATTE_STAGE_RESAMPLING:
      return "resampling";
    default:
      return "calculating";
  }
}

void matte_stage_begin(MatteStage stage) {
  if (MatteStageObserver* o = current_observer) o->stage_begin(stage);
  calc_report_stage(stage);
}

void matte_stage_end(MatteStage stage) {
  if (MatteStageObserver* o = current_observer) o->stage_end(stage);
  calc_check_cancel();
}

MatteStageObserver* set_matte_stage_observer(MatteStageObserver* observer) {
  MatteStageObserver* previous = current_observer;
  current_observer = observer;
  return previous;
}

MatteStageObserver* matte_stage_observer() {
  return current_observer;
}
