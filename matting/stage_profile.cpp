#include "matting/stage_profile.h"

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
