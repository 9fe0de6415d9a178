// OpenMP parallel regions run as plain calls while the engine keeps the libraries serial.
//
// The engine runs its tiles on threads of its own and keeps CHOLMOD's OpenMP regions to one
// thread meanwhile (schwarz_solver.cpp). A region of one thread still costs libgomp a team and
// a barrier whose end is a futex system call, and CHOLMOD's supernodal factorisation meets a
// few regions per supernode: a hundred thousand system calls for a half-megapixel photograph,
// most of a second on a virtual machine. The engine defines GOMP_parallel, the entry point
// such regions are compiled to, ahead of libgomp's: while a SerialOpenMP object lives, a region
// met on a thread outside any team runs as fn(data) on that thread, as a team of one would;
// otherwise, and inside a team, the call goes on to libgomp unchanged.
#ifndef QUILLANE_MATTING_SERIAL_OPENMP_H
#define QUILLANE_MATTING_SERIAL_OPENMP_H

class SerialOpenMP {
 public:
  SerialOpenMP();   // from now on regions of every thread run as plain calls (see above)
  ~SerialOpenMP();  // when the last object ends, regions go to libgomp again
  SerialOpenMP(const SerialOpenMP&) = delete;
  SerialOpenMP& operator=(const SerialOpenMP&) = delete;
};

// How many parallel regions ran as plain calls since the program started (for the tests).
long serial_openmp_regions();

#endif
