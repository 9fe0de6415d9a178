#include "gui/calc_slot.h"

#include "gui/gtk_calc.h"
#include "gui/live_matte.h"

bool calculation_thread_alive(const Editor& ed) {
  return ed.calc.workers_alive() > 0 || live_thread_alive(ed);
}

void calculation_thread_ended(Editor& ed) {
  if (calculation_thread_alive(ed)) return;
  CalcArgs* waiting = ed.calc.pass_calc_args;
  if (waiting != nullptr && waiting->waiting) {
    start_calc_worker(&ed, waiting);
    return;
  }
  live_resume(ed);
}
