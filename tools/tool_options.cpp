#include "tools/tool_options.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef QUILLANE_VERSION
#define QUILLANE_VERSION "unknown"
#endif

namespace {

const char kProgram[] = "quillane-matte";

}  // namespace

constexpr ToolOptionSpec tool_option_table[TOOL_OPTION_COUNT] = {
    {OPT_LEVELS, nullptr, nullptr, nullptr},
    {OPT_ACTIVE_LEVELS, nullptr, nullptr, nullptr},
    {OPT_SOFTNESS, nullptr, nullptr, nullptr},
    {OPT_THRESHOLD, nullptr, nullptr, nullptr},
    {OPT_WINDOW_RADIUS, nullptr, nullptr, nullptr},
    {TOOL_SOLVER, "solver", "S", nullptr},
    {TOOL_REGION, "region", "X,Y,W,H",
     "Calculate only in this rectangle; alpha is 0 outside. A region reaching past the image is "
     "cut at its edges."},
    {TOOL_TRIMAP, "trimap", nullptr,
     "STROKES is a grey trimap: 0 = background, 255 = foreground, anything else unknown."},
    {TOOL_ALPHA_ONLY, "alpha-only", nullptr, "Write the matte alone as an 8-bit grey PNG."},
    {TOOL_FOREGROUND, "foreground", nullptr,
     "Clean edge colours: where the matte is partly transparent, write the estimated foreground "
     "colour instead of the image's, so that the old background does not show on a new one."},
    {TOOL_FORCE, "force", nullptr,
     "Replace a write-protected OUTPUT (one you may not write but may replace), as rm -f and "
     "cp -f do."},
    {TOOL_QUIET, "quiet", nullptr,
     "Print nothing on standard output (no solver trace) and no progress line on a terminal."},
    {TOOL_HELP, "help", nullptr, "Show this help and exit."},
    {TOOL_VERSION, "version", nullptr, "Show the version and exit."},
};

namespace {

// Whether every row sits at the index of its id (checked when compiling).
constexpr bool rows_in_id_order() {
  for (int i = 0; i < TOOL_OPTION_COUNT; ++i)
    if (tool_option_table[i].id != i) return false;
  return true;
}
static_assert(rows_in_id_order(), "tool_option_table is indexed by its ids");

// In id: a row's id. Whether it is one of the calculation options.
bool is_calc_option(int id) {
  return id >= 0 && id < CALC_OPTION_COUNT;
}

// In id: a row's id. What the help calls its value, or null for a flag; static.
const char* value_name_of(int id) {
  return is_calc_option(id) ? calc_option_table[id].value_name : tool_option_table[id].value_name;
}

// In id, value. The value as messages show it: whole numbers without decimals.
std::string option_text(CalcOptionId id, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, calc_option_table[id].integral ? "%.0f" : "%g", value);
  return buf;
}

// Prints head (indented, padded to a column) and text wrapped at 79 columns under it.
void print_wrapped(const std::string& head, const std::string& text) {
  const size_t column = 24, width = 79;
  std::string line = "  " + head;
  line.resize(std::max(line.size() + 2, column), ' ');
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (line.size() > column && line.size() + 1 + word.size() > width) {
      std::printf("%s\n", line.c_str());
      line.assign(column, ' ');
    } else if (line.size() > column) {
      line += ' ';
    }
    line += word;
    at = end + 1;
  }
  std::printf("%s\n", line.c_str());
}

