// Optional per-stage observation of a matte calculation, for the benchmark.
//
// The engine marks the start and end of each costly stage; when the calling thread has an
// observer installed it is told, otherwise marking costs one thread-local load. The engine's
// results never depend on an observer.
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

// Tell the calling thread's observer, if any, that a stage begins or ends.
inline void matte_stage_begin(MatteStage stage) {
  if (MatteStageObserver* o = matte_stage_observer()) o->stage_begin(stage);
}
inline void matte_stage_end(MatteStage stage) {
  if (MatteStageObserver* o = matte_stage_observer()) o->stage_end(stage);
}

// Marks one stage for the lifetime of the object.
class MatteStageScope {
 public:
  explicit MatteStageScope(MatteStage stage) : stage_(stage), observer_(matte_stage_observer()) {
    if (observer_ != nullptr) observer_->stage_begin(stage_);
  }
  ~MatteStageScope() {
    if (observer_ != nullptr) observer_->stage_end(stage_);
  }
  MatteStageScope(const MatteStageScope&) = delete;
  MatteStageScope& operator=(const MatteStageScope&) = delete;

 private:
  MatteStage stage_;
  MatteStageObserver* observer_;
};

#endif
