// Incremental matte calculation: one image (or calculation region), many sets of strokes.
//
// A MatteSession is made once per image and region, with the calculation's options. Each
// update() calculates the matte of a set of strokes with the automatic levels (auto_levels.h)
// and keeps what the next update can use again: the image pyramid, and every level's tiles
// with their factorisations, which dominate the cost of a calculation. A tile whose rows did
// not change keeps its factorisation; after a change of strokes far from most tiles an update
// costs a fraction of a calculation from scratch. (Where the strokes are still few, every
// stroke changes the uncertain band everywhere, and an update costs what a calculation does.)
//
// One algorithm: a calculation with automatic levels (calculate_matte(), solve_auto_levels())
// is a session's first update, and after any sequence of updates the matte is the one a new
// session makes from the same strokes, to the last bit: the tiles are cut the same way
// whatever came before (schwarz_solver.h), a kept factorisation serves only the very matrix it
// was made from, and every solve starts where a calculation from scratch starts.
//
// Progressive results: an update can deliver the matte of the level nearest to the size the
// matte is shown at as soon as that level is solved, before the full-size one (see
// MatteRequest); both come through a callback.
//
// Memory: what the session keeps between updates is bounded by settings.cache_bytes; an
// update drops what does not fit rather than fail: the factorisations of the coarsest levels
// first, where a change of strokes touches most tiles. During an update the session needs,
// besides its cache, the working memory of one calculation; a cancelled update releases that
// before it returns. drop_cache() releases the cache too.
//
// Threads. A session has no lock of its own:
// - Its member functions (the constructor and destructor included) are called by one thread at
//   a time. An editor runs update() on its worker thread and touches the session elsewhere only
//   after that update has returned (for instance once it has joined the worker).
// - While update() runs, other threads (and signal handlers) may call the update's
//   CalcControl: request_cancel() and progress(). Nothing else.
// - MatteRequest::deliver runs on the thread that called update(), inside it. It must not call
//   the session nor throw; it may call the control (request_cancel() included). The matte it
//   receives is valid during the call only: copy what is needed (e.g. into a buffer handed to
//   the main loop).
//
// Cancel and restart. A cancel request ends update() promptly with CALC_STATUS_CANCELLED
// (solver_status.h); no full-size matte is delivered then, and copy_matte() still gives the
// last complete one. What the cancelled update finished is kept: the pyramid and every tile
// factorised so far, so that an update that follows with changed strokes starts from there.
// To restart after the strokes changed during an update: request a cancel, wait for update()
// to return, and call update() with the new strokes and a new CalcControl (a control's cancel
// request is permanent).
#ifndef QUILLANE_MATTING_MATTE_SESSION_H
#define QUILLANE_MATTING_MATTE_SESSION_H

#include <cstdint>
#include <functional>
#include <memory>

#include "matting/auto_levels.h"
#include "matting/calc_control.h"
#include "matting/calc_options.h"
#include "numeric/tiff.h"

struct MatteSessionSettings {
  AutoLevelsParams levels;  // how the automatic levels work (the defaults are the measured ones)
  // Most memory kept from one update to the next: at 12 MP, the factorisations of the full-size
  // level (about 3.4 GB for GT04 enlarged with its scribbles), within 6 GB for everything.
  double cache_bytes = 3.6e9;
};

// A matte delivered during an update.
struct SessionMatte {
  int width, height;     // of this level (the full-size one: the session's image)
  int level, levels;     // 1 = coarsest of the levels the update uses ... levels = full size
  bool final;            // the full-size matte of the update, always its last delivery
  const uint8_t* alpha;  // width * height bytes, pixel (x, y) at alpha[y * width + x]: 0
                         // transparent .. 255 opaque, as calculate_matte() makes them. Owned by
                         // the session, valid during the call only.
};

// What an update delivers besides its status.
struct MatteRequest {
  // Size the matte is shown at, in screen pixels (the region's size times the zoom). When a
  // level coarser than full size is nearer to it (in pixel count, on a log scale) than the full
  // size, that level's matte is delivered as soon as it is solved. 0 x 0: only the full size.
  int display_width = 0, display_height = 0;
  // Receives the deliveries, the full-size matte last (final set). May be empty.
  std::function<void(const SessionMatte&)> deliver;
};

class MatteSession {
 public:
  // In image: the image (or calculation region) to matte, type 'c' or 'a' (colour) or 'g',
  // copied: the caller may release it at once. In opts: softness, threshold and window_radius
  // (levels, active levels and solver are not used: a session always uses automatic levels).
  // Throws std::bad_alloc when the copy does not fit in memory.
  MatteSession(const TIFF_img& image, const CalcOptions& opts,
               const MatteSessionSettings& settings = MatteSessionSettings());
  ~MatteSession();
  MatteSession(const MatteSession&) = delete;
  MatteSession& operator=(const MatteSession&) = delete;

  int width() const;
  int height() const;

  // Calculates the matte of the strokes mask, value (in: the image's height x width, [y][x];
  // mask 1.0 where a stroke constrains the pixel, value its target alpha 0..1; read during the
  // call only, not changed). In request: the deliveries wanted. In-out control (borrowed, may
  // be null): receives progress reports and may cancel (see the thread rules above).
  // Returns 0 (the full-size matte was delivered), CALC_STATUS_CANCELLED, or
  // UMFPACK_ERROR_out_of_memory (-1: nothing of the update stays allocated, and the cache is
  // dropped; an update that runs out of memory while factorisations are kept drops them and
  // tries once more before it gives up). Must not be called during another calculation on
  // the same thread.
  int update(double** mask, double** value, const MatteRequest& request = MatteRequest(),
             CalcControl* control = nullptr);

  // Out matte: the full-size matte of the last update that returned 0, as a 'g' image of the
  // session's size (planes owned by the caller, free_TIFF()). Returns false, leaving matte
  // untouched, when there is none yet. Throws std::bad_alloc when the copy does not fit.
  bool copy_matte(TIFF_img* matte) const;

  // Memory kept between updates now, bytes: factorisations, mattes and pyramid.
  double cached_bytes() const;

  // Tiles factorised and reused by the last update, over all its levels (for the benchmark).
  int tiles_factorised() const;
  int tiles_reused() const;

  // Releases everything kept between updates but the image and the last full-size matte: the
  // next update works as from scratch.
  void drop_cache();

  // For the engine's one-shot calculations (solve_auto_levels()): runs an update inside the
  // caller's calculation, whose AllocationScope and control are open on this thread, throwing
  // CalcCancelled and std::bad_alloc instead of returning a status. Arguments as update().
  void run(double** mask, double** value, const MatteRequest& request);

  // Hands the full-size matte of the last complete update to the caller as doubles 0..1 (a new
  // height x width array, free_img()); the session keeps no matte afterwards. Null when there
  // is none.
  double** take_alpha();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Solves the matte of image (in) with automatic levels: a new session's first update, inside
// the caller's calculation (its AllocationScope and control). In mask, value: the constraints
// (height x width, [y][x]; 1.0 = constrained, target alpha 0..1), not changed. softness,
// threshold and window_radius come from opts. Out *status: 0. Returns a new height x width
// alpha array (free_img), 0..1. Throws CalcCancelled and std::bad_alloc like every stage of a
// calculation.
double** solve_auto_levels(TIFF_img* image, double** mask, double** value, const CalcOptions& opts,
                           int* status, const AutoLevelsParams& params = AutoLevelsParams());

#endif
