// quillane-matte: pulls a matte from an image and a stroke layer (or a trimap) without the
// editor, with the editor's options, constraints and engine.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fileio/image_load.h"
#include "fileio/output_file.h"
#include "matting/calc_input.h"
#include "matting/calc_options.h"
#include "matting/foreground.h"
#include "matting/imgutil.h"
#include "matting/quillane.h"
#include "matting/solver_status.h"
#include "numeric/allocate.h"
#include "tools/png_io.h"

#ifndef QUILLANE_VERSION
#define QUILLANE_VERSION "unknown"
#endif

namespace {

const char kProgram[] = "quillane-matte";

// Exit statuses, documented in the help text.
enum ExitStatus { EXIT_OK = 0, EXIT_FAILURE_RUN = 1, EXIT_USAGE = 2 };

void print_help() {
  CalcOptions d;
  calc_options_default(&d);
  const CalcOptionSpec* t = calc_option_table;
  std::printf(
      "Usage: %s [OPTIONS] IMAGE STROKES OUTPUT\n"
      "Pull an alpha matte from IMAGE, constrained by the strokes in STROKES, and write\n"
      "OUTPUT as a PNG of the image with the matte as its alpha channel.\n"
      "\n"
      "  IMAGE     any image file GdkPixbuf reads\n"
      "  STROKES   a stroke layer of the same size, as the editor saves it: opaque white =\n"
      "            foreground, opaque black = background, any other opaque colour = alternate\n"
      "            transparency with its grey level as target; not fully opaque = unpainted\n"
      "  OUTPUT    the PNG to write, replaced only when the calculation succeeds and keeping\n"
      "            its permissions; a symbolic link is written through to its target, a\n"
      "            device or FIFO directly, and - means standard output\n"
      "\n"
      "Options:\n"
      "  --%-10s N        down scale the image this many times (%g; %g up to a tenth of\n"
      "                        the smaller side of the region); auto: choose the levels from\n"
      "                        the image and the strokes, staying close to the full-size\n"
      "                        matte at a fraction of its time and memory\n"
      "  --%-10s N        recalculate the matte on this many levels (%g; %g up to --levels)\n"
      "  --%-10s E        softness of edges (%g; %g to %g)\n"
      "  --%-10s T        trimap threshold for down scaled mattes (%g; %g to %g)\n"
      "  --%-10s R        window radius (%g; %g to %g)\n"
      "  --solver S            how a full-size calculation solves: direct (the sparse direct\n"
      "                        solve, the default), iterative (far less time and memory on\n"
      "                        large images, within a fraction of a percent of direct) or\n"
      "                        auto (iterative above 250000 unknown pixels)\n"
      "  --region X,Y,W,H      calculate only in this rectangle; alpha is 0 outside. A region\n"
      "                        reaching past the image is cut at its edges\n"
      "  --trimap              STROKES is a grey trimap: 0 = background, 255 = foreground,\n"
      "                        anything else unknown\n"
      "  --alpha-only          write the matte alone as an 8-bit grey PNG\n"
      "  --foreground          clean edge colours: where the matte is partly transparent, write\n"
      "                        the estimated foreground colour instead of the image's, so\n"
      "                        that the old background does not show on a new one\n"
      "  --quiet               print nothing on standard output (no solver trace) and no\n"
      "                        progress line on a terminal\n"
      "  --help                show this help and exit\n"
      "  --version             show the version and exit\n"
      "\n"
      "Exit status: 0 success; 1 unreadable or unsuitable input (corrupt file, sizes that\n"
      "differ, missing background or foreground strokes), a failing solver or an output that\n"
      "cannot be written; 2 wrong usage (unknown option, bad or out-of-range value, region\n"
      "outside the image, wrong number of arguments); 130 and 143 stopped by SIGINT and\n"
      "SIGTERM (OUTPUT is left as it was).\n",
      kProgram, t[OPT_LEVELS].name, static_cast<double>(d.levels_num), t[OPT_LEVELS].lower,
      t[OPT_ACTIVE_LEVELS].name, static_cast<double>(d.active_levels_num),
      t[OPT_ACTIVE_LEVELS].lower, t[OPT_SOFTNESS].name, d.softness, t[OPT_SOFTNESS].lower,
      t[OPT_SOFTNESS].upper, t[OPT_THRESHOLD].name, d.threshold, t[OPT_THRESHOLD].lower,
      t[OPT_THRESHOLD].upper, t[OPT_WINDOW_RADIUS].name, static_cast<double>(d.window_radius),
      t[OPT_WINDOW_RADIUS].lower, t[OPT_WINDOW_RADIUS].upper);
}

// One line on stderr, prefixed with the program name.
void complain(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::fprintf(stderr, "%s: ", kProgram);
  std::vfprintf(stderr, format, ap);
  std::fputc('\n', stderr);
  va_end(ap);
}

[[noreturn]] void usage_error(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::fprintf(stderr, "%s: ", kProgram);
  std::vfprintf(stderr, format, ap);
  std::fprintf(stderr, " (see --help)\n");
  va_end(ap);
  std::exit(EXIT_USAGE);
}

// Parses all of text as a finite number; integral options must be whole numbers.
bool parse_number(const char* text, bool integral, double* out) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v)) return false;
  if (integral && (v != std::floor(v) || std::fabs(v) > 1e9)) return false;
  *out = v;
  return true;
}

