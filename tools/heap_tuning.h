// How the tool's heap is set up: one process, one calculation, then exit.
//
// A calculation allocates and releases gigabytes in blocks of megabytes. By default glibc
// maps each large block afresh and returns it on release, so every 4 KiB page costs a fault
// and a clearing each time; on a virtual machine those faults took 15 s of a 12-megapixel
// photograph's 40. glibc's heap can instead ask for transparent huge pages and keep what is
// released for the next block, but only through GLIBC_TUNABLES, which it reads at start.
#ifndef QUILLANE_TOOLS_HEAP_TUNING_H
#define QUILLANE_TOOLS_HEAP_TUNING_H

// The tunables the tool runs with, appended to the existing ones (text to add to
// GLIBC_TUNABLES, without a leading colon).
extern const char kHeapTunables[];

// In argv: main()'s. Unless GLIBC_TUNABLES already mentions the huge-page tunable (the
// user's choice), this process was restarted already (QUILLANE_HEAP_TUNED is set) or runs
// under a limit of its address space or data (ulimit -v, ulimit -d), adds
// kHeapTunables to it and starts the program again in this process with the same arguments.
// Returns only when it did not restart: the program then goes on with the heap it has.
void restart_with_tuned_heap(char** argv);

#endif
