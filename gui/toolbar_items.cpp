#include "gui/toolbar_items.h"

const char* toolbar_item_name(ToolbarItem item) {
  static const char* const names[TOOL_COUNT] = {
      "mode",      "open",       "save",         "alpha",      "calculate", "fg",
      "bg",        "eraser",     "lasso",        "colour",     "zoom",      "zoom-slider",
      "zoom-100",  "separator",  "brush-size",   "brush-slider", "live"};
  return item >= 0 && item < TOOL_COUNT ? names[item] : "?";
}
