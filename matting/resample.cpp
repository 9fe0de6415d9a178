// Moving data between neighbouring pyramid levels: reduction of images and constraint
// masks, and the image-guided expansion of a coarse matte.
#include "matting/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "matting/calc_control.h"
#include "matting/parallel.h"
#include "matting/pyramid.h"
#include "numeric/Choleski.h"
#include "numeric/allocate.h"
#include "numeric/matrixutil.h"

namespace {

const double kReduce1[3] = {0.25, 0.5, 0.25};
const double kReduce2[5] = {0.0625, 0.25, 0.375, 0.25, 0.0625};
const double kExpand1[3] = {0.5, 1.0, 0.5};
const double kExpand2[5] = {0.125, 0.5, 0.75, 0.5, 0.125};

// Returns a new (2*filts+1)^2 kernel K[i][j] = k[i] * k[j] (free_img); filts 1 takes the
// 3-tap kernel, anything else the 5-tap one.
double** outer_kernel(int filts, const double* k3, const double* k5) {
  const double* k = filts == 1 ? k3 : k5;
  const int size = filts == 1 ? 3 : 5;
  double** K = get_img_t<double>(size, size);
  for (int i = 0; i < size; ++i)
    for (int j = 0; j < size; ++j) K[i][j] = k[i] * k[j];
  return K;
}

// Byte planes of the colour channels the engine reads (3 for 'c'/'a', else the grey plane).
int image_planes(const TIFF_img* image, uint8_t** planes[3]) {
  const int count = channel_count(*image);
  for (int ch = 0; ch < count; ++ch) planes[ch] = count == 3 ? image->channels[ch] : image->plane;
  return count;
}

// Filtered value around lattice pixel (j, i): dx outer, dy inner, as the reduction requires.
template <typename T>
double filter_at(T** src, double** K, int filts, int j, int i) {
  double sum = 0.0;
  for (int dx = -filts; dx <= filts; ++dx)
    for (int dy = -filts; dy <= filts; ++dy) sum += src[j + dy][i + dx] * K[dy + filts][dx + filts];
  return sum;
}

[[noreturn]] void die(const char* message, int status) {
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(status);
}

}  // namespace

// In image (read only); filts 1 or 2 (above 2 the process ends with status -1). Returns a
// new image by value, 'c' for 3-channel sources and 'g' otherwise, each side reduced by the
// level-size rule; the caller releases its planes with free_TIFF(). Sides below
// 2*filts + 1 give no valid level: the driver never asks for one.
TIFF_img downSmpIm(const TIFF_img* image, int filts) {
  if (filts > 2) die("\nNo filter matrix set for dimensions over 5x5 i.e. > than filts 2!", -1);
  uint8_t** src[3];
  const int P = image_planes(image, src);
  const int width = image->width, height = image->height;
  TIFF_img out;
  get_TIFF(&out, level_side(height, filts), level_side(width, filts), P == 3 ? 'c' : 'g');
  double** K = outer_kernel(filts, kReduce1, kReduce2);
  for (int ch = 0; ch < P; ++ch) {
    uint8_t** dst = P == 3 ? out.channels[ch] : out.plane;
    for (int i = filts, oc = 0; i < width - filts; i += 2, ++oc) {
      calc_check_cancel();
      for (int j = filts, orow = 0; j < height - filts; j += 2, ++orow) {
        const int t = static_cast<int>(filter_at(src[ch], K, filts, j, i));
        dst[orow][oc] = static_cast<uint8_t>(t <= 0 ? 0 : t > 255 ? 255 : t);
      }
    }
  }
  free_img_t(K);
  return out;
}

// In arr (height x width); filts 1 or 2 (not checked). Returns a new zero-initialised array
// of the reduced size (free_img) holding 1.0 where the filtered value is >= 0.5, else 0.0.
double** downSmpArr(double** arr, int height, int width, int filts) {
  double** out = get_init_arr_t<double>(level_side(width, filts), level_side(height, filts));
  double** K = outer_kernel(filts, kReduce1, kReduce2);
  for (int i = filts, oc = 0; i < width - filts; i += 2, ++oc)
    for (int j = filts, orow = 0; j < height - filts; j += 2, ++orow)
      out[orow][oc] = filter_at(arr, K, filts, j, i) >= 0.5 ? 1.0 : 0.0;
  free_img_t(K);
  return out;
}

