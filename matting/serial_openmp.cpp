#include "matting/serial_openmp.h"

#include <dlfcn.h>

#include <atomic>

namespace {

std::atomic<int> serial_objects{0};
std::atomic<long> plain_regions{0};

using Region = void (*)(void*);
using GompParallel = void(Region, void*, unsigned, unsigned);
using TeamSize = int();

}  // namespace

SerialOpenMP::SerialOpenMP() {
  serial_objects.fetch_add(1, std::memory_order_relaxed);
}

SerialOpenMP::~SerialOpenMP() {
  serial_objects.fetch_sub(1, std::memory_order_relaxed);
}

long serial_openmp_regions() {
  return plain_regions.load(std::memory_order_relaxed);
}

extern "C" void GOMP_parallel(Region fn, void* data, unsigned num_threads, unsigned flags) {
  static GompParallel* const real =
      reinterpret_cast<GompParallel*>(dlsym(RTLD_NEXT, "GOMP_parallel"));
  static TeamSize* const team_size =
      reinterpret_cast<TeamSize*>(dlsym(RTLD_DEFAULT, "omp_get_num_threads"));
  // Inside a team the region's work is shared out by the team's size: only libgomp may run it.
  const bool outside_teams = team_size == nullptr || team_size() == 1;
  if (real == nullptr || (serial_objects.load(std::memory_order_relaxed) > 0 && outside_teams)) {
    plain_regions.fetch_add(1, std::memory_order_relaxed);
    fn(data);
    return;
  }
  real(fn, data, num_threads, flags);
}
