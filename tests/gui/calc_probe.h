// A probe in the calculation worker, for tests that need a calculation to stop at a known
// point, fail there, or be cancelled inside a factorisation; and a main-loop wait.
#ifndef QUILLANE_TESTS_GUI_CALC_PROBE_H
#define QUILLANE_TESTS_GUI_CALC_PROBE_H

#include <gtk/gtk.h>

#include <atomic>
#include <functional>
#include <new>

#include "matting/calc_control.h"
#include "matting/stage_profile.h"

// Watches the worker's stages on the worker thread: stops a worker at the end of a stage
// until released, fails a stage as if memory ran out there, and records whether a cancel was
// already asked when a factorisation ended.
struct StageProbe : MatteStageObserver {
  GMutex mutex;
  GCond cond;
  int hold_at = -1;             // workers that end this stage wait there, each until it is let go
  int fail_at = -1;             // the start of this stage throws std::bad_alloc
  int holders = 0, let_go = 0;  // workers that came to wait; how many of them may go on
  std::atomic<int> holding{0};  // workers waiting now
  std::atomic<bool> factorising{false}, cancel_during_factorisation{false};

  void stage_begin(MatteStage stage) override {
    if (stage == fail_at) throw std::bad_alloc();
    if (stage == MATTE_STAGE_NUMERIC) factorising = true;
  }
  void stage_end(MatteStage stage) override {
    if (stage == MATTE_STAGE_NUMERIC) {
      cancel_during_factorisation = calc_control()->cancel_requested();
      factorising = false;
    }
    g_mutex_lock(&mutex);
    if (stage == hold_at) {
      const int ticket = ++holders;
      ++holding;
      while (let_go < ticket) g_cond_wait(&cond, &mutex);
      --holding;
    }
    g_mutex_unlock(&mutex);
  }
  void reset() {
    hold_at = fail_at = -1;
    holders = let_go = 0;
    factorising = cancel_during_factorisation = false;
  }
  // Lets the longest waiting worker go on, or every worker, now and later.
  void release_one() { let_workers_go(1); }
  void release() { let_workers_go(1 << 20); }

 private:
  void let_workers_go(int n) {
    g_mutex_lock(&mutex);
    let_go += n;
    g_cond_broadcast(&cond);
    g_mutex_unlock(&mutex);
  }
};

// The probe the tests install as calc_worker_observer.
inline StageProbe probe;

// Iterates the main loop until done() holds; false when the deadline passed first.
inline bool loop_until(const std::function<bool()>& done, int seconds = 120) {
  gint64 deadline = g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    gtk_main_iteration_do(FALSE);
    g_usleep(1000);
  }
  return true;
}

#endif
