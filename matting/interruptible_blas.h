// Stopping a CHOLMOD factorisation half-way when its calculation is cancelled.
//
// CHOLMOD has no hook of its own to stop a factorisation, and one tile's can take longer than
// a cancel may wait. Its supernodal factorisation spends its time in a handful of BLAS and
// LAPACK routines (dgemm, dsyrk, dtrsm, dpotrf), which the engine wraps: on a thread inside an
// InterruptibleBlas scope whose control asks to stop, they return at once without computing,
// and dpotrf reports a failed pivot, so that CHOLMOD gives up at the next supernode with
// CHOLMOD_NOT_POSDEF. The factor made then is garbage; the caller must throw it away (see
// blas_cut_short()). Outside such a scope, or without a cancel request, the routines are the
// BLAS library's own.
#ifndef QUILLANE_MATTING_INTERRUPTIBLE_BLAS_H
#define QUILLANE_MATTING_INTERRUPTIBLE_BLAS_H

#include "matting/calc_control.h"

class InterruptibleBlas {
 public:
  // In control (borrowed, may be null: nothing is cut short): the calculation whose cancel
  // request cuts the calling thread's BLAS calls short while the object lives.
  explicit InterruptibleBlas(const CalcControl* control);
  ~InterruptibleBlas();
  InterruptibleBlas(const InterruptibleBlas&) = delete;
  InterruptibleBlas& operator=(const InterruptibleBlas&) = delete;

 private:
  const CalcControl* previous_;
};

// Whether BLAS calls on this thread are being cut short (the scope's control asks to stop).
bool blas_cut_short();

// Called before every wrapped BLAS call with whether it is cut short: a test's way to follow
// (and to time a cancel among) the calls of a factorisation. Null (the default): none.
// Install while no calculation runs; it is called from every thread that factorises.
typedef void (*BlasCallHook)(bool cut_short);
BlasCallHook set_blas_call_hook(BlasCallHook hook);

#endif