// In alpha (image-sized), image, eps, win. Returns a new field [height][width][P + 1]
// (multifree(, 3)) of the regularised least-squares fit alpha ~ sum_c a_c * I_c / 255 + b
// over every window centred at an interior pixel; border pixels copy the nearest interior
// fit. The image needs at least 2*win + 1 rows and columns (the driver guarantees it).
// A failing Cholesky step ends the process with status 1.
double*** getLinearCoeff(double** alpha, const TIFF_img* image, double eps, int win) {
  // A negative radius would put window pixels outside the image; it means a single pixel.
  if (win < 0) win = 0;
  uint8_t** I[3];
  const int P = image_planes(image, I);
  const int width = image->width, height = image->height;
  const int n = (2 * win + 1) * (2 * win + 1), m = P + 1, rows = n + P;
  const double s = std::sqrt(eps);
  double*** coeff = static_cast<double***>(multialloc_init(sizeof(double), 3, height, width, m));

  // The columns are shared among the cores; each worker keeps the small matrices of the fit,
  // the same size for every pixel.
  struct Fit {
    std::vector<double> A, At, N, t, v;
  };
  const int workers = worker_count();
  std::vector<Fit> fits(static_cast<size_t>(workers));
  for (Fit& f : fits) {
    f.A.resize(static_cast<size_t>(rows * m));
    f.At.resize(static_cast<size_t>(rows * m));
    f.N.resize(static_cast<size_t>(m * m));
    f.t.resize(static_cast<size_t>(rows));
    f.v.resize(static_cast<size_t>(m));
  }
  const int columns = width - 2 * win;
  for_each_parallel(static_cast<size_t>(std::max(columns, 0)), workers, [&](size_t i, int worker) {
    const int x = win + static_cast<int>(i);
    double* A = fits[worker].A.data();
    double* At = fits[worker].At.data();
    double* N = fits[worker].N.data();
    double* t = fits[worker].t.data();
    double* v = fits[worker].v.data();
    for (int y = win; y < height - win; ++y) {
      for (int k = 0; k < rows * m; ++k) A[k] = 0.0;
      for (int k = 0; k < rows; ++k) t[k] = 0.0;
      int k = 0;
      for (int dx = -win; dx <= win; ++dx)
        for (int dy = -win; dy <= win; ++dy) t[k++] = alpha[y + dy][x + dx];
      for (int c = 0; c < P; ++c) {
        k = 0;
        for (int dx = -win; dx <= win; ++dx)
          for (int dy = -win; dy <= win; ++dy, ++k) {
            A[k * m + c] = I[c][y + dy][x + dx] / 255.0;
            if (c == 0) A[k * m + P] = 1.0;
          }
      }
      for (int c = 0; c < P; ++c) A[(n + c) * m + c] = s;

      Transpose_Matrix(At, A, rows, m);
      Self_Transpose_Multiply(N, A, rows, m);
      Multiply_Matrices(v, At, m, rows, t, 1);
      if (Choleski_LU_Decomposition(N, m) < 0)
        die("\nFailure - The matrix A is not positive definite "
            "symmetric (within working accuracy).\n",
            1);
      if (Choleski_LU_Solve(N, v, coeff[y][x], m) < 0)
        die("\nFailure - The matrix L is singular.\n", 1);
    }
  });

  auto copy = [m](double* dst, const double* src) {
    for (int k = 0; k < m; ++k) dst[k] = src[k];
  };
  for (int i = 0; i < win; ++i)
    for (int x = win; x < width - win; ++x) {
      copy(coeff[i][x], coeff[win][x]);
      copy(coeff[height - win + i][x], coeff[height - win - 1][x]);
    }
  for (int j = 0; j < win; ++j)
    for (int y = 0; y < height; ++y) {
      copy(coeff[y][j], coeff[y][win]);
      copy(coeff[y][width - win + j], coeff[y][width - win - 1]);
    }
  return coeff;
}