bool parse_region(const char* text, CalcRegion* region) {
  int values[4];
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || v < -1000000000L || v > 1000000000L) return false;
    values[i] = static_cast<int>(v);
    if (i < 3 && *end != ',') return false;
    if (i == 3 && *end != '\0') return false;
    p = end + 1;
  }
  *region = {values[0], values[1], values[2], values[3]};
  return true;
}

std::string option_text(CalcOptionId id, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, calc_option_table[id].integral ? "%.0f" : "%g", value);
  return buf;
}

// Checks value against the option's range; upper as computed for the image. given: the value
// as the user wrote it, so that 0.500001 is not shown rounded to 0.5 (null: print value).
void check_range(CalcOptionId id, double value, double upper, const char* why, const char* given) {
  const CalcOptionSpec& info = calc_option_table[id];
  if (value < info.lower || value > upper)
    usage_error("--%s %s is out of range %s..%s%s", info.name,
                given != nullptr ? given : option_text(id, value).c_str(),
                option_text(id, info.lower).c_str(), option_text(id, upper).c_str(), why);
}

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

// cairo's premultiplication of one colour byte by alpha (rounded).
uint32_t premultiply(uint32_t alpha, uint32_t colour) {
  const uint32_t t = alpha * colour + 0x80;
  return (t + (t >> 8)) >> 8;
}

// The stroke layer as the editor holds it: native 32-bit ARGB words, premultiplied, alpha in
// the top byte. With trimap, grey 0 becomes an opaque black stroke, 255 an opaque white one,
// and every other level stays unpainted.
std::vector<uint32_t> layer_words(GdkPixbuf* strokes, bool trimap) {
  const int w = gdk_pixbuf_get_width(strokes), h = gdk_pixbuf_get_height(strokes);
  const int nc = gdk_pixbuf_get_n_channels(strokes), stride = gdk_pixbuf_get_rowstride(strokes);
  const bool has_alpha = gdk_pixbuf_get_has_alpha(strokes);
  const uint8_t* pixels = gdk_pixbuf_read_pixels(strokes);
  std::vector<uint32_t> words(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * nc;
      uint32_t word;
      if (trimap) {
        const int grey = rgb2grey(p[0], p[1], p[2]);
        word = grey == 0 ? 0xff000000u : grey == 255 ? 0xffffffffu : 0u;
      } else {
        const uint32_t a = has_alpha ? p[3] : 255u;
        word =
            a << 24 | premultiply(a, p[0]) << 16 | premultiply(a, p[1]) << 8 | premultiply(a, p[2]);
      }
      words[static_cast<size_t>(y) * w + x] = word;
    }
  return words;
}

// Where OUTPUT goes: standard output ("-", through a descriptor of its own, since the
// engine's trace goes to stdout) or a file, planned before the calculation.
struct Output {
  const char* name = nullptr;
  int stdout_fd = -1;
  OutputFile file;
};

