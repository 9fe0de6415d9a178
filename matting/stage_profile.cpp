#include "matting/stage_profile.h"

constexpr MatteStageInfo matte_stage_table[MATTE_STAGE_COUNT] = {
    {MATTE_STAGE_LAPLACIAN, "laplacian", "building the Laplacian"},
    {MATTE_STAGE_ASSEMBLY, "assembly", "preparing the solve"},
    {MATTE_STAGE_SYMBOLIC, "symbolic", "analysing"},
    {MATTE_STAGE_NUMERIC, "numeric", "factorising"},
    {MATTE_STAGE_SOLVE, "solve", "solving"},
    {MATTE_STAGE_RESAMPLING, "resampling", "resampling"},
};

namespace {
// Whether every row sits at the index of its stage (checked when compiling).
constexpr bool rows_in_stage_order() {
  for (int i = 0; i < MATTE_STAGE_COUNT; ++i)
    if (matte_stage_table[i].stage != i) return false;
  return true;
}
static_assert(rows_in_stage_order(), "matte_stage_table is indexed by MatteStage");
}  // namespace

const char* matte_stage_name(MatteStage stage) {
  return stage >= 0 && stage < MATTE_STAGE_COUNT ? matte_stage_table[stage].name : "?";
}

const char* matte_stage_label(MatteStage stage) {
  return stage >= 0 && stage < MATTE_STAGE_COUNT ? matte_stage_table[stage].label : "calculating";
}