// The help of one option, from its row and, for a calculation option, the calculation table.
void print_option(const ToolOptionSpec& row, const CalcOptions& defaults) {
  std::string head = std::string("--") + tool_option_name(row.id);
  if (value_name_of(row.id) != nullptr) head += std::string(" ") + value_name_of(row.id);
  std::string text;
  char range[160];
  if (is_calc_option(row.id)) {
    const CalcOptionSpec& c = calc_option_table[row.id];
    const CalcOptionId id = static_cast<CalcOptionId>(row.id);
    text = c.description;
    std::snprintf(range, sizeof range, " (default %s; %s to %s)",
                  option_text(id, calc_option_get(defaults, id)).c_str(),
                  option_text(id, c.lower).c_str(),
                  c.upper_text != nullptr ? c.upper_text : option_text(id, c.upper).c_str());
    text += range;
    if (row.id == OPT_LEVELS) {
      head += std::string("|") + calc_auto_levels_choice.name;
      std::string automatic = calc_auto_levels_choice.description;
      automatic[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(automatic[0])));
      text += std::string(" With ") + calc_auto_levels_choice.name + ", " + automatic;
    }
  } else if (row.id == TOOL_SOLVER) {
    const CalcChoiceSpec& s = calc_solver_choice;
    std::snprintf(range, sizeof range,
                  " S: %s (the default), %s (iterative above %.0f unknown pixels) or %s.",
                  s.values[CALC_SOLVER_DIRECT], s.values[CALC_SOLVER_AUTO], CALC_ITERATIVE_UNKNOWNS,
                  s.values[CALC_SOLVER_ITERATIVE]);
    text = std::string(s.description) + range;
  } else {
    text = row.description;
  }
  print_wrapped(head, text);
}

// Prints the help on stdout: the usage, every row of the table, the exit statuses.
void print_help() {
  CalcOptions defaults;
  calc_options_default(&defaults);
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
      "            device or FIFO directly, and - means standard output. It may not be\n"
      "            IMAGE or STROKES.\n"
      "\n"
      "Options:\n",
      kProgram);
  for (const ToolOptionSpec& row : tool_option_table) print_option(row, defaults);
  std::printf(
      "\n"
      "Exit status: 0 success; 1 unreadable or unsuitable input (corrupt file, sizes that\n"
      "differ, missing background or foreground strokes, strokes too thin for the levels),\n"
      "a failing solver, running out of memory or an output that cannot be written (also a\n"
      "write-protected one without --force); 2 wrong usage (unknown option, bad or\n"
      "out-of-range value, region outside the image, wrong number of arguments, OUTPUT that\n"
      "is IMAGE or STROKES); 128 + N when stopped by signal N, as 130 for SIGINT and 143 for\n"
      "SIGTERM (OUTPUT is left as it was).\n");
}

// Prints the program's name and version on stdout.
void print_version() {
  std::printf("%s %s\n", kProgram, QUILLANE_VERSION);
}

// Parses all of text as a decimal number (no hexadecimal, infinity or NaN). Out *out.
bool parse_number(const char* text, double* out) {
  if (*text == '\0' || std::strspn(text, "0123456789+-.eE") != std::strlen(text)) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// In text: "X,Y,W,H"; out *region. False when text is not four whole numbers.
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

// A calculation option's value: in id, text; in-out args.
void set_calc_option(CalcOptionId id, const char* text, Arguments* args) {
  const CalcOptionSpec& info = calc_option_table[id];
  // --levels auto: the calculation chooses its levels; a later number chooses them again.
  if (id == OPT_LEVELS) args->opts.auto_levels = 0;
  if (id == OPT_LEVELS && std::strcmp(text, calc_auto_levels_choice.name) == 0) {
    args->opts.auto_levels = 1;
    return;
  }
  double v;
  if (!parse_number(text, &v))
    usage_error("--%s needs %s, not '%s'", info.name, info.integral ? "a whole number" : "a number",
                text);
  if (info.integral && v != std::floor(v))
    usage_error("--%s needs a whole number, not '%s'", info.name, text);
  // The upper bounds of levels and active levels depend on the region; checked later.
  if (id == OPT_LEVELS || id == OPT_ACTIVE_LEVELS) {
    if (v < info.lower)
      usage_error("--%s %s is below %s", info.name, text, option_text(id, info.lower).c_str());
  } else {
    check_range(id, v, info.upper, "", text);
  }
  calc_option_set(&args->opts, id, std::min(v, 1e9));  // what an int holds; the range says more
  args->given_text[id] = text;
}

// The option getopt could not take: an unknown one, a value where none belongs, or a missing
// value. In argv (at optind after the failed call), result: getopt's ':' or '?'.
[[noreturn]] void bad_option(char** argv, int argc, int result) {
  const int id = optopt - 256;
  const bool ours = id >= 0 && id < TOOL_OPTION_COUNT;
  if (result == ':' && ours) usage_error("--%s needs a value", tool_option_name(id));
  if (ours) usage_error("--%s takes no value, not '%s'", tool_option_name(id), argv[optind - 1]);
  if (optopt != 0) {
    // A short option, perhaps in the middle of a word: name the word it came from.
    const char* word =
        optind < argc && argv[optind][0] == '-' && std::strchr(argv[optind], optopt) != nullptr
            ? argv[optind]
            : argv[optind - 1];
    usage_error(
        "unknown option '-%c' in '%s'; a file whose name starts with - can be given as "
        "./%s",
        optopt, word, word);
  }
  usage_error("unknown option '%s'", argv[optind - 1]);
}

}  // namespace

