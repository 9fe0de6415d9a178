// One calculation at a time. The editor's calculations — Calculate's workers, cancelled ones
// still finishing, and the live matte's updates — never run side by side: a sparse
// factorisation cannot be interrupted, and two of them would need twice the memory and share the
// processor. What wants to start while a calculation's thread is still alive waits for its
// turn: a Calculate request (the status bar says so) or the live matte's next update. When a
// thread has been joined, the waiting Calculate starts first, then the live matte.
#ifndef QUILLANE_GUI_CALC_SLOT_H
#define QUILLANE_GUI_CALC_SLOT_H

#include "gui/editor.h"

// True while a calculation's thread is alive in ed: a Calculate worker (cancelled or not) or a
// live update. Main thread.
bool calculation_thread_alive(const Editor& ed);

// A calculation's thread has been joined (main thread): starts what waited for it, if no other
// thread is still alive.
void calculation_thread_ended(Editor& ed);

// The stage label's text while a Calculate request waits for its turn.
inline constexpr char kWaitingText[] = "waiting for the cancelled calculation";

#endif
