// The choice of View > Show matte as and the overlay colour, kept between runs in a small text
// file beside the window geometry file: quillane-view-1.0 in the same folder, two lines
//   show overlay|black|white|checkerboard|alpha
//   overlay-colour R G B          (0..65535 each)
// The geometry file itself stays the 16 bytes it is.
#ifndef QUILLANE_GUI_DISPLAY_PREFS_H
#define QUILLANE_GUI_DISPLAY_PREFS_H

#include "gui/matte_display.h"

// The file's path under the editor's per-user folder (platform.h). Newly allocated (g_free).
char* display_prefs_path();

// In-out display: what the file at path says; a missing file, or a line it cannot read, leaves
// the field as it was. Main thread.
void read_display_prefs(const char* path, MatteDisplay* display);

// Writes display to the file at path, making its folders. On failure prints "can't write view
// settings PATH" to stderr and returns false. Main thread.
bool write_display_prefs(const char* path, const MatteDisplay& display);

#endif
