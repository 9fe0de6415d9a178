#include "matting/laplacian_rows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "matting/calc_control.h"
#include "matting/parallel.h"

namespace {

// Columns of pixels one parallel item covers.
const int kStripe = 32;

// The colour model of one window: channel means and the inverse of the covariance plus
// (eps / N) times the identity.
struct WindowModel {
  double mu[3];
  double inv[3][3];
};

[[noreturn]] void die(const char* message) {
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(1);
}

class Builder {
 public:
  Builder(const TIFF_img* image, double** mask, double softness, int window_radius)
      : w_(image->width),
        h_(image->height),
        r_(std::max(window_radius, 1)),
        n_((2 * r_ + 1) * (2 * r_ + 1)),
        c_(channel_count(*image)),
        eps_(std::max(softness, 1e-7)),
        side_(4 * r_ + 1) {
    for (int k = 0; k < c_; ++k) planes_[k] = c_ == 3 ? image->channels[k] : image->plane;
    for (int b = 0; b < 256; ++b) unit_[b] = b / 255.0;
    mark_windows(mask);
  }

  void build(LaplacianRows* out) {
    const size_t n = static_cast<size_t>(w_) * h_;
    calc_assign<int32_t>(&out->var_of, n, -1);
    out->pixel.clear();
    for (size_t p = 0; p < n; ++p) {
      if ((p & 0xffff) == 0) calc_check_cancel();
      if (in_window_[p] != 0) {
        out->var_of[p] = static_cast<int32_t>(out->pixel.size());
        out->pixel.push_back(static_cast<int32_t>(p));
      }
    }
    const size_t rows = out->pixel.size();
    calc_assign<int64_t>(&out->row_start, rows + 1, 0);
    const size_t stripes = (static_cast<size_t>(w_) + kStripe - 1) / kStripe;
    // Pass one: each row's length; pass two: its entries, at offsets known by then. Every row
    // is made by one thread in a fixed order, so the values do not depend on the threads.
    for_each_parallel(stripes, worker_count(),
                      [&](size_t s, int) { stripe(static_cast<int>(s), out, false); });
    for (size_t v = 0; v < rows; ++v) out->row_start[v + 1] += out->row_start[v];
    calc_assign<int32_t>(&out->col, static_cast<size_t>(out->row_start[rows]), 0);
    calc_assign(&out->val, static_cast<size_t>(out->row_start[rows]), 0.0);
    for_each_parallel(stripes, worker_count(),
                      [&](size_t s, int) { stripe(static_cast<int>(s), out, true); });
  }

 private:
  size_t at(int x, int y) const { return static_cast<size_t>(x) * h_ + y; }

  // processed_: a window centred there holds a free pixel (only interior centres have
  // windows); in_window_: the pixel lies in such a window. Box counts by columns and rows.
  void mark_windows(double** mask) {
    const size_t n = static_cast<size_t>(w_) * h_;
    std::vector<int32_t> box;
    calc_assign<uint8_t>(&processed_, n, 0);
    calc_assign<uint8_t>(&in_window_, n, 0);
    // Free pixels in the window's rows of each column, then summed over its columns.
    calc_assign<int32_t>(&box, n, 0);
    for (int x = 0; x < w_; ++x) {
      if (x % 256 == 0) calc_check_cancel();
      int count = 0;
      for (int y = 0; y < std::min(r_, h_); ++y) count += mask[y][x] == 0.0;
      for (int y = 0; y < h_; ++y) {
        if (y + r_ < h_) count += mask[y + r_][x] == 0.0;
        box[at(x, y)] = count;
        if (y - r_ >= 0) count -= mask[y - r_][x] == 0.0;
      }
    }
    for (int x = r_; x < w_ - r_; ++x) {
      if (x % 256 == 0) calc_check_cancel();
      for (int y = r_; y < h_ - r_; ++y) {
        int free = 0;
        for (int dx = -r_; dx <= r_; ++dx) free += box[at(x + dx, y)];
        processed_[at(x, y)] = free > 0;
      }
    }
    for (int x = 0; x < w_; ++x) {
      if (x % 256 == 0) calc_check_cancel();
      for (int y = 0; y < h_; ++y) {
        bool found = false;
        for (int cx = std::max(x - r_, 0); cx <= std::min(x + r_, w_ - 1) && !found; ++cx)
          for (int cy = std::max(y - r_, 0); cy <= std::min(y + r_, h_ - 1) && !found; ++cy)
            found = processed_[at(cx, cy)] != 0;
        in_window_[at(x, y)] = found;
      }
    }
  }

