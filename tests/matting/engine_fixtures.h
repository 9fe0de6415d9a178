// Helpers shared by the engine tests: owned images and arrays, random inputs, and an
// independent dense implementation of the matting equations to check the engine against.
#ifndef QUILLANE_TESTS_MATTING_ENGINE_FIXTURES_H
#define QUILLANE_TESTS_MATTING_ENGINE_FIXTURES_H

#include <cstdint>
#include <random>
#include <vector>

#include "numeric/allocate.h"
#include "numeric/qmatrix.h"
#include "numeric/tiff.h"

// A TIFF_img whose planes are released with the object.
struct OwnedImage {
  OwnedImage(int width, int height, char type) { get_TIFF(&img, height, width, type); }
  ~OwnedImage() { free_TIFF(&img); }
  OwnedImage(const OwnedImage&) = delete;
  OwnedImage& operator=(const OwnedImage&) = delete;
  uint8_t& at(int ch, int y, int x) {
    return img.TIFF_type == 'g' ? img.plane[y][x] : img.channels[ch][y][x];
  }
  TIFF_img img;
};

// A 2-D double array released with the object; adopts arrays the engine returns.
struct OwnedArray {
  OwnedArray(int width, int height) : a(get_init_arr_t<double>(width, height)) {}
  explicit OwnedArray(double** adopted) : a(adopted) {}
  ~OwnedArray() {
    if (a != nullptr) free_img_t(a);
  }
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  double** release() {
    double** out = a;
    a = nullptr;
    return out;
  }
  double* operator[](int y) const { return a[y]; }
  double** a;
};

// A QMatrix released with the object.
struct OwnedMatrix {
  explicit OwnedMatrix(QMatrix m) : M(m) {}
  ~OwnedMatrix() { Q_Destr(&M); }
  OwnedMatrix(const OwnedMatrix&) = delete;
  OwnedMatrix& operator=(const OwnedMatrix&) = delete;
  QMatrix M;
};

// Fills every channel of image with uniform random bytes.
void fill_random(OwnedImage* image, std::mt19937* rng);

// Fills image with a smooth two-colour scene (a soft disc on a gradient) plus noise, more like
// a photograph than pure noise.
void fill_scene(OwnedImage* image, std::mt19937* rng);

// Dense row-major n x n matrix.
struct Dense {
  explicit Dense(int n_) : n(n_), v(static_cast<size_t>(n_) * n_, 0.0) {}
  double& operator()(int i, int j) { return v[static_cast<size_t>(i) * n + j]; }
  double operator()(int i, int j) const { return v[static_cast<size_t>(i) * n + j]; }
  int n;
  std::vector<double> v;
};

// The matting Laplacian straight from its definition, written independently of the engine:
// for every (2r+1)^2 window with a free pixel, W_ij += (1 + (I_i - mu)^T (Sigma + eps/N Id)^-1
// (I_j - mu)) / N with the 3 x 3 inverse by cofactors; L = diag(row sums of W) - W.
// Variables are numbered 0-based column-major: x * height + y.
Dense reference_laplacian(const TIFF_img& image, double** mask, double eps, int r);

// Full symmetric dense copy of a symmetric row-wise QMatrix storing the upper triangle.
Dense to_dense(QMatrix* M);

// Solves A x = b by Gaussian elimination with partial pivoting (A and b are copied).
std::vector<double> dense_solve(Dense A, std::vector<double> b);

// Alpha from the reference equations: (L + 100 diag(mask)) alpha = 100 mask .* value,
// clamped to 0..1; returned [y][x] flattened row-major (y * width + x).
std::vector<double> reference_alpha(const TIFF_img& image, double** mask, double** value,
                                    double eps, int r);

#endif