// Refuses an output that cannot be written before any work is done.
bool plan_output(const char* name, Output* out) {
  out->name = name;
  if (std::strcmp(name, "-") == 0) {
    out->stdout_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (out->stdout_fd >= 0) return true;
    complain("cannot write to standard output: %s", std::strerror(errno));
    return false;
  }
  std::string error;
  if (output_plan(name, &out->file, &error)) return true;
  complain("cannot write '%s': %s", name, error.c_str());
  return false;
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

// SIGINT, SIGTERM, SIGHUP: remove a half-written temporary file and stop; an existing OUTPUT
// is untouched until the final rename.
extern "C" void stop_on_signal(int signal) {
  output_remove_temporary_on_signal();
  if (progress_shown) (void)!write(STDERR_FILENO, "\r\033[K", 4);
  _exit(128 + signal);
}

void install_signal_handlers() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action, old;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = stop_on_signal;
    sigemptyset(&action.sa_mask);
    // A signal the shell told us to ignore (a background job's SIGINT) stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
}

// Runs calculate_matte() (arguments as there) on a worker thread while this thread redraws a
// one-line progress report on stderr every 100 ms; show false runs it here, silently.
// Returns the calculation's status; an allocation failure outside the engine's own
// unwinding also ends as -1 (out of memory).
int calculate_with_progress(TIFF_img* image, double** mask, double** value, const CalcOptions& opts,
                            TIFF_img* alpha, bool show) {
  CalcControl control;
  auto calculate = [&]() -> int {
    try {
      return calculate_matte(image, mask, value, opts, alpha, &control);
    } catch (const std::bad_alloc&) {
      return -1;
    }
  };
  if (!show) return calculate();
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  int status = 0;
  std::thread worker;
  try {
    worker = std::thread([&] {
      const int s = calculate();
      std::lock_guard<std::mutex> hold(lock);
      status = s;
      done = true;
      finished.notify_one();
    });
  } catch (const std::system_error&) {
    return calculate();  // no thread to be had: calculate without the report
  }
  std::string shown;
  {
    std::unique_lock<std::mutex> hold(lock);
    while (!finished.wait_for(hold, std::chrono::milliseconds(100), [&] { return done; })) {
      const std::string text = calc_progress_text(control.progress());
      if (text == shown) continue;
      std::fprintf(stderr, "\r%s\033[K", text.c_str());
      std::fflush(stderr);
      shown = text;
      progress_shown = 1;
    }
  }
  worker.join();
  if (!shown.empty()) std::fputs("\r\033[K", stderr);
  progress_shown = 0;
  return status;
}

// A failing solver: its message without the editor's toolbar advice, and what to try here.
void report_solver_failure(int status) {
  const char* message = solver_status_message(status);
  if (message != nullptr) {
    const char* end = std::strchr(message, '\n');
    complain("%.*s", static_cast<int>(end != nullptr ? end - message : std::strlen(message)),
             message);
  } else {
    complain("failure: solver status %d", status);
  }
  complain("try --levels auto, more --levels, more strokes or a smaller --region");
}

struct Arguments {
  CalcOptions opts;
  bool given[CALC_OPTION_COUNT] = {};
  const char* given_text[CALC_OPTION_COUNT] = {};  // values as written on the command line
  bool has_region = false;
  CalcRegion region = {0, 0, 0, 0};
  bool trimap = false, alpha_only = false, quiet = false, foreground = false;
  const char* image = nullptr;
  const char* strokes = nullptr;
  const char* output = nullptr;
};

