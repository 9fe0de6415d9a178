/* libquillane: alpha mattes from strokes or a trimap, for C, C++ and anything that calls C.
 *
 * Give an image, a stroke layer of the same size (opaque white over what is surely foreground,
 * opaque black over what is surely background, another opaque colour where a partial
 * transparency should stay, anything not fully opaque unpainted) or a grey trimap, and get the
 * opacity of every pixel, 0 transparent ... 255 opaque, and optionally the image with clean edge
 * colours. It is the engine of the Quillane editor and of quillane-matte: the same strokes and
 * options give the same matte, byte for byte.
 *
 *   quillane_options options;
 *   quillane_options_init(&options);
 *   options.auto_levels = 1;
 *   quillane_context* q = quillane_context_new();
 *   int status = quillane_matte(q, &options, &image, &strokes, alpha, width, NULL, 0);
 *   if (status < 0) fprintf(stderr, "%s\n", quillane_context_message(q));
 *   quillane_context_free(q);
 *
 * Buffers are 8 bits per channel, rows top to bottom; pixel (x, y), 0-based, of a buffer with
 * stride s and c channels starts at byte y * s + x * c. Colours are not premultiplied.
 *
 * Threads: every function may be called from any thread. A context runs one calculation at a
 * time; separate contexts calculate side by side. The engine writes a short trace to standard
 * output (a line per pyramid level above the coarsest and a bell character at the end of a
 * calculation).
 *
 * Link with `pkg-config --cflags --libs quillane`. */
#ifndef QUILLANE_QUILLANE_H
#define QUILLANE_QUILLANE_H

#include <stddef.h>

#if defined(__GNUC__)
#define QUILLANE_API __attribute__((visibility("default")))
#else
#define QUILLANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status of a call. 0 and positive: a matte was written; negative: nothing was written. */
enum {
  QUILLANE_OK = 0,
  QUILLANE_WARNING = 1,                /* written, but the solver warns it may be wrong */
  QUILLANE_ERROR_ARGUMENT = -1,        /* null pointer, sizes, strides or channels unusable */
  QUILLANE_ERROR_OPTION = -2,          /* an option outside its range */
  QUILLANE_ERROR_REGION = -3,          /* region outside the image or smaller than a window */
  QUILLANE_ERROR_NO_STROKES = -4,      /* neither background nor foreground strokes */
  QUILLANE_ERROR_NO_BACKGROUND = -5,   /* no opaque black stroke (trimap: no 0) */
  QUILLANE_ERROR_NO_FOREGROUND = -6,   /* no stroke of another colour (trimap: no 255) */
  QUILLANE_ERROR_NOTHING_UNKNOWN = -7, /* every pixel is painted: nothing to calculate */
  QUILLANE_ERROR_SOLVER = -8,          /* the sparse solver failed */
  QUILLANE_ERROR_OUT_OF_MEMORY = -9,
  QUILLANE_ERROR_CANCELLED = -10, /* quillane_cancel() stopped it */
  QUILLANE_ERROR_BUSY = -11       /* the context is calculating on another thread */
};

/* How a one-level calculation solves its system (see quillane_options.solver). */
enum { QUILLANE_SOLVER_DIRECT = 0, QUILLANE_SOLVER_AUTO = 1, QUILLANE_SOLVER_ITERATIVE = 2 };

/* The options of one calculation, with the ranges of the editor's options dialog. Fill it
 * with quillane_options_init() first, then change the fields you need: later versions add
 * fields at the end, and a caller built against an older header keeps working. */
typedef struct quillane_options {
  size_t size;       /* set by quillane_options_init(): the caller's sizeof */
  int trimap;        /* 0: strokes is a stroke layer; 1: a grey trimap (0 background,
                        255 foreground, other levels unknown; its alpha is not read) */
  int auto_levels;   /* 1: the calculation chooses levels and active_levels itself */
  int levels;        /* pyramid levels, 1 (no down-scaling) ... a tenth of the smaller
                        side of the region */
  int active_levels; /* levels solved, from the coarsest: 1 ... levels */
  double softness;   /* 1e-7 ... 1e-5; larger gives softer edges */
  double threshold;  /* 0 ... 0.5: trimap threshold of the finer levels */
  int window_radius; /* 1 ... 5 */
  int solver;        /* QUILLANE_SOLVER_*, used by one-level calculations */
  int region_x;      /* calculation region in image pixels; alpha is 0 outside it. */
  int region_y;      /* A region reaching past the image is cut at its edges. */
  int region_width;  /* 0: the whole image */
  int region_height; /* 0: the whole image */
} quillane_options;

