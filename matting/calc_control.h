// Progress, cancellation and observation of a running matte calculation.
//
// The calculating thread reports where it is (level, stage, fraction of the stage) and checks
// for a cancel request between stages, rows and iterations; other threads read the report and
// may ask it to stop. Everything is lock-free, so request_cancel() may be called from a signal
// handler. The direct solve's UMFPACK calls cannot be interrupted: there the request takes
// effect at the first check after them. CHOLMOD's factorisations stop at once
// (interruptible_blas.h). A benchmark or test may also watch the stage boundaries on the
// calculating thread through an observer; the engine's results never depend on one.
#ifndef QUILLANE_MATTING_CALC_CONTROL_H
#define QUILLANE_MATTING_CALC_CONTROL_H

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "matting/stage_profile.h"

struct CalcProgress {
  int level;         // level being worked on, 1 = coarsest; 0 before the first report
  int levels;        // levels the calculation works on
  MatteStage stage;  // what it is doing (meaningful once level > 0)
  double fraction;   // 0..1 of the current stage, or -1 when not known
};

class CalcControl {
 public:
  // Any thread: asks the calculation to stop at its next check.
  void request_cancel() { cancel_.store(true, std::memory_order_relaxed); }
  bool cancel_requested() const { return cancel_.load(std::memory_order_relaxed); }

  // Any thread: the last report, read in one piece.
  CalcProgress progress() const;

  // The calculating thread: level and levels 0 keep the previous values.
  void report(int level, int levels, MatteStage stage, double fraction);

 private:
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> state_{0};  // packed CalcProgress
};

// Thrown on the calculating thread when its control asks to stop; the calculation's entry
// catches it (calculate_matte() turns it into CALC_STATUS_CANCELLED).
struct CalcCancelled {};

// Binds control (borrowed; null for none) to the calling thread while the object lives: the
// engine's reports and checks on this thread go to it.
class CalcControlBinding {
 public:
  explicit CalcControlBinding(CalcControl* control);
  ~CalcControlBinding();
  CalcControlBinding(const CalcControlBinding&) = delete;
  CalcControlBinding& operator=(const CalcControlBinding&) = delete;

 private:
  CalcControl* previous_;
};

// The control bound to the calling thread, or null.
CalcControl* calc_control();

// Throws CalcCancelled when the calling thread's control asks to stop.
inline void calc_check_cancel() {
  if (CalcControl* c = calc_control())
    if (c->cancel_requested()) throw CalcCancelled();
}

// Sets *v to n copies of value a block at a time, with a cancel check between: first touching
// fresh memory costs page faults, a quarter of a second per 100 MB on some machines, and a
// cancel must not wait for a whole level's worth. Throws CalcCancelled like the checks.
template <typename T>
void calc_assign(std::vector<T>* v, size_t n, T value) {
  const size_t block = size_t(1) << 20;
  v->clear();
  v->reserve(n);
  for (size_t done = 0; done < n; done += block) {
    calc_check_cancel();
    v->insert(v->end(), std::min(block, n - done), value);
  }
}

// Reports the level now worked on (1 = coarsest) out of levels.
void calc_report_level(int level, int levels);

// Reports the stage now running and how far it is (0..1, -1 unknown); checks for a cancel.
void calc_report_stage(MatteStage stage, double fraction = -1);

// Reports how far the current stage is (0..1); checks for a cancel.
void calc_report_fraction(double fraction);

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

// A stage (stage_profile.h) begins or ends on the calling thread: tells its observer, if any,
// reports the stage to its calculation control, if any, and throws CalcCancelled when that
// asks to stop.
void matte_stage_begin(MatteStage stage);
void matte_stage_end(MatteStage stage);

// The report as a user reads it: "level 2 of 3 · solving · 40 %"; the level is left out for
// one-level calculations and the percentage when not known. Empty before the first report.
std::string calc_progress_text(const CalcProgress& progress);

#endif
