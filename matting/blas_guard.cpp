#include "matting/blas_guard.h"

#include <dlfcn.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Address space of one new buffer (OpenBLAS's BUFFER_SIZE on x86-64 and a page), and what is
// kept free beside it: checking the space and OpenBLAS's own allocation are two steps, and
// other threads may allocate in between.
const size_t kBufferBytes = (size_t(128) << 20) + 4096;
const size_t kMargin = size_t(32) << 20;

// What is known of OpenBLAS's pool. Process-wide, as the pool itself is; guarded by lock.
struct Pool {
  std::mutex lock;
  bool looked_up = false;
  void* (*take)(int) = nullptr;        // blas_memory_alloc
  void (*give_back)(void*) = nullptr;  // blas_memory_free
  int buffers = 0;  // buffers the pool is known to hold besides those of OpenBLAS's threads
  int in_use = 0;   // threads of the BlasBuffers objects alive
};

// The one Pool of the process, made on first use.
Pool& pool() {
  static Pool p;
  return p;
}

// Whether a mapping of bytes can be made now: the same kind OpenBLAS makes, so that every
// limit (address space, data size, commit charge) counts it the same way. Pages untouched.
bool address_space_for(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  munmap(p, bytes);
  return true;
}

// In-out p (locked): finds OpenBLAS's pool functions once; without them p.take stays null.
void look_up(Pool* p) {
  if (p->looked_up) return;
  p->looked_up = true;
  p->take = reinterpret_cast<void* (*)(int)>(dlsym(RTLD_DEFAULT, "blas_memory_alloc"));
  p->give_back = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, "blas_memory_free"));
  if (p->give_back == nullptr) p->take = nullptr;
}

}  // namespace

BlasBuffers::BlasBuffers(int threads) : threads_(std::max(threads, 0)) {
  Pool& p = pool();
  std::lock_guard<std::mutex> hold(p.lock);
  look_up(&p);
  const int needed = p.in_use + threads_;
  if (p.take != nullptr && p.buffers < needed) {
    // Holding `needed` buffers at once makes the pool hold that many besides the ones its own
    // threads took when the library started; a buffer it has already comes back without new
    // memory, so only a failed check can refuse.
    std::vector<void*> taken;
    taken.reserve(static_cast<size_t>(needed));
    bool enough = true;
    while (enough && static_cast<int>(taken.size()) < needed) {
      enough = address_space_for(kBufferBytes + kMargin);
      if (enough) taken.push_back(p.take(0));
    }
    for (void* buffer : taken) p.give_back(buffer);
    if (!enough) throw std::bad_alloc();
    p.buffers = needed;
  }
  p.in_use += threads_;
}

BlasBuffers::~BlasBuffers() {
  Pool& p = pool();
  std::lock_guard<std::mutex> hold(p.lock);
  p.in_use -= threads_;
}
