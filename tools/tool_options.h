// The command line of quillane-matte: one table of its options, from which the list getopt
// reads and the help are made, and the arguments it gives.
#ifndef QUILLANE_TOOLS_TOOL_OPTIONS_H
#define QUILLANE_TOOLS_TOOL_OPTIONS_H

#include "matting/calc_input.h"
#include "matting/calc_options.h"

// The calculation options keep their CalcOptionId; the tool's own follow.
enum ToolOptionId {
  TOOL_SOLVER = CALC_OPTION_COUNT,
  TOOL_REGION,
  TOOL_TRIMAP,
  TOOL_ALPHA_ONLY,
  TOOL_FOREGROUND,
  TOOL_FORCE,
  TOOL_QUIET,
  TOOL_HELP,
  TOOL_VERSION,
  TOOL_OPTION_COUNT
};

struct ToolOptionSpec {
  int id;                   // a CalcOptionId or a ToolOptionId
  const char* name;         // as in --region; null: the calculation option's name
  const char* value_name;   // what the help calls its value; null: the calculation option's,
                            // or no value for a flag
  const char* description;  // for the help; null: the calculation option's
};

// Indexed by id: every option the tool takes.
extern const ToolOptionSpec tool_option_table[TOOL_OPTION_COUNT];

struct Arguments {
  CalcOptions opts;
  const char* given_text[CALC_OPTION_COUNT] = {};  // values as written, null when not given
  bool has_region = false;
  CalcRegion region = {0, 0, 0, 0};
  bool trimap = false, alpha_only = false, quiet = false, foreground = false, force = false;
  const char* image = nullptr;
  const char* strokes = nullptr;
  const char* output = nullptr;
};

// In argc, argv: the command line. Returns the arguments. --help and --version print to
// stdout and exit 0; wrong usage prints one line and exits 2.
Arguments parse_arguments(int argc, char** argv);

// In id: a CalcOptionId or ToolOptionId. Its command-line name, as in "levels"; static.
const char* tool_option_name(int id);

// One line on stderr, prefixed with the program name (printf format).
void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same with " (see --help)" after it; exits with status 2.
[[noreturn]] void usage_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Exits 2 when value lies outside id's range lower..upper. In why: text after the range (the
// image size, say); given: the value as written (null: value printed).
void check_range(CalcOptionId id, double value, double upper, const char* why, const char* given);

#endif
