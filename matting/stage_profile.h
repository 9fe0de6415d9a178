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

// Short lower-case name of a stage ("laplacian", "assembly", ...); a static string.
const char* matte_stage_name(MatteStage stage);

// What a stage does, for a user ("building the Laplacian", "factorising", ...); static.
const char* matte_stage_label(MatteStage stage);

#endif
