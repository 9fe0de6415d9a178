#include "engine_fixtures.h"

#include <cmath>
#include <utility>

void fill_random(OwnedImage* image, std::mt19937* rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  const int channels = image->img.TIFF_type == 'g' ? 1 : image->img.TIFF_type == 'a' ? 4 : 3;
  for (int ch = 0; ch < channels; ++ch)
    for (int y = 0; y < image->img.height; ++y)
      for (int x = 0; x < image->img.width; ++x) image->at(ch, y, x) = byte(*rng);
}

void fill_scene(OwnedImage* image, std::mt19937* rng) {
  std::normal_distribution<double> noise(0.0, 6.0);
  const int w = image->img.width, h = image->img.height;
  const int channels = image->img.TIFF_type == 'g' ? 1 : 3;
  const double fg[3] = {220, 180, 40}, bg0[3] = {20, 60, 140}, bg1[3] = {90, 40, 60};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double dx = x - 0.45 * w, dy = y - 0.5 * h;
      const double d = std::sqrt(dx * dx + dy * dy) - 0.3 * std::min(w, h);
      const double a = 1.0 / (1.0 + std::exp(d / 1.5));  // soft edge
      const double t = static_cast<double>(x) / w;
      for (int ch = 0; ch < channels; ++ch) {
        double v = a * fg[ch] + (1 - a) * ((1 - t) * bg0[ch] + t * bg1[ch]) + noise(*rng);
        image->at(ch, y, x) = static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
      }
    }
}

namespace {

// Inverse of a symmetric 3 x 3 matrix by cofactors.
void invert3(const double m[3][3], double out[3][3]) {
  const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  out[0][0] = c00 / det;
  out[1][0] = c01 / det;
  out[2][0] = c02 / det;
  out[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
  out[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
  out[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
  out[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
  out[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
  out[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
}

}  // namespace

Dense reference_laplacian(const TIFF_img& image, double** mask, double eps, int r) {
  const int w = image.width, h = image.height, n = w * h;
  const int c = image.TIFF_type == 'c' || image.TIFF_type == 'a' ? 3 : 1;
  const int N = (2 * r + 1) * (2 * r + 1);
  Dense W(n);
  for (int cx = r; cx < w - r; ++cx)
    for (int cy = r; cy < h - r; ++cy) {
      bool all_known = true;
      for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
          if (mask[y][x] == 0.0) all_known = false;
      if (all_known) continue;
      std::vector<int> idx;
      std::vector<std::vector<double>> col;
      for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x) {
          idx.push_back(x * h + y);
          std::vector<double> v(3, 0.0);
          for (int k = 0; k < c; ++k)
            v[k] = (c == 3 ? image.channels[k][y][x] : image.plane[y][x]) / 255.0;
          col.push_back(v);
        }
      double mu[3] = {0, 0, 0};
      for (const auto& v : col)
        for (int k = 0; k < c; ++k) mu[k] += v[k] / N;
      double inv[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
      if (c == 3) {
        double S[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
        for (const auto& v : col)
          for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) S[a][b] += (v[a] - mu[a]) * (v[b] - mu[b]) / N;
        for (int a = 0; a < 3; ++a) S[a][a] += eps / N;
        invert3(S, inv);
      } else {
        double var = 0;
        for (const auto& v : col) var += (v[0] - mu[0]) * (v[0] - mu[0]) / N;
        inv[0][0] = 1.0 / (var + eps / N);
      }
      for (int i = 0; i < N; ++i)
        for (int j = 0; j < N; ++j) {
          double q = 0;
          for (int a = 0; a < c; ++a)
            for (int b = 0; b < c; ++b) q += (col[i][a] - mu[a]) * inv[a][b] * (col[j][b] - mu[b]);
          W(idx[i], idx[j]) += (1.0 + q) / N;
        }
    }
  Dense L(n);
  for (int i = 0; i < n; ++i) {
    double sum = 0;
    for (int j = 0; j < n; ++j) sum += W(i, j);
    for (int j = 0; j < n; ++j) L(i, j) = -W(i, j);
    L(i, i) += sum;
  }
  return L;
}

Dense to_dense(QMatrix* M) {
  const int n = static_cast<int>(M->Dim);
  Dense D(n);
  for (int p = 1; p <= n; ++p)
    for (size_t k = 0; k < Q_GetLen(M, p); ++k) {
      const int q = static_cast<int>(Q_GetPos(M, p, k));
      D(p - 1, q - 1) = Q_GetVal(M, p, k);
      D(q - 1, p - 1) = Q_GetVal(M, p, k);
    }
  return D;
}

std::vector<double> dense_solve(Dense A, std::vector<double> b) {
  const int n = A.n;
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(A(i, k)) > std::fabs(A(pivot, k))) pivot = i;
    if (pivot != k) {
      for (int j = 0; j < n; ++j) std::swap(A(k, j), A(pivot, j));
      std::swap(b[k], b[pivot]);
    }
    for (int i = k + 1; i < n; ++i) {
      const double f = A(i, k) / A(k, k);
      if (f == 0.0) continue;
      for (int j = k; j < n; ++j) A(i, j) -= f * A(k, j);
      b[i] -= f * b[k];
    }
  }
  std::vector<double> x(n);
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int j = i + 1; j < n; ++j) s -= A(i, j) * x[j];
    x[i] = s / A(i, i);
  }
  return x;
}

std::vector<double> reference_alpha(const TIFF_img& image, double** mask, double** value,
                                    double eps, int r) {
  const int w = image.width, h = image.height;
  Dense A = reference_laplacian(image, mask, eps, r);
  std::vector<double> b(static_cast<size_t>(w) * h, 0.0);
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) {
      A(x * h + y, x * h + y) += 100.0 * mask[y][x];
      b[x * h + y] = 100.0 * mask[y][x] * value[y][x];
    }
  std::vector<double> sol = dense_solve(A, b);
  std::vector<double> alpha(static_cast<size_t>(w) * h);
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y)
      alpha[static_cast<size_t>(y) * w + x] = std::min(1.0, std::max(0.0, sol[x * h + y]));
  return alpha;
}