const char* tool_option_name(int id) {
  return is_calc_option(id) ? calc_option_table[id].name : tool_option_table[id].name;
}

void complain(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::fprintf(stderr, "%s: ", kProgram);
  std::vfprintf(stderr, format, ap);
  std::fputc('\n', stderr);
  va_end(ap);
}

void usage_error(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::fprintf(stderr, "%s: ", kProgram);
  std::vfprintf(stderr, format, ap);
  std::fprintf(stderr, " (see --help)\n");
  va_end(ap);
  std::exit(2);
}

void check_range(CalcOptionId id, double value, double upper, const char* why, const char* given) {
  const CalcOptionSpec& info = calc_option_table[id];
  if (value < info.lower || value > upper)
    usage_error("--%s %s is out of range %s..%s%s", info.name,
                given != nullptr ? given : option_text(id, value).c_str(),
                option_text(id, info.lower).c_str(), option_text(id, upper).c_str(), why);
}

Arguments parse_arguments(int argc, char** argv) {
  Arguments args;
  calc_options_default(&args.opts);
  // getopt returns 256 + the row's id; "-q", "-h" and "-V" are short for three of them.
  std::vector<option> longopts;
  for (const ToolOptionSpec& row : tool_option_table)
    longopts.push_back({tool_option_name(row.id),
                        value_name_of(row.id) != nullptr ? required_argument : no_argument, nullptr,
                        256 + row.id});
  longopts.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;  // our own one-line messages
  int c;
  while ((c = getopt_long(argc, argv, ":qhV", longopts.data(), nullptr)) != -1) {
    const int id = c == 'q' ? TOOL_QUIET : c == 'h' ? TOOL_HELP : c == 'V' ? TOOL_VERSION : c - 256;
    if (c == '?' || c == ':') bad_option(argv, argc, c);
    if (is_calc_option(id)) {
      set_calc_option(static_cast<CalcOptionId>(id), optarg, &args);
      continue;
    }
    switch (id) {
      case TOOL_SOLVER: {
        const int solver = calc_choice_find(calc_solver_choice, optarg);
        if (solver < 0) usage_error("--solver needs direct, auto or iterative, not '%s'", optarg);
        args.opts.solver = solver;
        break;
      }
      case TOOL_REGION:
        if (!parse_region(optarg, &args.region) || args.region.w <= 0 || args.region.h <= 0)
          usage_error("--region needs X,Y,W,H with a positive width and height, not '%s'", optarg);
        args.has_region = true;
        break;
      case TOOL_TRIMAP:
        args.trimap = true;
        break;
      case TOOL_ALPHA_ONLY:
        args.alpha_only = true;
        break;
      case TOOL_FOREGROUND:
        args.foreground = true;
        break;
      case TOOL_FORCE:
        args.force = true;
        break;
      case TOOL_QUIET:
        args.quiet = true;
        break;
      case TOOL_HELP:
        print_help();
        std::exit(0);
      case TOOL_VERSION:
        print_version();
        std::exit(0);
      default:
        break;
    }
  }
  if (args.foreground && args.alpha_only)
    usage_error("--foreground writes colours; it cannot go with --alpha-only");
  if (args.opts.auto_levels != 0 && args.given_text[OPT_ACTIVE_LEVELS] != nullptr)
    usage_error("--active cannot go with --levels auto, which chooses the levels and steps");
  if (argc - optind != 3)
    usage_error("expected IMAGE STROKES OUTPUT, got %d argument%s", argc - optind,
                argc - optind == 1 ? "" : "s");
  args.image = argv[optind];
  args.strokes = argv[optind + 1];
  args.output = argv[optind + 2];
  return args;
}
