// quillane-gimp: the GIMP 2.10 plug-in. Filters > "Matte from Strokes…" pulls a layer mask for
// the active layer from a stroke layer or a trimap of the same image; plug-in-quillane-matte is
// the same for Script-Fu and batch runs.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gimp/dialog.h"
#include "gimp/layers.h"
#include "gimp/settings.h"
#include "matting/heap_tuning.h"
#include "quillane/quillane.h"

namespace {

const char kProcedure[] = "plug-in-quillane-matte";
const char kBinary[] = "quillane-gimp";

void query() {
  static const GimpParamDef args[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"),
       const_cast<gchar*>("The photograph: the layer that gets the mask")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("strokes"),
       const_cast<gchar*>("Another layer of the image: the strokes (opaque white foreground, "
                          "opaque black background, other opaque colours their grey level, the "
                          "rest unknown) or a trimap")},
      {GIMP_PDB_INT32, const_cast<gchar*>("trimap"),
       const_cast<gchar*>("TRUE: strokes is a grey trimap (0 background, 255 foreground)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("auto-levels"),
       const_cast<gchar*>("TRUE: the calculation chooses its levels (levels and active-levels "
                          "are then not used)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("levels"),
       const_cast<gchar*>("Down scale the image this many times (1 ... a tenth of its smaller "
                          "side)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("active-levels"),
       const_cast<gchar*>("Recalculate the matte on this many levels (1 ... levels)")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("softness"),
       const_cast<gchar*>("Softness of edges (1e-7 ... 1e-5)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("radius"), const_cast<gchar*>("Window radius (1 ... 5)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("clean-colours"),
       const_cast<gchar*>("TRUE: partly transparent pixels get the estimated colour of the "
                          "foreground")},
  };
  gimp_install_procedure(
      kProcedure, "Pull a layer mask from strokes or a trimap (closed-form matting)",
      "Calculates an alpha matte for the photograph layer from a stroke layer of the same image, "
      "painted as in the Quillane editor, or from a trimap, and puts it into the layer's mask "
      "(made when the layer has none). One undo step.",
      "Quillane", "Quillane", "2026", "_Matte from Strokes…", "RGB*, GRAY*", GIMP_PLUGIN,
      G_N_ELEMENTS(args), 0, args, nullptr);
  gimp_plugin_menu_register(kProcedure, "<Image>/Filters");
}

// Progress of the library on GIMP's progress bar; its Cancel ends the plug-in, which has not
// touched the image before the matte is complete.
void show_progress(const quillane_progress* progress, void* data) {
  if (progress->level <= 0) return;
  std::string* shown = static_cast<std::string*>(data);
  if (*shown != progress->text) {
    *shown = progress->text;
    gimp_progress_set_text_printf("Matting: %s", progress->text);
  }
  if (progress->fraction >= 0)
    gimp_progress_update((progress->level - 1 + progress->fraction) /
                         std::max(progress->levels, 1));
  else
    gimp_progress_pulse();
}

// Mattes photo (the layer, or the layer of a mask) of image with settings. Returns GIMP's
// status, with *error saying why on failure. The image changes in one undo group, and only
// once the matte is complete.
GimpPDBStatusType matte(int32_t image, int32_t drawable, const MatteSettings& settings,
                        std::string* error) {
  const int32_t photo =
      gimp_item_is_layer_mask(drawable) ? gimp_layer_from_mask(drawable) : drawable;
  if (!gimp_item_is_layer(photo) || gimp_item_is_group(photo)) {
    *error = "The photograph must be a layer (not a layer group or a channel)";
    return GIMP_PDB_CALLING_ERROR;
  }
  if (!usable_strokes_layer(image, photo, settings.strokes)) {
    *error = "The strokes must be another layer of the same image (not a layer group)";
    return GIMP_PDB_CALLING_ERROR;
  }
  const LayerPixels pixels = read_photo(photo);
  const LayerPixels strokes = read_strokes(photo, settings.strokes, settings.trimap != 0);
  quillane_options options;
  settings_to_options(settings, &options);
  const quillane_pixels image_pixels = {pixels.rgba.data(), pixels.width, pixels.height,
                                        pixels.width * 4, 4};
  const quillane_pixels stroke_pixels = {strokes.rgba.data(), strokes.width, strokes.height,
                                         strokes.width * 4, 4};
  std::vector<uint8_t> alpha(static_cast<size_t>(pixels.width) * pixels.height);
  std::vector<uint8_t> foreground(settings.clean_colours ? alpha.size() * 4 : 0);

  quillane_context* q = quillane_context_new();
  if (q == nullptr) {
    *error = "out of memory";
    return GIMP_PDB_EXECUTION_ERROR;
  }
  std::string shown;
  quillane_context_set_progress(q, show_progress, &shown);
  gimp_progress_init("Matting");
  const int status =
      quillane_matte(q, &options, &image_pixels, &stroke_pixels, alpha.data(), pixels.width,
                     settings.clean_colours ? foreground.data() : nullptr, pixels.width * 4);
  const std::string message = quillane_context_message(q);
  quillane_context_free(q);
  if (status < 0) {
    *error = message.empty() ? quillane_status_message(status) : message;
    return GIMP_PDB_EXECUTION_ERROR;
  }
  if (status > 0) gimp_message(message.c_str());

  gimp_image_undo_group_start(image);
  const bool written = write_mask(photo, alpha, error);
  if (written && settings.clean_colours) write_clean_colours(photo, pixels, foreground);
  gimp_image_undo_group_end(image);
  gimp_progress_update(1.0);
  return written ? GIMP_PDB_SUCCESS : GIMP_PDB_EXECUTION_ERROR;
}

// The settings kept from the last run, or the defaults.
MatteSettings last_settings() {
  MatteSettings s = default_settings();
  if (gimp_get_data_size(kProcedure) == sizeof s) gimp_get_data(kProcedure, &s);
  return s;
}

void run(const gchar*, gint nparams, const GimpParam* param, gint* nreturn_vals,
         GimpParam** return_vals) {
  // libgimp reads the results after run() returns: they must outlive it.
  static GimpParam values[2];
  static std::string error;
  gegl_init(nullptr, nullptr);
  const GimpRunMode mode = static_cast<GimpRunMode>(param[0].data.d_int32);
  const int32_t image = param[1].data.d_image, drawable = param[2].data.d_drawable;
  const int32_t photo =
      gimp_item_is_layer_mask(drawable) ? gimp_layer_from_mask(drawable) : drawable;
  MatteSettings settings = last_settings();
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  if (mode == GIMP_RUN_NONINTERACTIVE) {
    if (nparams != 11) {
      error =
          "plug-in-quillane-matte takes 11 arguments: run-mode image drawable strokes "
          "trimap auto-levels levels active-levels softness radius clean-colours";
      status = GIMP_PDB_CALLING_ERROR;
    } else {
      settings.strokes = param[3].data.d_drawable;
      settings.trimap = param[4].data.d_int32;
      settings.auto_levels = param[5].data.d_int32;
      settings.levels = param[6].data.d_int32;
      settings.active_levels = param[7].data.d_int32;
      settings.softness = param[8].data.d_float;
      settings.radius = param[9].data.d_int32;
      settings.clean_colours = param[10].data.d_int32;
    }
  } else {
    if (!usable_strokes_layer(image, photo, settings.strokes))
      settings.strokes = default_strokes_layer(image, photo);
    if (mode == GIMP_RUN_INTERACTIVE) {
      gimp_ui_init(kBinary, FALSE);
      if (!run_matte_dialog(image, photo, &settings)) status = GIMP_PDB_CANCEL;
    }
  }
  if (status == GIMP_PDB_SUCCESS) status = matte(image, drawable, settings, &error);
  if (status == GIMP_PDB_SUCCESS && mode != GIMP_RUN_NONINTERACTIVE) {
    gimp_set_data(kProcedure, &settings, sizeof settings);
    gimp_displays_flush();
  }
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = status;
  *nreturn_vals = 1;
  *return_vals = values;
  if (status == GIMP_PDB_CALLING_ERROR || status == GIMP_PDB_EXECUTION_ERROR) {
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = const_cast<gchar*>(error.c_str());
    *nreturn_vals = 2;
  }
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

// GIMP starts the plug-in for each call: one calculation a process, as the tool's.
int main(int argc, char** argv) {
  restart_with_tuned_heap(argv, kHeapTunablesOneCalculation);
  return gimp_main(&PLUG_IN_INFO, argc, argv);
}
