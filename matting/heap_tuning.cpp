#include "matting/heap_tuning.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

const char kHeapTunablesOneCalculation[] =
    "glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=33554432:"
    "glibc.malloc.trim_threshold=17179869184:glibc.malloc.top_pad=67108864";
const char kHeapTunablesEditor[] = "glibc.malloc.hugetlb=1";

namespace {
const char kRestartedMark[] = "QUILLANE_HEAP_TUNED";
// OpenBLAS's threads spin for about 0.1 s of a core before they sleep, after starting and
// after every call; the engine runs them only in the one-level direct solve. 4 is the least
// that OpenBLAS takes: 2^4 cycles.
const char kBlasTimeout[] = "OPENBLAS_THREAD_TIMEOUT";
}  // namespace

bool runs_under_memory_limit() {
  for (int limit : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit r;
    if (getrlimit(limit, &r) == 0 && r.rlim_cur != RLIM_INFINITY) return true;
  }
  return false;
}

void restart_with_tuned_heap(char** argv, const char* added) {
  // The mark stops a second restart even where the loader drops GLIBC_TUNABLES (a program
  // started with raised privileges).
  if (std::getenv(kRestartedMark) != nullptr) return;
  // Under a memory limit the heap stays as it is: huge pages and kept blocks take address
  // space, and a limited run should fail where an untuned one would, not earlier.
  if (runs_under_memory_limit()) return;
  const char* given = std::getenv("GLIBC_TUNABLES");
  if (given != nullptr && std::strstr(given, "glibc.malloc.hugetlb") != nullptr) return;
  const std::string tunables = given != nullptr ? given : "";  // setenv() may drop the old text
  const std::string value = tunables.empty() ? std::string(added) : tunables + ":" + added;
  const bool blas_given = std::getenv(kBlasTimeout) != nullptr;
  if (setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0 || setenv(kBlasTimeout, "4", 0) != 0 ||
      setenv(kRestartedMark, "1", 1) != 0)
    return;
  // The program's own path rather than /proc/self/exe, which would rename the process "exe"
  // for ps, pgrep and killall.
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    path[n] = '\0';
    execv(path, argv);
  }
  unsetenv(kRestartedMark);
  if (!blas_given) unsetenv(kBlasTimeout);
  // No restart (no /proc, say): the same program, slower, and no tunables for its children.
  if (given != nullptr)
    setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
  else
    unsetenv("GLIBC_TUNABLES");
}
