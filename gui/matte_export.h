// "Matte only (grey PNG)": the matte alone, as compositing programs and quillane-matte's
// --alpha-only give it. The Save dialog offers it beside "Image with alpha" in view mode
// (save_choice.h); Copy in view mode follows the choice. The PNG is encoded by the encoder the
// tool uses (fileio/png_write.h): the same matte, the same bytes.
#ifndef QUILLANE_GUI_MATTE_EXPORT_H
#define QUILLANE_GUI_MATTE_EXPORT_H

#include <gtk/gtk.h>

#include <cstdint>
#include <string>
#include <vector>

#include "matting/calc_input.h"

// The alpha of pixbuf (RGBA) inside region (image pixels, inside the pixbuf), one byte a pixel,
// rows top to bottom without padding; 255 everywhere for a pixbuf without alpha. Out *grey is
// replaced; false when memory runs out.
bool matte_of(GdkPixbuf* pixbuf, const CalcRegion& region, std::vector<uint8_t>* grey);

// The grey PNG of the matte of pixbuf inside region into *png (replaced). Returns false with
// the reason in *reason.
bool encode_matte_png(GdkPixbuf* pixbuf, const CalcRegion& region, std::vector<uint8_t>* png,
                      std::string* reason);

// Puts the matte of pixbuf inside region on the CLIPBOARD selection and asks the clipboard
// manager to keep it: "image/png" is the grey PNG of encode_matte_png(), the other image
// targets get the same grey picture through GdkPixbuf. Returns false with the reason in
// *reason (nothing changes on the clipboard then).
bool matte_to_clipboard(GdkPixbuf* pixbuf, const CalcRegion& region, std::string* reason);

#endif
