// The plug-in's dialog: the stroke layer (or trimap) and the options of a matte.
#ifndef QUILLANE_GIMP_DIALOG_H
#define QUILLANE_GIMP_DIALOG_H

#include <cstdint>

#include "gimp/settings.h"

// Shows the dialog for photo (in) of image (in), starting from *settings (in-out; a stroke
// layer that is not usable is replaced by the default one). Returns true on OK, with
// *settings as chosen; false on Cancel or close, with *settings unchanged. Needs
// gimp_ui_init(); runs its own main loop on the calling (main) thread.
bool run_matte_dialog(int32_t image, int32_t photo, MatteSettings* settings);

#endif
