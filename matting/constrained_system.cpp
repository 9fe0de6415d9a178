#include "matting/constrained_system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "matting/calc_control.h"
#include "matting/get_laplacian.h"
#include "numeric/errhandl.h"
#include "numeric/qmatrix.h"

namespace {

// The weight that pulls a constrained pixel towards its target, in both forms of the system.
const double kLambda = 100.0;

struct MatrixOwner {
  QMatrix matrix;
  ~MatrixOwner() { Q_Destr(&matrix); }
};

}  // namespace

void add_constraints(QMatrix* L, Vector* d, double** mask, double** value, int width, int height) {
  for (int x = 0; x < width; ++x)
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

void build_level_system(const TIFF_img* image, double** mask, double** value, double softness,
                        int window_radius, LevelSystem* s) {
  const int width = image->width, height = image->height;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  MatrixOwner owner{getLaplacian1(image, mask, softness, window_radius)};
  QMatrix& L = owner.matrix;
  if (LASResult() != LASOK) throw std::bad_alloc();
  calc_check_cancel();

  s->width = width;
  s->height = height;
  calc_assign<int32_t>(&s->var_of, n, -1);
  calc_assign(&s->decided, n, 0.0);
  s->pixel.clear();
  int64_t entries = 0;
  for (size_t p = 0; p < n; ++p) {
    if ((p & 0xffff) == 0) calc_check_cancel();  // every 65536 pixels: within milliseconds
    const int x = static_cast<int>(p / height), y = static_cast<int>(p % height);
    if (L.Len[p + 1] != 0) {
      s->var_of[p] = static_cast<int32_t>(s->pixel.size());
      s->pixel.push_back(static_cast<int32_t>(p));
      entries += static_cast<int64_t>(L.Len[p + 1]);
    } else if (mask[y][x] != 0.0) {
      s->decided[p] = value[y][x];  // a constrained pixel alone: alpha is its target
    }
  }

  // The Laplacian's rows are the upper triangle already, diagonal first; each is taken over
  // with its columns renumbered and released at once, so that the two forms hardly coexist.
  const int64_t nv = s->variables();
  calc_assign<int64_t>(&s->row_start, static_cast<size_t>(nv) + 1, 0);
  s->col.clear();
  s->val.clear();
  s->col.reserve(static_cast<size_t>(entries));
  s->val.reserve(static_cast<size_t>(entries));
  s->rhs.assign(static_cast<size_t>(nv), 0.0);
  for (int64_t v = 0; v < nv; ++v) {
    if ((v & 0xffff) == 0) calc_check_cancel();
    const size_t p = static_cast<size_t>(s->pixel[v]) + 1;
    const int x = static_cast<int>((p - 1) / height), y = static_cast<int>((p - 1) % height);
    const double weight = mask[y][x] * kLambda;
    for (size_t k = 0; k < L.Len[p]; ++k) {
      s->col.push_back(s->var_of[L.El[p][k].Pos - 1]);
      s->val.push_back(L.El[p][k].Val + (k == 0 ? weight : 0.0));
    }
    s->row_start[v + 1] = static_cast<int64_t>(s->col.size());
    s->rhs[v] = value[y][x] * weight;
    Q_SetLen(&L, p, 0);
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
