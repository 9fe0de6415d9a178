#include "matting/matte_session.h"

#include <umfpack.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "matting/calc_plan.h"
#include "matting/conjugate_gradients.h"
#include "matting/constrained_system.h"
#include "matting/large_pages.h"
#include "matting/pyramid.h"
#include "matting/resample.h"
#include "matting/schwarz_solver.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"
#include "numeric/errhandl.h"

namespace {

// A scalar field [y][x] held in a vector with a row table. What a session keeps lives in
// vectors, not in the engine's allocators: a failing calculation's allocation scope releases
// those, and the session would be left with dangling arrays.
class Field {
 public:
  void reset(int width, int height) {
    width_ = width;
    height_ = height;
    data_.assign(static_cast<size_t>(width) * height, 0.0);
    rows_.resize(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows_[y] = data_.data() + static_cast<size_t>(y) * width;
  }
  void clear() {
    std::vector<double>().swap(data_);
    std::vector<double*>().swap(rows_);
    width_ = height_ = 0;
  }
  bool empty() const { return data_.empty(); }
  double** rows() { return rows_.data(); }
  int width() const { return width_; }
  int height() const { return height_; }
  double bytes() const { return 8.0 * data_.size() + 8.0 * rows_.size(); }

 private:
  int width_ = 0, height_ = 0;
  std::vector<double> data_;
  std::vector<double*> rows_;
};

// An image held the same way, with a TIFF_img view ('c' or 'g') for the engine's functions.
class HeldImage {
 public:
  void copy_from(const TIFF_img& image) {
    const int w = image.width, h = image.height, planes = channel_count(image);
    const size_t n = static_cast<size_t>(w) * h;
    data_.resize(n * planes);
    rows_.resize(static_cast<size_t>(h) * planes);
    for (int c = 0; c < planes; ++c) {
      uint8_t** src = planes == 3 ? image.channels[c] : image.plane;
      for (int y = 0; y < h; ++y) {
        uint8_t* row = data_.data() + c * n + static_cast<size_t>(y) * w;
        std::copy(src[y], src[y] + w, row);
        rows_[static_cast<size_t>(c) * h + y] = row;
      }
    }
    for (int c = 0; c < 3; ++c) channels_[c] = rows_.data() + static_cast<size_t>(c % planes) * h;
    view_ = TIFF_img();
    view_.height = h;
    view_.width = w;
    view_.TIFF_type = planes == 3 ? 'c' : 'g';
    view_.compress_type = 'u';
    view_.plane = rows_.data();
    view_.channels = channels_;
  }
  const TIFF_img* view() const { return &view_; }
  double bytes() const { return data_.size() + 8.0 * rows_.size(); }

 private:
  std::vector<uint8_t> data_;
  std::vector<uint8_t*> rows_;
  uint8_t** channels_[3] = {nullptr, nullptr, nullptr};
  TIFF_img view_ = TIFF_img();
};

// A level's strokes during an update: the caller's arrays at full size, halved ones below.
struct Strokes {
  double** mask;
  double** value;
  Field own_mask, own_value;
};

// Bytes 0..255 of a matte 0..1, as calculate_matte() makes them (NaN and above 1: 255).
void to_bytes(double** alpha, int width, int height, std::vector<uint8_t>* out) {
  out->resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double v = alpha[y][x];
      const double s = v > 1.0 || std::isnan(v) ? 255.0 : v < 0.0 ? 0.0 : v * 255.0;
      (*out)[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(static_cast<int>(s));
    }
}

// One level of the pyramid and what the session keeps of it.
struct SessionLevel {
  HeldImage image;
  Field alpha;  // this level's matte in the last update that solved it
  TileFactorCache tiles;

  double bytes() const { return image.bytes() + alpha.bytes() + tiles.bytes(); }
};

}  // namespace

struct MatteSession::Impl {
  CalcOptions opts;
  MatteSessionSettings settings;
  std::vector<std::unique_ptr<SessionLevel>> levels;  // [0]: full size
  int factorised = 0, reused = 0;
  std::vector<uint8_t> bytes;  // a delivery's matte

  // Level k, its image made from level k - 1 when it is not there yet.
  SessionLevel& level(size_t k) {
    while (levels.size() <= k) {
      TIFF_img small = downSmpIm(levels.back()->image.view(), kFilts);
      std::unique_ptr<SessionLevel> added(new SessionLevel);
      added->image.copy_from(small);
      free_TIFF(&small);
      levels.push_back(std::move(added));
    }
    return *levels[k];
  }

  double cached_bytes() const {
    double sum = 0;
    for (const auto& l : levels) sum += l->bytes();
    return sum;
  }

