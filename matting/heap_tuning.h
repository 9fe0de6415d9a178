// How a program's heap is set up for the engine's calculations.
//
// A calculation allocates and releases gigabytes in blocks of megabytes. By default glibc
// gives each large block fresh pages and returns them on release; on a virtual machine the
// first touch of a fresh 4 KiB page costs about 2.7 s a gigabyte (0.5 s with 2 MiB pages,
// against 0.05 s to write memory already touched), which took 15 s of a 12-megapixel run of
// the tool. glibc's heap can instead ask for transparent huge pages and keep what is released
// for the next block, but only through GLIBC_TUNABLES, which it reads at start.
#ifndef QUILLANE_MATTING_HEAP_TUNING_H
#define QUILLANE_MATTING_HEAP_TUNING_H

// For a program that runs one calculation and exits (the tool, the GIMP plug-in): huge pages,
// blocks up to 32 MiB (the most glibc allows) from the heap rather than their own mappings,
// nothing given back before exit, and heaps grown 64 MiB at a time. glibc grows a heap by
// 128 KiB by default, and the calculating threads' heaps then mostly fault in 4 KiB pages:
// GT04's trimap took 25 000 faults and a quarter of its time, against 2 000 grown by 64 MiB.
extern const char kHeapTunablesOneCalculation[];
// For the editor, which keeps running: huge pages only; released memory goes back as usual.
extern const char kHeapTunablesEditor[];

// Whether this process runs under a limit of its address space or data (ulimit -v, -d).
bool runs_under_memory_limit();

// In argv: main()'s; tunables: text to add to GLIBC_TUNABLES (no leading colon). Unless
// GLIBC_TUNABLES already mentions the huge-page tunable (the user's choice), this process was
// restarted already (QUILLANE_HEAP_TUNED is set) or runs under a limit of its address space
// or data (ulimit -v, ulimit -d), adds the tunables and starts the program again in this
// process with the same arguments; OPENBLAS_THREAD_TIMEOUT, unless set, becomes 4 on the way
// (OpenBLAS's idle threads then sleep at once instead of spinning). Call first thing in main().
// Returns only when it did not restart: the program then goes on with the heap it has.
void restart_with_tuned_heap(char** argv, const char* tunables);

#endif