Arguments parse_arguments(int argc, char** argv) {
  enum { OPT_REGION = 256, OPT_TRIMAP, OPT_ALPHA_ONLY, OPT_FOREGROUND, OPT_SOLVER, OPT_FIRST_CALC };
  Arguments args;
  calc_options_default(&args.opts);
  std::vector<option> longopts;
  for (int id = 0; id < CALC_OPTION_COUNT; ++id)
    longopts.push_back(
        {calc_option_table[id].name, required_argument, nullptr, OPT_FIRST_CALC + id});
  longopts.push_back({calc_solver_choice.name, required_argument, nullptr, OPT_SOLVER});
  longopts.push_back({"region", required_argument, nullptr, OPT_REGION});
  longopts.push_back({"trimap", no_argument, nullptr, OPT_TRIMAP});
  longopts.push_back({"alpha-only", no_argument, nullptr, OPT_ALPHA_ONLY});
  longopts.push_back({"foreground", no_argument, nullptr, OPT_FOREGROUND});
  longopts.push_back({"quiet", no_argument, nullptr, 'q'});
  longopts.push_back({"help", no_argument, nullptr, 'h'});
  longopts.push_back({"version", no_argument, nullptr, 'V'});
  longopts.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;  // our own one-line messages
  int c;
  while ((c = getopt_long(argc, argv, ":qhV", longopts.data(), nullptr)) != -1) {
    if (c >= OPT_FIRST_CALC && c < OPT_FIRST_CALC + CALC_OPTION_COUNT) {
      const CalcOptionId id = static_cast<CalcOptionId>(c - OPT_FIRST_CALC);
      const CalcOptionSpec& info = calc_option_table[id];
      double v;
      // --levels auto: the calculation chooses its levels.
      if (id == OPT_LEVELS && std::strcmp(optarg, calc_auto_levels_choice.name) == 0) {
        args.opts.auto_levels = 1;
        continue;
      }
      if (!parse_number(optarg, info.integral, &v))
        usage_error("--%s needs %s, not '%s'", info.name,
                    info.integral ? "a whole number" : "a number", optarg);
      // The upper bounds of levels and active levels depend on the region; checked later.
      if (id == OPT_LEVELS || id == OPT_ACTIVE_LEVELS) {
        if (v < info.lower)
          usage_error("--%s %s is below %s", info.name, option_text(id, v).c_str(),
                      option_text(id, info.lower).c_str());
      } else {
        check_range(id, v, info.upper, "", optarg);
      }
      calc_option_set(&args.opts, id, v);
      args.given[id] = true;
      args.given_text[id] = optarg;
      continue;
    }
    switch (c) {
      case OPT_SOLVER: {
        const int solver = calc_choice_find(calc_solver_choice, optarg);
        if (solver < 0) usage_error("--solver needs direct, auto or iterative, not '%s'", optarg);
        args.opts.solver = solver;
        break;
      }
      case OPT_REGION:
        if (!parse_region(optarg, &args.region) || args.region.w <= 0 || args.region.h <= 0)
          usage_error("--region needs X,Y,W,H with a positive width and height, not '%s'", optarg);
        args.has_region = true;
        break;
      case OPT_TRIMAP:
        args.trimap = true;
        break;
      case OPT_ALPHA_ONLY:
        args.alpha_only = true;
        break;
      case OPT_FOREGROUND:
        args.foreground = true;
        break;
      case 'q':
        args.quiet = true;
        break;
      case 'h':
        print_help();
        std::exit(EXIT_OK);
      case 'V':
        std::printf("%s %s\n", kProgram, QUILLANE_VERSION);
        std::exit(EXIT_OK);
      case ':':
        usage_error("option '%s' needs a value", argv[optind - 1]);
      default:
        usage_error("unknown option '%s'", argv[optind - 1]);
    }
  }
  if (args.foreground && args.alpha_only)
    usage_error("--foreground writes colours; it cannot go with --alpha-only");
  if (argc - optind != 3)
    usage_error("expected IMAGE STROKES OUTPUT, got %d argument%s", argc - optind,
                argc - optind == 1 ? "" : "s");
  args.image = argv[optind];
  args.strokes = argv[optind + 1];
  args.output = argv[optind + 2];
  return args;
}