  // Drops what exceeds the budget, keeping level keep's solution (the next level needs it) and
  // the full-size matte: factorisations from the coarsest level up, then the other mattes.
  void enforce_budget(size_t keep) {
    const double budget = settings.cache_bytes;
    for (size_t k = levels.size(); k-- > 0 && cached_bytes() > budget;) levels[k]->tiles.clear();
    for (size_t k = levels.size(); k-- > 0 && cached_bytes() > budget;)
      if (k != keep && k != 0) levels[k]->alpha.clear();
  }

  void deliver(const MatteRequest& request, SessionLevel& l, int level, int count, bool final) {
    if (!request.deliver) return;
    to_bytes(l.alpha.rows(), l.alpha.width(), l.alpha.height(), &bytes);
    request.deliver(
        SessionMatte{l.alpha.width(), l.alpha.height(), level, count, final, bytes.data()});
  }

  void solve(SessionLevel& l, double** mask, double** value, double** up,
             const SchwarzOptions& options);
};

// Solves level l's system with the constraints mask, value, starting from up (the matte
// carried up to the level; null at the coarsest level: from 0), and keeps its matte.
void MatteSession::Impl::solve(SessionLevel& l, double** mask, double** value, double** up,
                               const SchwarzOptions& options) {
  const TIFF_img& image = *l.image.view();
  LevelSystem system;
  matte_stage_begin(MATTE_STAGE_LAPLACIAN);
  build_level_system(&image, mask, value, opts.softness, opts.window_radius, &system);
  matte_stage_end(MATTE_STAGE_LAPLACIAN);
  std::vector<double> x = level_system_values(system, up);
  schwarz_solve(system, &x, options, &l.tiles);
  factorised += l.tiles.factorised();
  reused += l.tiles.reused();
  Field alpha;  // made aside, so that a failure leaves the level's last matte whole
  alpha.reset(image.width, image.height);
  level_system_alpha(system, x, alpha.rows());
  std::swap(l.alpha, alpha);
}

MatteSession::MatteSession(const TIFF_img& image, const CalcOptions& opts,
                           const MatteSessionSettings& settings)
    : impl_(new Impl) {
  use_large_pages_in_suitesparse();
  impl_->opts = opts;
  impl_->settings = settings;
  impl_->levels.push_back(std::make_unique<SessionLevel>());
  impl_->levels[0]->image.copy_from(image);
}

MatteSession::~MatteSession() = default;

int MatteSession::width() const {
  return impl_->levels[0]->image.view()->width;
}

int MatteSession::height() const {
  return impl_->levels[0]->image.view()->height;
}

void MatteSession::run(double** mask, double** value, const MatteRequest& request) {
  Impl& m = *impl_;
  const AutoLevelsParams& p = m.settings.levels;
  const int w = width(), h = height();
  const int window = 2 * std::max(m.opts.window_radius, 1) + 1;
  m.factorised = m.reused = 0;
  const int planned =
      auto_levels_count(w, h, count_unknown_pixels(mask, w, h), m.opts.window_radius, p);

  // The strokes of every level used, finest first. A coarser level is used only while it
  // keeps the strokes.
  std::vector<std::unique_ptr<Strokes>> strokes;
  strokes.push_back(std::unique_ptr<Strokes>(new Strokes{mask, value, Field(), Field()}));
  StrokeCount kept = count_strokes(mask, value, w, h);
  for (int k = 1; k < planned; ++k) {
    matte_stage_begin(MATTE_STAGE_RESAMPLING);
    const TIFF_img& image = *m.level(static_cast<size_t>(k)).image.view();
    std::unique_ptr<Strokes> coarse(new Strokes{nullptr, nullptr, Field(), Field()});
    coarse->own_mask.reset(image.width, image.height);
    coarse->own_value.reset(image.width, image.height);
    coarse->mask = coarse->own_mask.rows();
    coarse->value = coarse->own_value.rows();
    halve_strokes(strokes.back()->mask, strokes.back()->value, coarse->mask, coarse->value,
                  image.width, image.height);
    matte_stage_end(MATTE_STAGE_RESAMPLING);
    const StrokeCount c = count_strokes(coarse->mask, coarse->value, image.width, image.height);
    if (!coarse_strokes_usable(kept, c)) break;
    kept = c;
    strokes.push_back(std::move(coarse));
  }
  const int count = static_cast<int>(strokes.size());

  // The level delivered early: the one nearest to the display size, when nearer than the full.
  int preview = -1;
  const double shown = static_cast<double>(request.display_width) * request.display_height;
  if (shown > 0) {
    double best = std::fabs(std::log(static_cast<double>(w) * h / shown));
    for (int k = 1; k < count; ++k) {
      const TIFF_img& image = *m.levels[k]->image.view();
      const double d = std::fabs(std::log(static_cast<double>(image.width) * image.height / shown));
      if (d < best) {
        best = d;
        preview = k;
      }
    }
  }

  // The coarsest level has no starting point: it is solved directly, in one tile.
  SchwarzOptions direct = p.intermediate;
  direct.tile_variables = INT64_MAX;
  calc_report_level(1, count);
  SessionLevel& coarsest = *m.levels[count - 1];
  m.solve(coarsest, strokes[count - 1]->mask, strokes[count - 1]->value, nullptr, direct);
  if (count - 1 == preview) m.deliver(request, coarsest, 1, count, false);
  m.enforce_budget(static_cast<size_t>(count - 1));

  for (int k = count - 2; k >= 0; --k) {
    SessionLevel& coarse = *m.levels[k + 1];
    SessionLevel& fine = *m.levels[k];
    const int fw = fine.image.view()->width, fh = fine.image.view()->height;
    const bool last = k == 0;
    calc_report_level(count - k, count);
    matte_stage_begin(MATTE_STAGE_RESAMPLING);
    double** up = upSampleAlphaUsingImg(coarse.alpha.rows(), coarse.image.view(), fine.image.view(),
                                        m.opts.softness, m.opts.window_radius);
    double** band_mask = get_img_t<double>(fw, fh);
    double** band_value = get_img_t<double>(fw, fh);
    const double threshold = std::max(m.opts.threshold, last ? p.final_threshold : p.threshold);
    const int widen = static_cast<int>(window * (last ? p.final_widen : p.widen));
    pin_sure_pixels(strokes[k]->mask, strokes[k]->value, fw, fh, up, threshold, widen, band_mask,
                    band_value);
    matte_stage_end(MATTE_STAGE_RESAMPLING);
    m.solve(fine, band_mask, band_value, up, last ? p.final_level : p.intermediate);
    free_img_t(up);
    free_img_t(band_mask);
    free_img_t(band_value);
    if (k == preview) m.deliver(request, fine, count - k, count, false);
    m.enforce_budget(static_cast<size_t>(k));
  }
  m.deliver(request, *m.levels[0], count, count, true);
}

int MatteSession::update(double** mask, double** value, const MatteRequest& request,
                         CalcControl* control) {
  // Out of memory with factorisations kept, the update is tried once more without them: the
  // cache gives way before the calculation does.
  for (bool had_cache = true;; had_cache = false) {
    // An error left on this thread's register by an earlier run would silence the containers.
    LASClearError();
    try {
      // Everything this update allocates with the engine's allocators is released if it
      // stops half-way; what the session keeps lives in its own containers.
      AllocationScope scope;
      CalcControlBinding binding(control);
      run(mask, value, request);
      return 0;
    } catch (const std::bad_alloc&) {
      double tiles = 0;
      for (const auto& l : impl_->levels) tiles += l->tiles.bytes();
      drop_cache();
      if (!had_cache || tiles == 0) return UMFPACK_ERROR_out_of_memory;
    } catch (const CalcCancelled&) {
      return CALC_STATUS_CANCELLED;
    }
  }
}

bool MatteSession::copy_matte(TIFF_img* matte) const {
  Field& alpha = impl_->levels[0]->alpha;
  if (alpha.empty()) return false;
  std::vector<uint8_t> bytes;
  to_bytes(alpha.rows(), alpha.width(), alpha.height(), &bytes);
  TIFF_img out;
  if (in_allocation_scope()) {
    get_TIFF(&out, alpha.height(), alpha.width(), 'g');
  } else {
    AllocationScope scope;  // a lack of memory throws instead of ending the program
    get_TIFF(&out, alpha.height(), alpha.width(), 'g');
  }
  std::copy(bytes.begin(), bytes.end(), out.plane[0]);
  *matte = out;
  return true;
}

double MatteSession::cached_bytes() const {
  return impl_->cached_bytes();
}

int MatteSession::tiles_factorised() const {
  return impl_->factorised;
}

int MatteSession::tiles_reused() const {
  return impl_->reused;
}

void MatteSession::drop_cache() {
  for (size_t k = 0; k < impl_->levels.size(); ++k) {
    SessionLevel& l = *impl_->levels[k];
    l.tiles.clear();
    if (k > 0) l.alpha.clear();
  }
  impl_->levels.resize(1);
}

double** MatteSession::take_alpha() {
  Field& alpha = impl_->levels[0]->alpha;
  if (alpha.empty()) return nullptr;
  double** out = get_img_t<double>(alpha.width(), alpha.height());
  for (int y = 0; y < alpha.height(); ++y)
    std::copy(alpha.rows()[y], alpha.rows()[y] + alpha.width(), out[y]);
  alpha.clear();
  return out;
}

double** solve_auto_levels(TIFF_img* image, double** mask, double** value, const CalcOptions& opts,
                           int* status, const AutoLevelsParams& params) {
  MatteSessionSettings settings;
  settings.levels = params;
  settings.cache_bytes = 0;  // nothing is kept: a calculation's peak memory stays its own
  MatteSession session(*image, opts, settings);
  session.run(mask, value, MatteRequest());
  *status = 0;
  return session.take_alpha();
}
