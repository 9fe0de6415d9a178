// The costly stages of a matte calculation: their names and labels. The engine marks where each
// begins and ends through calc_control.h, which reports them and lets an observer watch them.
#ifndef QUILLANE_MATTING_STAGE_PROFILE_H
#define QUILLANE_MATTING_STAGE_PROFILE_H

enum MatteStage {
  MATTE_STAGE_LAPLACIAN = 0,   // getLaplacian1
  MATTE_STAGE_ASSEMBLY = 1,    // constraints, triplets, compressed-column conversion
  MATTE_STAGE_SYMBOLIC = 2,    // umfpack_di_symbolic
  MATTE_STAGE_NUMERIC = 3,     // umfpack_di_numeric
  MATTE_STAGE_SOLVE = 4,       // umfpack_di_solve
  MATTE_STAGE_RESAMPLING = 5,  // halving, guided upsampling and the trimap of a level
  MATTE_STAGE_COUNT = 6
};

// One stage: its short lower-case name (the benchmark's column) and what it does, for a user
// (the progress report).
struct MatteStageInfo {
  MatteStage stage;
  const char* name;   // "laplacian", "assembly", ...
  const char* label;  // "building the Laplacian", "factorising", ...
};

// Indexed by MatteStage.
extern const MatteStageInfo matte_stage_table[MATTE_STAGE_COUNT];

// The name of a stage; "?" for a value outside the table. A static string.
const char* matte_stage_name(MatteStage stage);

// The label of a stage; "calculating" for a value outside the table. A static string.
const char* matte_stage_label(MatteStage stage);

#endif
