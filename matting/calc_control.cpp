#include "matting/calc_control.h"

#include <cmath>
#include <cstdio>

namespace {

thread_local CalcControl* bound = nullptr;
thread_local MatteStageObserver* current_observer = nullptr;

// Packing of CalcProgress in one word: level and levels 16 bits each, stage 8 bits, fraction
// in 1/10000 (0xffff = unknown) 16 bits, and bit 63 set once anything was reported.
const uint64_t kReported = uint64_t(1) << 63;
const uint64_t kUnknownFraction = 0xffff;

uint64_t pack(const CalcProgress& p) {
  const uint64_t f = p.fraction < 0 || std::isnan(p.fraction)
                         ? kUnknownFraction
                         : static_cast<uint64_t>(std::lround(std::fmin(p.fraction, 1.0) * 10000));
  return kReported | (uint64_t(p.level) & 0xffff) | (uint64_t(p.levels) & 0xffff) << 16 |
         (uint64_t(p.stage) & 0xff) << 32 | f << 40;
}

}  // namespace

CalcProgress CalcControl::progress() const {
  const uint64_t s = state_.load(std::memory_order_relaxed);
  CalcProgress p = {0, 0, MATTE_STAGE_LAPLACIAN, -1};
  if ((s & kReported) == 0) return p;
  p.level = static_cast<int>(s & 0xffff);
  p.levels = static_cast<int>(s >> 16 & 0xffff);
  p.stage = static_cast<MatteStage>(s >> 32 & 0xff);
  const uint64_t f = s >> 40 & 0xffff;
  p.fraction = f == kUnknownFraction ? -1 : f / 10000.0;
  return p;
}

void CalcControl::report(int level, int levels, MatteStage stage, double fraction) {
  CalcProgress p = progress();
  if (level > 0) p.level = level;
  if (levels > 0) p.levels = levels;
  p.stage = stage;
  p.fraction = fraction;
  state_.store(pack(p), std::memory_order_relaxed);
}

CalcControlBinding::CalcControlBinding(CalcControl* control) : previous_(bound) {
  bound = control;
}

CalcControlBinding::~CalcControlBinding() {
  bound = previous_;
}

CalcControl* calc_control() {
  return bound;
}

void calc_report_level(int level, int levels) {
  if (bound == nullptr) return;
  bound->report(level, levels, bound->progress().stage, -1);
}

void calc_report_stage(MatteStage stage, double fraction) {
  if (bound == nullptr) return;
  bound->report(0, 0, stage, fraction);
  calc_check_cancel();
}

void calc_report_fraction(double fraction) {
  if (bound == nullptr) return;
  bound->report(0, 0, bound->progress().stage, fraction);
  calc_check_cancel();
}

void matte_stage_begin(MatteStage stage) {
  if (MatteStageObserver* o = current_observer) o->stage_begin(stage);
  calc_report_stage(stage);
}

void matte_stage_end(MatteStage stage) {
  if (MatteStageObserver* o = current_observer) o->stage_end(stage);
  calc_check_cancel();
}

MatteStageObserver* set_matte_stage_observer(MatteStageObserver* observer) {
  MatteStageObserver* previous = current_observer;
  current_observer = observer;
  return previous;
}

MatteStageObserver* matte_stage_observer() {
  return current_observer;
}

std::string calc_progress_text(const CalcProgress& p) {
  if (p.level <= 0) return "";
  std::string text;
  char buf[64];
  if (p.levels > 1) {
    std::snprintf(buf, sizeof buf, "level %d of %d \u00b7 ", p.level, p.levels);
    text = buf;
  }
  text += matte_stage_label(p.stage);
  if (p.fraction >= 0) {
    std::snprintf(buf, sizeof buf, " \u00b7 %d %%", static_cast<int>(p.fraction * 100));
    text += buf;
  }
  return text;
}
