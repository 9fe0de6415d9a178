// Shared by the engine tests: a scene with strokes, owned arrays, and an independent dense
// implementation of the matting equations to check the engine against.
#ifndef QUILLANE_TESTS_MATTING_ENGINE_FIXTURES_H
#define QUILLANE_TESTS_MATTING_ENGINE_FIXTURES_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "matting/quillane.h"
#include "numeric/allocate.h"
#include "numeric/qmatrix.h"

// A 2-D double array [y][x], zero-filled or adopted from the engine, released with the object.
struct OwnedArray {
  OwnedArray(int width, int height) : a(get_init_arr_t<double>(width, height)) {}
  explicit OwnedArray(double** adopted) : a(adopted) {}
  ~OwnedArray() {
    if (a != nullptr) free_img_t(a);
  }
  double* operator[](int y) const { return a[y]; }
  double** a;
};

// A soft disc on a gradient with noise in an image of type 'g', 'c' or 'a' (released unless
// TIFF_type is 0); strokes `stroke` columns wide: background left, foreground right.
struct Scene {
  Scene(int width, int height, int stroke, unsigned seed, char type = 'c')
      : w(width), h(height), mask(w, h), value(w, h), truth(w, h) {
    get_TIFF(&image, h, w, type);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 6.0);
    const double fg[4] = {220, 180, 40, 255}, bg0[4] = {20, 60, 140, 255}, bg1[4] = {90, 40, 60, 0};
    for (int i = 0; i < w * h; ++i) {
      const int x = i % w, y = i / w;
      const double d = std::hypot(x - 0.45 * w, y - 0.5 * h) - 0.3 * std::min(w, h),
                   t = double(x) / w;
      const double a = truth[y][x] = 1.0 / (1.0 + std::exp(d / 1.5));  // a soft edge
      for (int c = 0; c < (type == 'g' ? 1 : type == 'a' ? 4 : 3); ++c)
        at(c, y, x) = uint8_t(std::clamp(
            std::lround(a * fg[c] + (1 - a) * ((1 - t) * bg0[c] + t * bg1[c]) + noise(rng)), 0l,
            255l));
      mask[y][x] = x < stroke || x >= w - stroke;
      value[y][x] = x >= w - stroke;
    }
  }
  ~Scene() { free_TIFF(&image); }
  uint8_t& at(int c, int y, int x) {
    return image.TIFF_type == 'g' ? image.plane[y][x] : image.channels[c][y][x];
  }
  // Hands image, mask and value over to calculate_matte() (stdout swallowed); returns its status.
  int calculate(const CalcOptions& opts, TIFF_img* matte, CalcControl* control = nullptr) {
    testing::internal::CaptureStdout();
    const int status = calculate_matte(&image, mask.a, value.a, opts, matte, control);
    testing::internal::GetCapturedStdout();
    image.TIFF_type = 0;
    mask.a = value.a = nullptr;
    return status;
  }
  int w, h;
  TIFF_img image;
  OwnedArray mask, value;
  OwnedArray truth;  // the alpha the image was composed with
};

struct Dense {  // row-major n x n
  explicit Dense(int n_) : n(n_), v(size_t(n_) * n_, 0.0) {}
  double& operator()(int i, int j) { return v[size_t(i) * n + j]; }
  double operator()(int i, int j) const { return v[size_t(i) * n + j]; }
  int n;
  std::vector<double> v;
};

// Solves A x = b by Gaussian elimination with partial pivoting (skipping zeros: banded systems).
inline std::vector<double> dense_solve(Dense A, std::vector<double> b) {
  const int n = A.n;
  for (int k = 0; k < n; ++k) {
    int pivot = k, last = n - 1;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(A(i, k)) > std::fabs(A(pivot, k))) pivot = i;
    for (int j = k; j < n && pivot != k; ++j) std::swap(A(k, j), A(pivot, j));
    std::swap(b[k], b[pivot]);
    while (last > k && A(k, last) == 0.0) --last;
    for (int i = k + 1; i < n; ++i) {
      const double f = A(i, k) / A(k, k);
      for (int j = k; j <= last && f != 0.0; ++j) A(i, j) -= f * A(k, j);
      b[i] -= f * b[k];
    }
  }
  for (int i = n - 1; i >= 0; --i) {
    for (int j = i + 1; j < n; ++j) b[i] -= A(i, j) * b[j];
    b[i] /= A(i, i);
  }
  return b;
}

