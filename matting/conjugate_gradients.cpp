#include "matting/conjugate_gradients.h"

#include <algorithm>
#include <cmath>

#include "matting/calc_control.h"

namespace {

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
  return sum;
}

}  // namespace

CgResult preconditioned_cg(const LevelSystem& s, Preconditioner* M, std::vector<double>* x,
                           const CgOptions& options) {
  const int64_t nv = s.variables();
  CgResult result;
  if (nv == 0) return result;
  std::vector<double>& xs = *x;
  std::vector<double> r, z, p, q;
  level_system_multiply(s, xs, &q);
  r.resize(static_cast<size_t>(nv));
  for (int64_t v = 0; v < nv; ++v) r[v] = s.rhs[v] - q[v];
  M->apply(r, &z);
  if (M->exact()) {
    for (int64_t v = 0; v < nv; ++v) xs[v] += z[v];
    return result;
  }
  double rz = dot(r, z);
  const double rz0 = rz;
  result.residual = 1.0;
  p = z;
  for (int it = 1; it <= options.max_iterations && rz > 0; ++it) {
    calc_report_fraction(static_cast<double>(it - 1) / options.max_iterations);
    level_system_multiply(s, p, &q);
    const double alpha = rz / dot(p, q);
    for (int64_t v = 0; v < nv; ++v) {
      xs[v] += alpha * p[v];
      r[v] -= alpha * q[v];
    }
    result.iterations = it;
    M->apply(r, &z);
    const double rz_next = dot(r, z);
    result.residual = std::sqrt(std::max(rz_next, 0.0) / rz0);
    if (result.residual < options.tolerance) break;
    const double beta = rz_next / rz;
    rz = rz_next;
    for (int64_t v = 0; v < nv; ++v) p[v] = z[v] + beta * p[v];
  }
  return result;
}
