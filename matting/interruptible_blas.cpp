#include "matting/interruptible_blas.h"

#include <dlfcn.h>

#include <atomic>

namespace {

thread_local const CalcControl* scope_control = nullptr;
std::atomic<BlasCallHook> call_hook{nullptr};

// Whether the wrapped call is to be skipped; tells the hook.
bool skip() {
  const bool cut = blas_cut_short();
  if (BlasCallHook hook = call_hook.load(std::memory_order_relaxed)) hook(cut);
  return cut;
}

// The BLAS library's own routine of that name: the next definition after this program's.
template <typename F>
F library_routine(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

InterruptibleBlas::InterruptibleBlas(const CalcControl* control) : previous_(scope_control) {
  scope_control = control;
}

InterruptibleBlas::~InterruptibleBlas() {
  scope_control = previous_;
}

bool blas_cut_short() {
  return scope_control != nullptr && scope_control->cancel_requested();
}

BlasCallHook set_blas_call_hook(BlasCallHook hook) {
  return call_hook.exchange(hook);
}

// The wrappers, with the Fortran interfaces CHOLMOD calls them by (32-bit integers, no
// hidden string lengths: the arguments are passed on as they came).
extern "C" {

typedef void Dgemm(const char*, const char*, const int*, const int*, const int*, const double*,
                   const double*, const int*, const double*, const int*, const double*, double*,
                   const int*);
typedef void Dsyrk(const char*, const char*, const int*, const int*, const double*, const double*,
                   const int*, const double*, double*, const int*);
typedef void Dtrsm(const char*, const char*, const char*, const char*, const int*, const int*,
                   const double*, const double*, const int*, double*, const int*);
typedef void Dpotrf(const char*, const int*, double*, const int*, int*);

void dgemm_(const char* ta, const char* tb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc) {
  static Dgemm* const real = library_routine<Dgemm*>("dgemm_");
  if (!skip()) real(ta, tb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void dsyrk_(const char* uplo, const char* trans, const int* n, const int* k, const double* alpha,
            const double* a, const int* lda, const double* beta, double* c, const int* ldc) {
  static Dsyrk* const real = library_routine<Dsyrk*>("dsyrk_");
  if (!skip()) real(uplo, trans, n, k, alpha, a, lda, beta, c, ldc);
}

void dtrsm_(const char* side, const char* uplo, const char* ta, const char* diag, const int* m,
            const int* n, const double* alpha, const double* a, const int* lda, double* b,
            const int* ldb) {
  static Dtrsm* const real = library_routine<Dtrsm*>("dtrsm_");
  if (!skip()) real(side, uplo, ta, diag, m, n, alpha, a, lda, b, ldb);
}

void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info) {
  static Dpotrf* const real = library_routine<Dpotrf*>("dpotrf_");
  if (skip()) {
    *info = 1;  // as a failed first pivot: CHOLMOD stops the factorisation
    return;
  }
  real(uplo, n, a, lda, info);
}

}  // extern "C"
