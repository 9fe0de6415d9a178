// The main toolbar's items by name. The window builder appends them in this order and keeps
// each in the view record (View::tool); everything else reaches an item through its name, so
// that adding or moving an item changes only this list and the builder.
#ifndef QUILLANE_GUI_TOOLBAR_ITEMS_H
#define QUILLANE_GUI_TOOLBAR_ITEMS_H

enum ToolbarItem {
  TOOL_MODE,          // toggle between edit and view modes (active: view mode)
  TOOL_OPEN,          // "Open an image file"
  TOOL_SAVE,          // "Save image"
  TOOL_ALPHA,         // "ALPHA": the alpha view, view mode only
  TOOL_CALCULATE,     // "Calculate / Pull the matte.", edit mode only
  TOOL_FG,            // white brush
  TOOL_BG,            // black brush
  TOOL_ERASER,        // eraser
  TOOL_LASSO,         // "Lasso": fills outlines; FG, BG, Eraser and Lasso are one radio group
  TOOL_COLOUR,        // holds the colour button of the alternate-colour brush
  TOOL_ZOOM_SPIN,     // zoom spin button
  TOOL_ZOOM_SLIDER,   // zoom slider
  TOOL_ZOOM_100,      // "Reset scale to 100%."
  TOOL_SEPARATOR,     // space before the brush size, not drawn
  TOOL_BRUSH_SPIN,    // brush size spin button
  TOOL_BRUSH_SLIDER,  // brush size slider, takes the spare width
  TOOL_LIVE,          // "Live matte" toggle, the View menu's check item's twin
  TOOL_COUNT
};

// The item's short name ("mode", "calculate", "brush-size", ...), as the layout report prints
// it; a static string.
const char* toolbar_item_name(ToolbarItem item);

#endif
