// The costly stages of a matte calculation, and their optional observation for the benchmark.
//
// The engine marks the start and end of each stage. The marks report progress to the
// calculation's control and check for a cancel request (calc_control.h); when the calling
// thread has an observer installed it is told too. The engine's results never depend on an
// observer.
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

// Receives stage boundaries on the thread that installed it. Stages do not nest, except that
// the resampling of a level is reported around the halving and the upsampling only, never
// around the coarser levels' solves.
class MatteStageObserver {
 public:
  virtual ~MatteStageObserver() = default;
  virtual void stage_begin(MatteStage stage) = 0;
  virtual void stage_end(MatteStage stage) = 0;
};

// Installs observer for the calling thread (null removes it); returns the previous one.
// The observer is borrowed, not owned.
MatteStageObserver* set_matte_stage_observer(MatteStageObserver* observer);

// The calling thread's observer, or null.
MatteStageObserver* matte_stage_observer();

// A stage begins or ends on the calling thread: tells its observer, if any, reports the stage
// to its calculation control, if any, and throws CalcCancelled when that asks to stop.
void matte_stage_begin(MatteStage stage);
void matte_stage_end(MatteStage stage);

#endif
