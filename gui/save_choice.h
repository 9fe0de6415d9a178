// What the Save dialog writes in view mode: "Image with alpha" (the image with its matte as
// alpha channel, the default) or "Matte only (grey PNG)" (matte_export.h), and "Clean edge
// colours" for the image (clean_edges.h). The choices are remembered in the Session until the
// editor quits; Copy follows them.
#ifndef QUILLANE_GUI_SAVE_CHOICE_H
#define QUILLANE_GUI_SAVE_CHOICE_H

#include <gtk/gtk.h>

// The dialog's extra widget and the two controls read back from it.
struct SaveChoice {
  GtkWidget* box = nullptr;         // the extra widget, owned by the dialog once set
  GtkWidget* matte_only = nullptr;  // the radio button "Matte only (grey PNG)"
  GtkWidget* clean = nullptr;       // the check box "Clean edge colours"
};

// Makes the widgets, set from the remembered choices (in: matte_only, clean), and shows them;
// the caller makes box the dialog's extra widget. "Clean edge colours" is insensitive while
// the matte is chosen: a matte has no colours to clean.
SaveChoice make_save_choice(bool matte_only, bool clean);

// Reads the choices back (out: *matte_only, *clean).
void read_save_choice(const SaveChoice& choice, bool* matte_only, bool* clean);

#endif
