// quillane-matte: pulls a matte from an image and a stroke layer (or a trimap) without the
// editor, with the editor's options, constraints and engine.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fileio/image_load.h"
#include "fileio/output_file.h"
#include "matting/calc_input.h"
#include "matting/calc_options.h"
#include "matting/heap_tuning.h"
#include "matting/solver_status.h"
#include "capi/engine_detail.h"
#include "quillane/quillane.h"
#include "tools/png_io.h"
#include "tools/tool_options.h"

namespace {

// Exit statuses, documented in the help text.
enum ExitStatus { EXIT_OK = 0, EXIT_FAILURE_RUN = 1, EXIT_USAGE = 2 };

// The editor's own loading (orientation, damaged JPEGs), so that a layer it saved fits.
GdkPixbuf* load_image(const char* path, const char* what) {
  GError* error = nullptr;
  GdkPixbuf* pixbuf = load_image_file(path, 0, &error);
  if (pixbuf == nullptr) {
    complain("cannot read %s '%s': %s", what, path,
             error != nullptr ? error->message : "unknown error");
    if (error != nullptr) g_error_free(error);
  }
  return pixbuf;
}

// Where OUTPUT goes: standard output ("-", through a descriptor of its own, since the
// engine's trace goes to stdout) or a file, planned before the calculation.
struct Output {
  const char* name = nullptr;
  int stdout_fd = -1;
  OutputFile file;
};

// Whether the file at path (links followed) is the file st.
bool same_file(const char* path, const struct stat& st) {
  struct stat other;
  return stat(path, &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
}

// Refuses, before any work is done, an output that cannot be written or would destroy an
// input. Returns an exit status: EXIT_OK when the output is planned.
int plan_output(const Arguments& args, Output* out) {
  out->name = args.output;
  if (std::strcmp(args.output, "-") == 0) {
    out->stdout_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (out->stdout_fd >= 0) return EXIT_OK;
    complain("cannot write to standard output: %s", std::strerror(errno));
    return EXIT_FAILURE_RUN;
  }
  struct stat st;
  if (stat(args.output, &st) == 0)
    for (const char* input : {args.image, args.strokes})
      if (same_file(input, st)) {
        complain("OUTPUT '%s' is the same file as %s '%s': it would be overwritten (see --help)",
                 args.output, input == args.image ? "IMAGE" : "STROKES", input);
        return EXIT_USAGE;
      }
  std::string error;
  if (output_plan(args.output, &out->file, &error, args.force)) return EXIT_OK;
  if (out->file.write_protected && !args.force)
    complain("cannot write '%s': OUTPUT is write-protected; --force replaces it", args.output);
  else
    complain("cannot write '%s': %s", args.output, error.c_str());
  return EXIT_FAILURE_RUN;
}

// Writes pixels as planned: a failure leaves an existing OUTPUT as it was.
bool write_output(Output* out, const PngPixels& pixels) {
  std::string error;
  bool ok;
  if (out->stdout_fd >= 0) {
    ok = png_write_fd(out->stdout_fd, pixels, &error);
  } else {
    ok = output_open(&out->file, &error);
    if (ok && !png_write_fd(out->file.fd, pixels, &error)) {
      output_abandon(&out->file);
      ok = false;
    }
    ok = ok && output_commit(&out->file, &error);
  }
  if (!ok) complain("cannot write '%s': %s", out->name, error.c_str());
  return ok;
}

// Set while a progress line is on the terminal, for the signal handler to clear it.
volatile sig_atomic_t progress_shown = 0;

// Every signal that would end the tool: remove a half-written temporary file and stop with
// 128 + the signal; an existing OUTPUT is untouched until the final rename (an in-place
// rewrite finishes first).
extern "C" void stop_on_signal(int signal) {
  if (!output_on_signal(signal)) return;
  if (progress_shown) (void)!write(STDERR_FILENO, "\r\033[K", 4);
  _exit(128 + signal);
}

// Gives every signal of output_signal_set() the handler, SIGXFSZ none (ignored), except
// those the caller already ignores.
void install_signal_handlers() {
  sigset_t set;
  output_signal_set(&set);
  for (int s = 1; s < NSIG; ++s) {
    if (sigismember(&set, s) != 1) continue;
    struct sigaction action, old;
    std::memset(&action, 0, sizeof action);
    // A file size limit makes the write fail with its reason instead of ending the tool.
    action.sa_handler = s == SIGXFSZ ? SIG_IGN : stop_on_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    // A signal the shell told us to ignore (a background job's SIGINT) stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
}

// The library's progress on a terminal: one line on stderr, redrawn when it changes. In-out
// data: the std::string last shown.
void show_progress(const quillane_progress* progress, void* data) {
  std::string* shown = static_cast<std::string*>(data);
  if (*shown == progress->text) return;
  std::fprintf(stderr, "\r%s\033[K", progress->text);
  std::fflush(stderr);
  *shown = progress->text;
  progress_shown = 1;
}

// A failing calculation: its message and what to try here, from the status table.
void report_failure(int status) {
  const SolverStatusInfo* info = solver_status_info(status);
  if (info == nullptr) {
    complain("failure: solver status %d", status);
    return;
  }
  complain("%s", info->message);
  if (*info->tool_advice != '\0') complain("%s", info->tool_advice);
}

// Memory ran out before the calculation started: the advice about options would not help.
void report_reading_out_of_memory() {
  complain("%s", solver_status_info(CALC_STATUS_OUT_OF_MEMORY)->message);
  complain("not enough memory to read the image and the strokes");
}

// Why read_calc_input() refused the strokes (a CalcInputResult), in the words of the file
// given: a stroke layer or a trimap (trimap_alpha: one with transparent pixels).
void report_input(int input, const Arguments& args, bool trimap_alpha) {
  const char* where = args.has_region ? "inside the region" : "in the image";
  // A trimap or a photograph given as strokes paints every pixel: say so before anything
  // about missing strokes.
  if (input & CALC_INPUT_NOTHING_UNKNOWN) {
    if (!args.trimap)
      complain("%s; is this a trimap? use --trimap", calc_nothing_unknown_message);
    else if (trimap_alpha)
      complain("%s; the trimap has transparent pixels: is it a stroke layer? leave out --trimap",
               calc_nothing_unknown_message);
    else
      complain("%s; a trimap marks unknown pixels with greys other than 0 and 255",
               calc_nothing_unknown_message);
  } else if (input == (CALC_INPUT_NO_BACKGROUND | CALC_INPUT_NO_FOREGROUND)) {
    complain(args.trimap ? "the trimap has no background (0) and no foreground (255) pixel %s"
                         : "no strokes %s: paint background (black) and foreground strokes",
             where);
  } else if (input == CALC_INPUT_NO_BACKGROUND) {
    complain(args.trimap ? "the trimap has no background (0) pixel %s"
                         : "no background (opaque black) stroke %s",
             where);
  } else {
    complain(args.trimap ? "the trimap has no foreground (255) pixel %s"
                         : "no foreground or alternate-colour stroke %s",
             where);
  }
}

// Whether pixbuf has an alpha channel with a pixel that is not opaque.
bool has_transparency(GdkPixbuf* pixbuf) {
  if (!gdk_pixbuf_get_has_alpha(pixbuf)) return false;
  const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const uint8_t* pixels = gdk_pixbuf_read_pixels(pixbuf);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (pixels[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4 + 3] != 255)
        return true;
  return false;
}

// The calculation's inputs, read from the files.
struct Inputs {
  GdkPixbuf* image = nullptr;
  GdkPixbuf* strokes = nullptr;
  CalcRegion region = {0, 0, 0, 0};
  ~Inputs() {
    if (image != nullptr) g_object_unref(image);
    if (strokes != nullptr) g_object_unref(strokes);
  }
};

// Reads IMAGE and STROKES into *in and checks them against the options (in-out opts: the
// levels are checked against the region). Returns an exit status.
int read_inputs(const Arguments& args, CalcOptions* opts, Inputs* in) {
  in->image = load_image(args.image, "image");
  if (in->image == nullptr) return EXIT_FAILURE_RUN;
  in->strokes = load_image(args.strokes, args.trimap ? "trimap" : "strokes");
  if (in->strokes == nullptr) return EXIT_FAILURE_RUN;
  const int width = gdk_pixbuf_get_width(in->image), height = gdk_pixbuf_get_height(in->image);
  if (gdk_pixbuf_get_width(in->strokes) != width || gdk_pixbuf_get_height(in->strokes) != height) {
    complain("the %s is %dx%d but the image is %dx%d", args.trimap ? "trimap" : "stroke layer",
             gdk_pixbuf_get_width(in->strokes), gdk_pixbuf_get_height(in->strokes), width, height);
    return EXIT_FAILURE_RUN;
  }

  CalcRegion& region = in->region;
  region = {0, 0, width, height};
  if (args.has_region) {
    region = args.region;
    if (!clamp_calc_region(&region, width, height))
      usage_error("--region %d,%d,%d,%d lies outside the %dx%d image", args.region.x, args.region.y,
                  args.region.w, args.region.h, width, height);
  }
  // Smaller than one window: the system would be singular and the matte meaningless.
  if (!calc_region_fits_window(region, opts->window_radius)) {
    complain("%s", calc_region_size_message(region, opts->window_radius).c_str());
    return EXIT_FAILURE_RUN;
  }
  char why[96];
  std::snprintf(why, sizeof why, " for a %dx%d %s", region.w, region.h,
                args.has_region ? "region" : "image");
  check_range(OPT_LEVELS, opts->levels_num,
              calc_option_upper(OPT_LEVELS, region.w, region.h, opts->levels_num), why,
              args.given_text[OPT_LEVELS]);
  check_range(OPT_ACTIVE_LEVELS, opts->active_levels_num,
              calc_option_upper(OPT_ACTIVE_LEVELS, region.w, region.h, opts->levels_num),
              " (at most --levels)", args.given_text[OPT_ACTIVE_LEVELS]);

  return EXIT_OK;
}

// The image with the matte (alpha: width x height bytes) as its alpha, or the matte alone;
// with --foreground, cleaned is the image with clean edge colours and the matte already.
PngPixels output_pixels(const Arguments& args, const Inputs& in, const std::vector<uint8_t>& alpha,
                        std::vector<uint8_t>* cleaned) {
  const int width = gdk_pixbuf_get_width(in.image), height = gdk_pixbuf_get_height(in.image);
  PngPixels out;
  out.width = width;
  out.height = height;
  out.channels = args.alpha_only ? 1 : 4;
  if (args.foreground && !args.alpha_only) {
    out.data.swap(*cleaned);
    return out;
  }
  out.data.assign(static_cast<size_t>(width) * height * out.channels, 0);
  const uint8_t* src = gdk_pixbuf_read_pixels(in.image);
  const int nc = gdk_pixbuf_get_n_channels(in.image), stride = gdk_pixbuf_get_rowstride(in.image);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t a = alpha[static_cast<size_t>(y) * width + x];
      uint8_t* o = &out.data[(static_cast<size_t>(y) * width + x) * out.channels];
      if (args.alpha_only) {
        o[0] = a;
      } else {
        const uint8_t* p = src + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * nc;
        o[0] = p[0];
        o[1] = p[1];
        o[2] = p[2];
        o[3] = a;
      }
    }
  return out;
}

// Reports a status of quillane_matte() other than success on stderr: the input's faults in
// the words of the file given, the engine's failures with their advice from the status table.
// In context: the call's context. Returns the exit status.
int report_status(int status, const quillane_context* context, const Arguments& args,
                  const Inputs& in) {
  switch (status) {
    case QUILLANE_ERROR_NOTHING_UNKNOWN:
      report_input(CALC_INPUT_NOTHING_UNKNOWN, args, args.trimap && has_transparency(in.strokes));
      return EXIT_FAILURE_RUN;
    case QUILLANE_ERROR_NO_STROKES:
      report_input(CALC_INPUT_NO_BACKGROUND | CALC_INPUT_NO_FOREGROUND, args, false);
      return EXIT_FAILURE_RUN;
    case QUILLANE_ERROR_NO_BACKGROUND:
      report_input(CALC_INPUT_NO_BACKGROUND, args, false);
      return EXIT_FAILURE_RUN;
    case QUILLANE_ERROR_NO_FOREGROUND:
      report_input(CALC_INPUT_NO_FOREGROUND, args, false);
      return EXIT_FAILURE_RUN;
    default:
      break;
  }
  if (status > 0) {  // a warning: the matte is written all the same
    complain("%s", quillane_context_message(context));
    return EXIT_OK;
  }
  if (status == QUILLANE_ERROR_OUT_OF_MEMORY && quillane_detail::failed_reading_inputs(context)) {
    report_reading_out_of_memory();
  } else if (quillane_detail::engine_status(context) < 0) {
    report_failure(quillane_detail::engine_status(context));
  } else {
    complain("%s", quillane_context_message(context));
  }
  return EXIT_FAILURE_RUN;
}

// In args; in-out output (planned): reads the inputs, calculates through the library's one
// call (the editor's reading of the strokes, the engine, clean edge colours) and writes
// OUTPUT. Returns the exit status; reports every failure on stderr.
int run(const Arguments& args, Output* output) {
  CalcOptions opts = args.opts;
  Inputs in;
  try {
    const int read = read_inputs(args, &opts, &in);
    if (read != EXIT_OK) return read;
  } catch (const std::bad_alloc&) {
    report_reading_out_of_memory();
    return EXIT_FAILURE_RUN;
  }
  const int width = gdk_pixbuf_get_width(in.image), height = gdk_pixbuf_get_height(in.image);

  quillane_options options;
  quillane_options_init(&options);
  options.trimap = args.trimap;
  options.auto_levels = opts.auto_levels;
  options.levels = opts.levels_num;
  options.active_levels = opts.active_levels_num;
  options.softness = opts.softness;
  options.threshold = opts.threshold;
  options.window_radius = opts.window_radius;
  options.solver = opts.solver;
  options.region_x = in.region.x;
  options.region_y = in.region.y;
  options.region_width = in.region.w;
  options.region_height = in.region.h;
  const quillane_pixels image_pixels = {gdk_pixbuf_read_pixels(in.image), width, height,
                                        gdk_pixbuf_get_rowstride(in.image),
                                        gdk_pixbuf_get_n_channels(in.image)};
  const quillane_pixels stroke_pixels = {gdk_pixbuf_read_pixels(in.strokes), width, height,
                                         gdk_pixbuf_get_rowstride(in.strokes),
                                         gdk_pixbuf_get_n_channels(in.strokes)};
  const bool clean = args.foreground && !args.alpha_only;
  std::vector<uint8_t> alpha(static_cast<size_t>(width) * height);
  std::vector<uint8_t> cleaned(clean ? static_cast<size_t>(width) * height * 4 : 0);

  quillane_context* context = quillane_context_new();
  if (context == nullptr) throw std::bad_alloc();
  std::string shown;
  if (!args.quiet && isatty(STDERR_FILENO))
    quillane_context_set_progress(context, show_progress, &shown);
  const int status = quillane_matte(context, &options, &image_pixels, &stroke_pixels, alpha.data(),
                                    width, clean ? cleaned.data() : nullptr, width * 4);
  if (!shown.empty()) std::fputs("\r\033[K", stderr);
  progress_shown = 0;
  const int exit_status =
      status == QUILLANE_OK ? EXIT_OK : report_status(status, context, args, in);
  quillane_context_free(context);
  if (exit_status != EXIT_OK) return exit_status;
  const PngPixels out = output_pixels(args, in, alpha, &cleaned);
  return write_output(output, out) ? EXIT_OK : EXIT_FAILURE_RUN;
}

// Ends the process with status. Not exit(): after an allocation failure OpenBLAS's threads
// may still be retrying theirs, and its exit handler would wait for them for ever. Every file
// is closed by now; in a sanitizer build the leak check runs first.
[[noreturn]] void finish(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
  _exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  restart_with_tuned_heap(argv, kHeapTunablesOneCalculation);
  const Arguments args = parse_arguments(argc, argv);
  install_signal_handlers();
  Output output;
  const int planned = plan_output(args, &output);
  if (planned != EXIT_OK) finish(planned);
  // With OUTPUT "-" the PNG has standard output to itself: the solver trace goes nowhere.
  if (args.quiet || output.stdout_fd >= 0) {
    std::fflush(stdout);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::fclose(stdout);
  }
  int status;
  try {
    status = run(args, &output);
  } catch (const std::bad_alloc&) {
    output_abandon(&output.file);
    report_failure(CALC_STATUS_OUT_OF_MEMORY);
    status = EXIT_FAILURE_RUN;
  }
  finish(status);
}
