// OpenBLAS's work buffers, had before a calculation needs them.
//
// OpenBLAS gives each thread that calls it a work buffer (128 MiB of address space) from a
// pool it fills on first use and keeps until the process ends. When the memory for a new
// buffer cannot be had, OpenBLAS 0.3 retries the allocation for ever at full speed instead of
// failing (blas_memory_alloc): under a memory limit (ulimit -v, a full commit limit) a
// calculation would hang instead of reporting that memory ran out. A BlasBuffers object makes
// sure, before the threads start, that the pool holds a buffer for each of them, so that no
// thread needs a new one while the calculation runs. (OpenBLAS's own threads take theirs when
// the library starts, before main().)
#ifndef QUILLANE_MATTING_BLAS_GUARD_H
#define QUILLANE_MATTING_BLAS_GUARD_H

class BlasBuffers {
 public:
  // In threads: how many threads, besides those of the BlasBuffers objects alive already, will
  // call BLAS at the same time while this object lives. Makes OpenBLAS's pool hold a buffer for
  // each of them. Throws std::bad_alloc, and leaves the pool usable, when the address space for
  // a buffer cannot be had. Without OpenBLAS it does nothing.
  explicit BlasBuffers(int threads);
  ~BlasBuffers();
  BlasBuffers(const BlasBuffers&) = delete;
  BlasBuffers& operator=(const BlasBuffers&) = delete;

 private:
  int threads_;
};

#endif
