// The tool the left button uses in edit mode, and the lasso outline being drawn. One record of
// the Editor (editor.h), on the main thread only.
#ifndef QUILLANE_GUI_TOOL_STATE_H
#define QUILLANE_GUI_TOOL_STATE_H

#include <gtk/gtk.h>

#include <vector>

// FG, BG, Eraser and Lasso are one radio group on the toolbar (tool_group.h). The lasso fills
// with the brush record's colour, so the brush chosen last is the lasso's colour.
struct ToolState {
  bool lasso = false;  // "Lasso" is the pressed tool: presses draw outlines, not strokes
  // The group's member that is never shown: pressed while the colour button's brush is in use,
  // so that none of the four stays pressed. Owned by the toolbar; null without a window.
  GtkToolItem* no_tool = nullptr;

  // The outline in progress: corners in image coordinates at pixel centres, x, y pairs.
  std::vector<double> outline;
  bool freehand = false;  // a left drag draws it; the release fills it
  bool polygon = false;   // Control-clicks add corners; a double click or Enter fills it
  bool held = false;      // the left button is down inside a polygon: motion adds corners
};

#endif
