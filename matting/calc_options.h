// The five options that steer a matte calculation, declared once. The options dialog, its
// reset button, the defaults after opening an image, the command-line tool and the tests
// all read this table; the tool's help and the dialog's tooltips are made from its
// descriptions.
#ifndef QUILLANE_MATTING_CALC_OPTIONS_H
#define QUILLANE_MATTING_CALC_OPTIONS_H

enum CalcOptionId {
  OPT_LEVELS = 0,         // levels_num: pyramid levels, 1 = no down-scaling
  OPT_ACTIVE_LEVELS = 1,  // active_levels_num: levels solved, counted from the coarsest
  OPT_SOFTNESS = 2,       // softness: regularisation epsilon of the matting Laplacian
  OPT_THRESHOLD = 3,      // threshold: trimap threshold of the coarse-to-fine driver
  OPT_WINDOW_RADIUS = 4,  // window_radius: radius r of the (2r+1)^2 windows
  CALC_OPTION_COUNT = 5
};

struct CalcOptionSpec {
  CalcOptionId id;
  const char* name;         // command-line name, as in --levels
  const char* value_name;   // what the tool's help calls its value: N, E, T, R
  const char* label;        // label of the dialog row
  const char* description;  // what it does: the tool's help and the dialog's tooltip
  const char* upper_text;   // the upper bound in words where it depends on the image, else null
  double default_value;
  double lower;       // smallest value
  double upper;       // largest value; for levels and active levels see calc_option_upper()
  double step;        // adjustment step increment
  double page;        // adjustment page increment
  double climb_rate;  // spin button climb rate
  int digits;         // decimals shown
  bool integral;      // stored as an integer (values are truncated)
};

// Indexed by CalcOptionId (record order).
extern const CalcOptionSpec calc_option_table[CALC_OPTION_COUNT];

// The dialog shows the rows in this order (threshold before softness).
extern const CalcOptionId calc_option_dialog_order[CALC_OPTION_COUNT];

// The reset button sets the controls in this order.
extern const CalcOptionId calc_option_reset_order[CALC_OPTION_COUNT];

// A choice beside the five numbers: a check box (two values) or a list.
struct CalcChoiceSpec {
  const char* name;           // command-line spelling
  const char* label;          // label of the check box or list
  const char* description;    // what it does: the tool's help and the dialog's tooltip
  int default_value;          // index into values
  const char* const* values;  // command-line spellings of the values
  const char* const* labels;  // what a list shows for each value
  int count;                  // number of values
};

// The levels setting "automatic" (--levels auto; a check box beside the levels spin button):
// the calculation chooses its levels from the image and the strokes and keeps the matte close
// to the one-level result. Off by default.
extern const CalcChoiceSpec calc_auto_levels_choice;

// How a one-level calculation solves its system (--solver direct|auto|iterative): the sparse
// direct solve (UMFPACK), or conjugate gradients preconditioned by factorised tiles started
// from the automatic levels' matte, which needs far less time and memory on large photographs
// and agrees with the direct solve to a fraction of a percent; "auto" takes the iterative
// solve above CALC_ITERATIVE_UNKNOWNS unknown pixels. Calculations over several levels or
// with automatic levels do not use it. Direct by default.
enum CalcSolver { CALC_SOLVER_DIRECT = 0, CALC_SOLVER_AUTO = 1, CALC_SOLVER_ITERATIVE = 2 };
extern const CalcChoiceSpec calc_solver_choice;
const double CALC_ITERATIVE_UNKNOWNS = 2.5e5;

// Index of the value spelled text in choice, or -1.
int calc_choice_find(const CalcChoiceSpec& choice, const char* text);

// Plain values of the five options, in record order, and the choices.
struct CalcOptions {
  int levels_num;
  int active_levels_num;
  double softness;
  double threshold;
  int window_radius;
  int auto_levels = 0;  // 1: levels_num and active_levels_num are chosen by the calculation
  int solver = CALC_SOLVER_DIRECT;  // a CalcSolver
};

// Out opts: the defaults of the table (1, 1, 1e-7, 0.02, 1; automatic levels off; the direct
// solver).
void calc_options_default(CalcOptions* opts);

// Largest levels_num offered for an image: max(min(width, height) / 10, 1).
int levels_bound(int img_width, int img_height);

// Upper bound of option id for an image of the given size, with the current levels_num
// (which bounds the active levels).
double calc_option_upper(CalcOptionId id, int img_width, int img_height, int levels_num);

// Value of option id in opts, as a double; and the reverse (integers truncated).
double calc_option_get(const CalcOptions& opts, CalcOptionId id);
void calc_option_set(CalcOptions* opts, CalcOptionId id, double value);

#endif