// In field in [height][width][depth]; out size new_height x new_width; filts 1 or 2.
// Returns a new field [new_height][new_width][depth] (multifree(, 3)): zero insertion on the
// lattice (filts + 2r, filts + 2c), border replication along the lattice, then the expand
// filter. The padded copy lets the convolution run without bounds tests.
double*** upSmpArr(double*** in, int height, int width, int depth, int new_height, int new_width,
                   int filts) {
  double** K = outer_kernel(filts, kExpand1, kExpand2);
  const int ph = new_height + 2 * filts, pw = new_width + 2 * filts;
  double*** pad = static_cast<double***>(multialloc_init(sizeof(double), 3, ph, pw, depth));
  double*** out =
      static_cast<double***>(multialloc_init(sizeof(double), 3, new_height, new_width, depth));
  const int o = (new_height - 2 * height + 1) / 2;
  const int top = filts + o, left = filts + o;
  const int bottom = top + 2 * (height - 1), right = left + 2 * (width - 1);
  auto inside = [ph, pw](int r, int c) { return r >= 0 && r < ph && c >= 0 && c < pw; };

  for (int k = 0; k < depth; ++k) {
    // Sizes that did not come from one reduction could put lattice positions outside the
    // padded field; such positions are dropped rather than written out of bounds.
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c)
        if (inside(top + 2 * r, left + 2 * c)) pad[top + 2 * r][left + 2 * c][k] = in[r][c][k];

    int leftmost = 0;
    for (int col = left - 2; col >= 0; col -= 2) {
      for (int row = top; row <= bottom; row += 2)
        if (inside(row, col) && inside(row, left)) pad[row][col][k] = pad[row][left][k];
      leftmost = col;
    }
    for (int col = right + 2; col < pw; col += 2)
      for (int row = top; row <= bottom; row += 2)
        if (inside(row, col) && inside(row, right)) pad[row][col][k] = pad[row][right][k];
    for (int row = top - 2; row >= 0; row -= 2)
      for (int col = leftmost; col < pw; col += 2)
        if (inside(row, col) && inside(top, col)) pad[row][col][k] = pad[top][col][k];
    for (int row = bottom + 2; row < ph; row += 2)
      for (int col = leftmost; col < pw; col += 2)
        if (inside(row, col) && inside(bottom, col)) pad[row][col][k] = pad[bottom][col][k];
  }
  // Every channel of a pixel in one pass over the padded field, the rows shared among the
  // cores; each sum is taken in the same order as ever.
  for_each_parallel(static_cast<size_t>((new_height + 31) / 32), worker_count(),
                    [&](size_t block, int) {
                      const int y0 = static_cast<int>(block) * 32;
                      const int y1 = std::min(y0 + 32, new_height);
                      for (int Y = y0; Y < y1; ++Y)
                        for (int X = 0; X < new_width; ++X)
                          for (int k = 0; k < depth; ++k) {
                            double sum = 0.0;
                            for (int dx = -filts; dx <= filts; ++dx)
                              for (int dy = -filts; dy <= filts; ++dy)
                                sum += K[dy + filts][dx + filts] *
                                       pad[Y + filts + dy][X + filts + dx][k];
                            out[Y][X][k] = sum;
                          }
                    });
  free_img_t(K);
  multifree(pad, 3);
  return out;
}

// In alpha (coarse size), coarse and fine images, eps, win. Returns a new fine-size array
// (free_img): the coarse linear models expanded to the fine level and evaluated with the
// fine pixels; not clamped.
double** upSampleAlphaUsingImg(double** alpha, const TIFF_img* coarse, const TIFF_img* fine,
                               double eps, int win) {
  const int P = channel_count(*coarse);
  double*** coeff = getLinearCoeff(alpha, coarse, eps, win);
  double*** up =
      upSmpArr(coeff, coarse->height, coarse->width, P + 1, fine->height, fine->width, 2);
  multifree(coeff, 3);

  uint8_t** I[3];
  const int fine_planes = image_planes(fine, I);
  double** out = get_init_arr_t<double>(fine->width, fine->height);
  for_each_parallel(static_cast<size_t>(fine->height), worker_count(), [&](size_t row, int) {
    const int Y = static_cast<int>(row);
    for (int X = 0; X < fine->width; ++X) {
      const double* a = up[Y][X];
      double v = a[P];
      for (int ch = 0; ch < P; ++ch) {
        // A grey fine image under a colour coarse one reads its one plane for each slope.
        const int plane = ch < fine_planes ? ch : 0;
        v += I[plane][Y][X] * a[ch] / 255.0;
      }
      out[Y][X] = v;
    }
  });
  multifree(up, 3);
  return out;
}
