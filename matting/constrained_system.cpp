#include "matting/constrained_system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "matting/calc_control.h"
#include "matting/laplacian_rows.h"
#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"

namespace {

// The weight that pulls a constrained pixel towards its target, in both forms of the system.
const double kLambda = 100.0;

}  // namespace

void add_constraints(QMatrix* L, Vector* d, double** mask, double** value, int width, int height) {
  for (int x = 0; x < width; ++x) {
    if (x % 64 == 0) calc_check_cancel();
    for (int y = 0; y < height; ++y) {
      const size_t p = static_cast<size_t>(x) * height + y + 1;
      const double w = mask[y][x] * kLambda;
      if (w != 0.0) {
        if (Q_GetEl(L, p, p) == 0.0) {
          if (Q_GetLen(L, p) != 0) {
            std::fputs(" yes off diagonals exist when main is zero.", stdout);
            std::fflush(stdout);
            std::exit(-1);
          }
          Q_SetLen(L, p, 1);
          Q_SetEntry(L, p, 0, p, w);
        } else {
          Q_AddVal(L, p, 0, w);
        }
      }
      V_SetCmp(d, p, value[y][x] * w);
    }
  }
}

void build_level_system(const TIFF_img* image, double** mask, double** value, double softness,
                        int window_radius, LevelSystem* s) {
  const int width = image->width, height = image->height;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  LaplacianRows rows;
  laplacian_rows(image, mask, softness, window_radius, &rows);
  s->width = width;
  s->height = height;
  s->var_of = std::move(rows.var_of);
  s->pixel = std::move(rows.pixel);
  s->row_start = std::move(rows.row_start);
  s->col = std::move(rows.col);
  s->val = std::move(rows.val);
  calc_assign(&s->decided, n, 0.0);
  for (size_t p = 0; p < n; ++p) {
    const int x = static_cast<int>(p / height), y = static_cast<int>(p % height);
    if (s->var_of[p] < 0 && mask[y][x] != 0.0)
      s->decided[p] = value[y][x];  // a constrained pixel alone: alpha is its target
  }
  const int64_t nv = s->variables();
  s->rhs.assign(static_cast<size_t>(nv), 0.0);
  for (int64_t v = 0; v < nv; ++v) {
    const int x = s->pixel[v] / height, y = s->pixel[v] % height;
    const double weight = mask[y][x] * kLambda;
    s->val[s->row_start[v]] += weight;  // the diagonal, first in its row
    s->rhs[v] = value[y][x] * weight;
  }
}

void level_system_multiply(const LevelSystem& s, const std::vector<double>& x,
                           std::vector<double>* y) {
  const int64_t nv = s.variables();
  y->assign(static_cast<size_t>(nv), 0.0);
  for (int64_t v = 0; v < nv; ++v) {
    const double xv = x[v];
    double sum = s.val[s.row_start[v]] * xv;  // the diagonal
    for (int64_t k = s.row_start[v] + 1; k < s.row_start[v + 1]; ++k) {
      sum += s.val[k] * x[s.col[k]];
      (*y)[s.col[k]] += s.val[k] * xv;  // the mirror below the diagonal
    }
    (*y)[v] += sum;
  }
}

std::vector<double> level_system_values(const LevelSystem& s, double** alpha) {
  std::vector<double> x(static_cast<size_t>(s.variables()), 0.0);
  if (alpha != nullptr)
    for (int64_t v = 0; v < s.variables(); ++v)
      x[v] = alpha[s.pixel[v] % s.height][s.pixel[v] / s.height];
  return x;
}

void level_system_alpha(const LevelSystem& s, const std::vector<double>& x, double** alpha) {
  for (int xx = 0; xx < s.width; ++xx)
    for (int y = 0; y < s.height; ++y) {
      const size_t p = static_cast<size_t>(xx) * s.height + y;
      const double a = s.var_of[p] >= 0 ? x[s.var_of[p]] : s.decided[p];
      alpha[y][xx] = a > 1.0 ? 1.0 : a < 0.0 ? 0.0 : a;
    }
}