/* Out options: the defaults (those of quillane-matte and the editor: levels 1, active levels
 * 1, softness 1e-7, threshold 0.02, window radius 1, automatic levels off, direct solver, a
 * stroke layer, the whole image). size: the caller's sizeof(quillane_options); fields beyond
 * it are neither written nor read. Use the macro. */
QUILLANE_API void quillane_options_init_sized(quillane_options* options, size_t size);
#define quillane_options_init(options) quillane_options_init_sized((options), sizeof *(options))

/* An 8-bit image handed to quillane_matte(). channels: 1 grey, 2 grey and alpha, 3 RGB,
 * 4 RGBA. stride: bytes from one row to the next, at least width * channels. */
typedef struct quillane_pixels {
  const unsigned char* data;
  int width;
  int height;
  int stride;
  int channels;
} quillane_pixels;

/* Where a running calculation is. */
typedef struct quillane_progress {
  int level;        /* level worked on, 1 = coarsest; 0 before the first report */
  int levels;       /* levels the calculation works on */
  double fraction;  /* 0 ... 1 of the current stage, or -1 when not known */
  const char* text; /* the same for a person, UTF-8: "level 2 of 3 · solving · 40 %"; empty
                       before the first report; valid during the callback only */
} quillane_progress;

/* Receives progress (in, borrowed for the call) and user_data as given to
 * quillane_context_set_progress(). Runs on the thread that called quillane_matte(), never
 * twice at once; it may call quillane_cancel() but no other function on the context. */
typedef void (*quillane_progress_fn)(const quillane_progress* progress, void* user_data);

/* The state of calculations: progress callback, cancel request, last message. */
typedef struct quillane_context quillane_context;

/* Returns a new context, owned by the caller and released with quillane_context_free(); null
 * when memory runs out. */
QUILLANE_API quillane_context* quillane_context_new(void);

/* Releases context (null: nothing). Not while a quillane_matte() on it runs. */
QUILLANE_API void quillane_context_free(quillane_context* context);

/* In-out context: calls callback (null: none) with user_data (borrowed) about every 100 ms
 * while a calculation's report changes. Not while a quillane_matte() on it runs. */
QUILLANE_API void quillane_context_set_progress(quillane_context* context,
                                                quillane_progress_fn callback, void* user_data);

/* Asks the calculation running on context to stop; if none runs, the next one stops at once.
 * That call returns QUILLANE_ERROR_CANCELLED and uses the request up. Any thread, also a
 * signal handler or the progress callback (lock-free). A sparse factorisation cannot be
 * interrupted: the request takes effect at the engine's first check after it. */
QUILLANE_API void quillane_cancel(quillane_context* context);

/* Calculates the matte of image under strokes.
 * In-out context: its progress callback is called, its message set.
 * In options: as filled by quillane_options_init() and changed by the caller.
 * In image: the photograph; an alpha channel in it is not read.
 * In strokes: stroke layer or trimap (options->trimap), the image's width and height. Without
 *   an alpha channel every pixel of a stroke layer is painted.
 * Out alpha: image height rows of alpha_stride bytes (at least the width), one byte a pixel.
 * Out foreground (null: not wanted): image height rows of foreground_stride bytes, RGBA: the
 *   image's colour, but where the matte is strictly between 0 and 255 the estimated colour of
 *   the foreground ("clean edge colours"); the alpha byte is the matte.
 * Returns a status; on a negative one nothing is written and the context's message says why.
 * Blocks until done; calculates on a thread of its own, and on the calling thread when no
 * thread can be had (then without progress reports). */
QUILLANE_API int quillane_matte(quillane_context* context, const quillane_options* options,
                                const quillane_pixels* image, const quillane_pixels* strokes,
                                unsigned char* alpha, int alpha_stride, unsigned char* foreground,
                                int foreground_stride);

/* The message of context's last quillane_matte(): why it failed, with the numbers, or the
 * solver's warning; empty after QUILLANE_OK. Owned by context, valid until its next
 * calculation or its release. */
QUILLANE_API const char* quillane_context_message(const quillane_context* context);

/* A short English text for status ("every pixel is painted: nothing to calculate", ...); a
 * static string, also for unknown statuses. */
QUILLANE_API const char* quillane_status_message(int status);

/* The library's version, "MAJOR.MINOR.PATCH"; a static string. */
QUILLANE_API const char* quillane_version(void);

#ifdef __cplusplus
}
#endif

#endif