// The matting Laplacian from its definition: for every (2r+1)^2 window with a free pixel,
// W_ij += (1 + (I_i - mu)^T (Sigma + eps/N Id)^-1 (I_j - mu)) / N; L = diag(row sums of W) - W.
// Variables are numbered 0-based column-major: x * height + y.
inline Dense reference_laplacian(const TIFF_img& image, double** mask, double eps, int r) {
  const int w = image.width, h = image.height, N = (2 * r + 1) * (2 * r + 1);
  const int c = image.TIFF_type == 'c' || image.TIFF_type == 'a' ? 3 : 1;
  Dense L(w * h);
  for (int cx = r; cx < w - r; ++cx)
    for (int cy = r; cy < h - r; ++cy) {
      bool all_known = true;
      std::vector<int> idx;
      std::vector<std::vector<double>> col(N, std::vector<double>(c));  // colours, less the mean
      std::vector<double> mu(c, 0.0);
      for (int i = 0; i < N; ++i) {
        const int y = cy - r + i / (2 * r + 1), x = cx - r + i % (2 * r + 1);
        all_known = all_known && mask[y][x] != 0.0;
        idx.push_back(x * h + y);
        for (int k = 0; k < c; ++k)
          mu[k] += (col[i][k] = (c == 3 ? image.channels[k][y][x] : image.plane[y][x]) / 255.0) / N;
      }
      if (all_known) continue;
      Dense S(c);
      for (auto& v : col)
        for (int a = 0; a < c; ++a) v[a] -= mu[a];
      for (int a = 0; a < c * c; ++a) {
        for (const auto& v : col) S(a / c, a % c) += v[a / c] * v[a % c] / N;
        S(a / c, a % c) += a / c == a % c ? eps / N : 0.0;
      }
      for (int j = 0; j < N; ++j) {
        const std::vector<double> z = dense_solve(S, col[j]);  // Sigma^-1 (I_j - mu)
        for (int i = 0; i < N; ++i) {
          double q = 0;
          for (int a = 0; a < c; ++a) q += col[i][a] * z[a];
          L(idx[i], idx[j]) -= (1.0 + q) / N;
          L(idx[i], idx[i]) += (1.0 + q) / N;
        }
      }
    }
  return L;
}

// Full symmetric dense copy of a symmetric row-wise QMatrix holding the upper triangle.
inline Dense to_dense(QMatrix* M) {
  Dense D(int(M->Dim));
  for (size_t p = 1; p <= M->Dim; ++p)
    for (size_t k = 0; k < Q_GetLen(M, p); ++k)
      D(p - 1, Q_GetPos(M, p, k) - 1) = D(Q_GetPos(M, p, k) - 1, p - 1) = Q_GetVal(M, p, k);
  return D;
}

// Alpha of (L + 100 diag(mask)) alpha = 100 mask .* value, clamped to 0..1, row-major.
inline std::vector<double> reference_alpha(const TIFF_img& image, double** mask, double** value,
                                           double eps, int r) {
  const int w = image.width, h = image.height;
  Dense A = reference_laplacian(image, mask, eps, r);
  std::vector<double> b(size_t(w) * h), alpha(b.size());
  for (int p = 0; p < w * h; ++p) {
    A(p, p) += 100.0 * mask[p % h][p / h];
    b[p] = 100.0 * mask[p % h][p / h] * value[p % h][p / h];
  }
  const std::vector<double> x = dense_solve(std::move(A), b);
  for (int p = 0; p < w * h; ++p) alpha[p % h * w + p / h] = std::clamp(x[p], 0.0, 1.0);
  return alpha;
}

// Largest |alpha[y][x] - want[y * width + x]|.
inline double max_difference(double** alpha, const std::vector<double>& want, int width,
                             int height) {
  double worst = 0;
  for (int i = 0; i < width * height; ++i)
    worst = std::max(worst, std::fabs(alpha[i / width][i % width] - want[i]));
  return worst;
}

#endif
