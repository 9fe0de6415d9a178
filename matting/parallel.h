// Work shared among the cores, within a calculation.
#ifndef QUILLANE_MATTING_PARALLEL_H
#define QUILLANE_MATTING_PARALLEL_H

#include <cstddef>
#include <functional>

// Threads a parallel loop uses: the cores, at most 16.
int worker_count();

// Runs work(item, worker) for items 0..count-1 on up to `workers` threads (worker 0 is the
// calling thread, which runs between() after each of its items, e.g. progress reports). The
// helpers are bound to the calling thread's calculation control, and no thread takes an item
// once it asks to stop. An exception in any item or in between() stops the others and is
// rethrown here once every thread has ended; a helper that cannot start leaves its share to
// the others. Items are taken in order but finish in any order.
void for_each_parallel(
    size_t count, int workers, const std::function<void(size_t, int)>& work,
    const std::function<void()>& between = [] {});

#endif
