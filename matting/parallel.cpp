#include "matting/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "matting/calc_control.h"

int worker_count() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 16u));
}

void for_each_parallel(size_t count, int workers, const std::function<void(size_t, int)>& work,
                       const std::function<void()>& between) {
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  std::mutex failure_lock;
  CalcControl* const control = calc_control();  // the helpers report to it and check it too
  auto run = [&](int worker) {
    try {
      CalcControlBinding binding(control);
      for (size_t i; !stop && (i = next++) < count;) {
        calc_check_cancel();
        work(i, worker);
        if (worker == 0) between();
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(failure_lock);
      if (!failure) failure = std::current_exception();
      stop = true;
    }
  };
  std::vector<std::thread> threads;
  try {
    for (int k = 1; k < workers; ++k) threads.emplace_back(run, k);
  } catch (...) {
    // Fewer threads than hoped (no memory for a stack): the others do the work.
  }
  run(0);
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}