  // A table rather than a division for every read: the same values, a little quicker.
  double colour(int k, int x, int y) const { return unit_[planes_[k][y][x]]; }

  // The colour model of the window centred (cx, cy).
  void model(int cx, int cy, WindowModel* m) const {
    double sum[3] = {0, 0, 0}, prod[3][3] = {{0}};
    for (int dx = -r_; dx <= r_; ++dx)
      for (int dy = -r_; dy <= r_; ++dy) {
        double v[3];
        for (int a = 0; a < c_; ++a) v[a] = colour(a, cx + dx, cy + dy);
        for (int a = 0; a < c_; ++a) {
          sum[a] += v[a];
          for (int b = 0; b <= a; ++b) prod[a][b] += v[a] * v[b];
        }
      }
    double cov[3][3];
    for (int a = 0; a < c_; ++a) m->mu[a] = sum[a] / n_;
    for (int a = 0; a < c_; ++a)
      for (int b = 0; b <= a; ++b)
        cov[a][b] = prod[a][b] / n_ - m->mu[a] * m->mu[b] + (a == b ? eps_ / n_ : 0.0);
    // Cholesky factor L of cov, its inverse M, and cov^-1 = M^T M.
    double l[3][3] = {{0}}, inv_l[3][3] = {{0}};
    for (int a = 0; a < c_; ++a) {
      for (int b = 0; b < a; ++b) {
        double s = cov[a][b];
        for (int k = 0; k < b; ++k) s -= l[a][k] * l[b][k];
        l[a][b] = s / l[b][b];
      }
      double d = cov[a][a];
      for (int k = 0; k < a; ++k) d -= l[a][k] * l[a][k];
      if (!(d > 0))
        die("\nFailure - The matrix A is not positive definite "
            "symmetric (within working accuracy).\n");
      l[a][a] = std::sqrt(d);
    }
    for (int a = 0; a < c_; ++a) {
      inv_l[a][a] = 1.0 / l[a][a];
      for (int b = 0; b < a; ++b) {
        double s = 0;
        for (int k = b; k < a; ++k) s -= l[a][k] * inv_l[k][b];
        inv_l[a][b] = s / l[a][a];
      }
    }
    for (int a = 0; a < c_; ++a)
      for (int b = 0; b < c_; ++b) {
        double s = 0;
        for (int k = std::max(a, b); k < c_; ++k) s += inv_l[k][a] * inv_l[k][b];
        m->inv[a][b] = s;
      }
  }