int run(const Arguments& args_in, Output* output) {
  Arguments args = args_in;
  GdkPixbuf* image = load_image(args.image, "image");
  if (image == nullptr) return EXIT_FAILURE_RUN;
  GdkPixbuf* strokes = load_image(args.strokes, args.trimap ? "trimap" : "strokes");
  if (strokes == nullptr) {
    g_object_unref(image);
    return EXIT_FAILURE_RUN;
  }
  const int width = gdk_pixbuf_get_width(image), height = gdk_pixbuf_get_height(image);
  struct Release {
    GdkPixbuf* a;
    GdkPixbuf* b;
    ~Release() {
      g_object_unref(a);
      g_object_unref(b);
    }
  } release{image, strokes};

  if (gdk_pixbuf_get_width(strokes) != width || gdk_pixbuf_get_height(strokes) != height) {
    complain("the %s is %dx%d but the image is %dx%d", args.trimap ? "trimap" : "stroke layer",
             gdk_pixbuf_get_width(strokes), gdk_pixbuf_get_height(strokes), width, height);
    return EXIT_FAILURE_RUN;
  }

  CalcRegion region = {0, 0, width, height};
  if (args.has_region) {
    region = args.region;
    if (!clamp_calc_region(&region, width, height))
      usage_error("--region %d,%d,%d,%d lies outside the %dx%d image", args.region.x, args.region.y,
                  args.region.w, args.region.h, width, height);
  }
  // Smaller than one window: the system would be singular and the matte meaningless.
  if (!calc_region_fits_window(region, args.opts.window_radius)) {
    complain("%s", calc_region_size_message(region, args.opts.window_radius).c_str());
    return EXIT_FAILURE_RUN;
  }
  char why[96];
  std::snprintf(why, sizeof why, " for a %dx%d %s", region.w, region.h,
                args.has_region ? "region" : "image");
  check_range(OPT_LEVELS, args.opts.levels_num,
              calc_option_upper(OPT_LEVELS, region.w, region.h, args.opts.levels_num), why,
              args.given_text[OPT_LEVELS]);
  check_range(OPT_ACTIVE_LEVELS, args.opts.active_levels_num,
              calc_option_upper(OPT_ACTIVE_LEVELS, region.w, region.h, args.opts.levels_num),
              " (at most --levels)", args.given_text[OPT_ACTIVE_LEVELS]);

  const std::vector<uint32_t> layer = layer_words(strokes, args.trimap);
  TIFF_img calc_image;
  double** mask = nullptr;
  double** value = nullptr;
  int input;
  {
    AllocationScope scope;  // no memory for the inputs: a failure (main), not an exit
    input = read_calc_input(gdk_pixbuf_read_pixels(image), gdk_pixbuf_get_rowstride(image),
                            gdk_pixbuf_get_n_channels(image),
                            reinterpret_cast<const uint8_t*>(layer.data()), width * 4, region,
                            &calc_image, &mask, &value);
  }
  if (input != CALC_INPUT_OK) {
    const char* where = args.has_region ? "inside the region" : "in the image";
    // A trimap or a photograph given as strokes paints every pixel: say so before anything
    // about missing strokes.
    if (input & CALC_INPUT_NOTHING_UNKNOWN)
      complain(args.trimap ? "%s" : "%s; is this a trimap? use --trimap",
               calc_nothing_unknown_message);
    else if (input == (CALC_INPUT_NO_BACKGROUND | CALC_INPUT_NO_FOREGROUND))
      complain("no strokes %s: paint background (black) and foreground strokes", where);
    else if (input == CALC_INPUT_NO_BACKGROUND)
      complain("no background (opaque black) stroke %s", where);
    else
      complain("no foreground or alternate-colour stroke %s", where);
    return EXIT_FAILURE_RUN;
  }

  TIFF_img alpha;
  const int status = calculate_with_progress(&calc_image, mask, value, args.opts, &alpha,
                                             !args.quiet && isatty(STDERR_FILENO));
  if (status < 0) {
    report_solver_failure(status);
    free_TIFF(&alpha);
    return EXIT_FAILURE_RUN;
  }
  if (status > 0) complain("%s", solver_warning_message(status).c_str());

  PngPixels out;
  out.width = width;
  out.height = height;
  out.channels = args.alpha_only ? 1 : 4;
  out.data.assign(static_cast<size_t>(width) * height * out.channels, 0);
  const uint8_t* src = gdk_pixbuf_read_pixels(image);
  const int nc = gdk_pixbuf_get_n_channels(image), stride = gdk_pixbuf_get_rowstride(image);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int xr = x - region.x, yr = y - region.y;
      const bool inside = xr >= 0 && xr < region.w && yr >= 0 && yr < region.h;
      const uint8_t a = inside ? alpha.plane[yr][xr] : 0;
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
  free_TIFF(&alpha);
  if (args.foreground &&
      clean_edge_colours(out.data.data(), width, height, width * 4) == FOREGROUND_OUT_OF_MEMORY)
    throw std::bad_alloc();  // reported as the calculation's own lack of memory
  return write_output(output, out) ? EXIT_OK : EXIT_FAILURE_RUN;
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments args = parse_arguments(argc, argv);
  install_signal_handlers();
  Output output;
  if (!plan_output(args.output, &output)) return EXIT_FAILURE_RUN;
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
    report_solver_failure(-1);
    status = EXIT_FAILURE_RUN;
  }
  // Not exit(): after an allocation failure OpenBLAS's idle threads may still be retrying
  // theirs, and its exit handler would wait for them for ever. Every file is closed by now.
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