  // The rows of the pixels in columns s * kStripe .. + kStripe - 1: their lengths (values
  // false) or their entries.
  void stripe(int s, LaplacianRows* out, bool values) const {
    const int x0 = s * kStripe, x1 = std::min(w_, x0 + kStripe);
    // Models of the windows whose centres are within r of the stripe, by column.
    const int cx0 = std::max(x0 - r_, r_), cx1 = std::min(x1 + r_, w_ - r_);
    std::vector<WindowModel> models;
    if (values && cx1 > cx0) models.resize(static_cast<size_t>(cx1 - cx0) * h_);
    for (int cx = cx0; values && cx < cx1; ++cx)
      for (int cy = r_; cy < h_ - r_; ++cy)
        if (processed_[at(cx, cy)] != 0)
          model(cx, cy, &models[static_cast<size_t>(cx - cx0) * h_ + cy]);
    // W of the row's pixel with each pixel after it (by columns) in the (4r+1)^2 square around
    // it, and whether a window holds both. The diagonal needs no other pixel: the window's
    // deviations from its mean sum to nothing, so its weights with the row's pixel sum to 1,
    // and L's diagonal sums 1 - W(p, p) over the windows.
    std::vector<double> weight(static_cast<size_t>(side_) * side_);
    std::vector<uint8_t> shared(weight.size());
    for (int px = x0; px < x1; ++px) {
      calc_check_cancel();
      for (int py = 0; py < h_; ++py) {
        const int32_t v = out->var_of[at(px, py)];
        if (v < 0) continue;
        std::fill(weight.begin(), weight.end(), 0.0);
        std::fill(shared.begin(), shared.end(), 0);
        double ip[3];
        for (int a = 0; a < c_; ++a) ip[a] = colour(a, px, py);
        const size_t centre = static_cast<size_t>(2 * r_) * side_ + 2 * r_;
        double diagonal = 0;
        for (int cx = std::max(px - r_, r_); cx <= std::min(px + r_, w_ - r_ - 1); ++cx)
          for (int cy = std::max(py - r_, r_); cy <= std::min(py + r_, h_ - r_ - 1); ++cy) {
            if (processed_[at(cx, cy)] == 0) continue;
            shared[centre] = 1;
            double t[3] = {0, 0, 0};  // cov^-1 (I_p - mu)
            const WindowModel* m =
                values ? &models[static_cast<size_t>(cx - cx0) * h_ + cy] : nullptr;
            if (values) {
              double self = 0;
              for (int a = 0; a < c_; ++a) {
                for (int b = 0; b < c_; ++b) t[a] += m->inv[a][b] * (ip[b] - m->mu[b]);
                self += (ip[a] - m->mu[a]) * t[a];
              }
              diagonal += (n_ - 1 - self) / n_;
            }
            // The pixels after p: the rest of p's column, then the columns to its right.
            for (int qx = std::max(cx - r_, px); qx <= cx + r_; ++qx)
              for (int qy = qx == px ? py + 1 : cy - r_; qy <= cy + r_; ++qy) {
                const size_t k = static_cast<size_t>(qx - px + 2 * r_) * side_ + (qy - py + 2 * r_);
                shared[k] = 1;
                if (!values) continue;
                double q = 0;
                for (int a = 0; a < c_; ++a) q += (colour(a, qx, qy) - m->mu[a]) * t[a];
                weight[k] += (1.0 + q) / n_;
              }
          }
        // The upper part of the square in column-major order: the diagonal, the rest of its
        // column below it, then the columns to the right.
        int64_t entry = out->row_start[v];
        if (!values) {
          int64_t length = 0;
          for (size_t k = centre; k < shared.size(); ++k) length += shared[k];
          out->row_start[v + 1] = length;  // summed into offsets afterwards
          continue;
        }
        out->col[entry] = v;
        out->val[entry++] = diagonal;
        for (size_t k = centre + 1; k < shared.size(); ++k) {
          if (shared[k] == 0) continue;
          const int qx = px + static_cast<int>(k / side_) - 2 * r_;
          const int qy = py + static_cast<int>(k % side_) - 2 * r_;
          out->col[entry] = out->var_of[at(qx, qy)];
          out->val[entry++] = -weight[k];
        }
      }
    }
  }

  const int w_, h_, r_, n_, c_;
  const double eps_;
  const int side_;
  uint8_t** planes_[3] = {nullptr, nullptr, nullptr};
  double unit_[256];
  std::vector<uint8_t> processed_, in_window_;
};

}  // namespace

void laplacian_rows(const TIFF_img* image, double** mask, double softness, int window_radius,
                    LaplacianRows* rows) {
  Builder(image, mask, softness, window_radius).build(rows);
}
