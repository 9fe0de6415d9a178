#include "gui/live_matte.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "gui/calc_slot.h"
#include "gui/editor.h"
#include "gui/image_source.h"
#include "gui/layer_state.h"
#include "gui/layout_report.h"
#include "gui/live_worker.h"
#include "gui/matte_write.h"
#include "gui/modes.h"
#include "gui/view.h"
#include "matting/matte_session.h"
#include "matting/solver_status.h"

namespace {

bool same_region(const CalcRegion& a, const CalcRegion& b) {
  return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

bool same_key(const LiveKey& a, const LiveKey& b) {
  return a.image == b.image && same_region(a.region, b.region) && a.softness == b.softness &&
         a.threshold == b.threshold && a.window_radius == b.window_radius;
}

bool same_display(const MatteDisplay& a, const MatteDisplay& b) {
  return a.show == b.show && a.tint.red == b.tint.red && a.tint.green == b.tint.green &&
         a.tint.blue == b.tint.blue;
}

// Out slot: key, holding a reference to its image (the old one's is released).
void set_key(LiveKey* slot, const LiveKey& key) {
  if (key.image != nullptr) g_object_ref(key.image);
  if (slot->image != nullptr) g_object_unref(slot->image);
  *slot = key;
}

// Shows "live · text" at the end of the status bar, making the label the first time.
void say(Editor& ed, const std::string& text) {
  LiveMatte& live = ed.live;
  if (live.state_label == nullptr) {
    if (ed.view.status_bar == nullptr) return;  // the window is gone
    live.state_label = gtk_label_new("");
    gtk_box_pack_end(GTK_BOX(ed.view.status_bar), live.state_label, FALSE, FALSE, 6);
    g_signal_connect(live.state_label, "destroy", G_CALLBACK(gtk_widget_destroyed),
                     &live.state_label);
  }
  gtk_label_set_text(GTK_LABEL(live.state_label), ("live · " + text).c_str());
  gtk_widget_show(live.state_label);
}

std::string level_text(int level, int levels) {
  return "level " + std::to_string(level) + " of " + std::to_string(levels);
}

// Out region: the region an update works on, as Calculate takes it. False when it lies outside
// the image.
bool live_region(const Editor& ed, CalcRegion* region) {
  const Document& doc = ed.doc();
  const int W = gdk_pixbuf_get_width(doc.pixbuf_no_alpha);
  const int H = gdk_pixbuf_get_height(doc.pixbuf_no_alpha);
  *region = {0, 0, W, H};
  if (!doc.calc_ROI_is_set) return true;
  *region = {doc.x_img_ROI, doc.y_img_ROI, doc.w_img_ROI, doc.h_img_ROI};
  return clamp_calc_region(region, W, H);
}

LiveKey key_of(GdkPixbuf* image, const CalcRegion& region, const CalcOptions& options) {
  return {image, region, options.softness, options.threshold, options.window_radius};
}

// The key of what an update would work on now; false when the region lies outside the image.
bool current_key(const Editor& ed, LiveKey* key) {
  CalcRegion region;
  if (!live_region(ed, &region)) return false;
  *key = key_of(ed.doc().pixbuf_no_alpha, region, ed.calc.pass_option_args->options);
  return true;
}

// The document's image composed with its matte (pixbuf_alpha). New surface, or null.
cairo_surface_t* compose_document(const Editor& ed) {
  GdkPixbuf* image = ed.doc().pixbuf_no_alpha;
  GdkPixbuf* alpha = ed.doc().pixbuf_alpha;
  const int W = gdk_pixbuf_get_width(image), H = gdk_pixbuf_get_height(image);
  const bool has_alpha = gdk_pixbuf_get_n_channels(alpha) == 4;
  static const uint8_t opaque = 255;
  const MatteSource source = {has_alpha ? gdk_pixbuf_get_pixels(alpha) + 3 : &opaque,
                              W,
                              H,
                              has_alpha ? gdk_pixbuf_get_rowstride(alpha) : 0,
                              has_alpha ? 4 : 0,
                              {0, 0, W, H}};
  return compose_matte(gdk_pixbuf_get_pixels(image), gdk_pixbuf_get_rowstride(image),
                       gdk_pixbuf_get_n_channels(image), W, H, source, ed.display);
}

// The preview on show composed again (after another choice of Show matte as).
cairo_surface_t* compose_preview(const Editor& ed) {
  const LivePreview& p = ed.live.preview;
  GdkPixbuf* image = ed.doc().pixbuf_no_alpha;
  const MatteSource source = {p.alpha.data(), p.width, p.height, p.width, 1, p.region};
  return compose_matte(gdk_pixbuf_get_pixels(image), gdk_pixbuf_get_rowstride(image),
                       gdk_pixbuf_get_n_channels(image), gdk_pixbuf_get_width(image),
                       gdk_pixbuf_get_height(image), source, ed.display);
}

// Shows picture (owned from now on; null: the image as the specified views show it): the view
// surface is painted again, with the strokes in edit mode and the region's outline where the
// mode shows it.
void show_picture(Editor& ed, cairo_surface_t* picture) {
  View& view = ed.view;
  set_backdrop(&view, picture);
  GdkPixbuf*& shown = ed.live.shown_image;
  if (shown != nullptr) g_object_unref(shown);
  shown = picture != nullptr ? GDK_PIXBUF(g_object_ref(ed.doc().pixbuf_no_alpha)) : nullptr;
  if (view.drawing_area == nullptr) return;
  rebuild_view_surface(&ed);
  if (ed.doc().calc_ROI_is_set || !view.in_edit_mode) {
    set_ROI_for_winsurf(&view, ed.doc());
    draw_rect(&ed, view.drawing_area, view.left_x, view.top_y);
  }
  gtk_widget_queue_draw(view.drawing_area);
}

// With QUILLANE_PRINT_LAYOUT set: "live N W H" once a matte of W x H is on the screen, N ms
// after the change its update answers, and "live done N" for the full-resolution one.
void report_frame(Editor& ed, const LiveJob& job, const LiveFrame& frame) {
  GtkWidget* canvas = ed.view.drawing_area;
  if (!layout_report_wanted() || canvas == nullptr) return;
  if (canvas->window != nullptr) gdk_window_process_updates(canvas->window, FALSE);
  gdk_flush();
  const long ms = static_cast<long>((g_get_monotonic_time() - job.changed_at) / 1000);
  std::printf("live %ld %d %d\n", ms, frame.width, frame.height);
  if (frame.final) std::printf("live done %ld\n", ms);
  std::fflush(stdout);
}

void take_frame(Editor& ed, LiveJob* job, LiveFrame* frame) {
  LiveMatte& live = ed.live;
  CalcRegion region;
  // The matte of another image or region than the one in force now is not shown.
  if (!live.on || job->key.image != ed.doc().pixbuf_no_alpha || !live_region(ed, &region) ||
      !same_region(region, job->key.region))
    return;
  if (frame->final) {
    // The image's matte, as if Calculate had delivered it. While a Calculate's request is
    // current the document waits for that one.
    Document* doc = document_to_change(&ed, true);
    if (doc == nullptr) return;
    write_region_matte(doc->pixbuf_alpha, doc->pixbuf_no_alpha, region, frame->alpha.data(),
                       frame->width, frame->height, frame->width);
    invalidate_image_source(&ed.view);
    live.preview = LivePreview();
    live.done_strokes = job->strokes;
  } else {
    live.preview.alpha.swap(frame->alpha);
    live.preview.width = frame->width;
    live.preview.height = frame->height;
    live.preview.region = region;
  }
  cairo_surface_t* picture = frame->picture;
  frame->picture = nullptr;
  if (picture == nullptr || !same_display(job->display, ed.display)) {
    if (picture != nullptr) cairo_surface_destroy(picture);
    picture = frame->final ? compose_document(ed) : compose_preview(ed);
  }
  show_picture(ed, picture);
  if (frame->final) {
    live.job_final_shown = true;
    say(ed, live.pending ? "recalculating" : "up to date");
  }
  report_frame(ed, *job, *frame);
}

// 100 ms timer while an update runs: the level it works on.
gboolean follow_level(gpointer editor) {
  Editor& ed = *static_cast<Editor*>(editor);
  LiveJob* job = ed.live.job;
  if (job == nullptr) {
    ed.live.timer = 0;
    return FALSE;
  }
  const CalcProgress p = job->control.progress();
  if (p.level > 0 && !job->control.cancel_requested() && !ed.live.job_final_shown)
    say(ed, level_text(p.level, p.levels));
  return TRUE;
}

void stop_timer(LiveMatte& live) {
  if (live.timer != 0) g_source_remove(live.timer);
  live.timer = 0;
}

// Starts an update of the strokes as they are now (no thread alive, the live matte on).
void start_update(Editor& ed) {
  LiveMatte& live = ed.live;
  live.pending = false;
  if (ed.view.drawing_area == nullptr) return;  // the window is gone
  LiveKey key;
  if (!current_key(ed, &key)) {
    say(ed, "the calculation region lies outside the image");
    return;
  }
  const CalcOptions& options = ed.calc.pass_option_args->options;
  if (!calc_region_fits_window(key.region, options.window_radius)) {
    say(ed, calc_region_size_message(key.region, options.window_radius));
    return;
  }
  if (!same_key(key, live.key)) {
    live.session.reset();
    live.done_strokes = 0;
    set_key(&live.key, key);
  }
  const uint64_t strokes = layer_fingerprint(ed.strokes, key.region);
  if (strokes == live.done_strokes) {
    say(ed, "up to date");
    return;
  }
  LiveJob* job = new LiveJob();
  set_key(&job->key, key);
  job->options = options;
  job->options.auto_levels = 1;
  try {
    const CalcRegion& r = key.region;
    cairo_surface_t* layer = ed.strokes.surf_layer;
    cairo_surface_flush(layer);
    const uint8_t* data = cairo_image_surface_get_data(layer);
    const int stride = cairo_image_surface_get_stride(layer);
    job->layer.resize(static_cast<size_t>(r.w) * r.h);
    for (int y = 0; y < r.h; ++y)
      std::memcpy(&job->layer[static_cast<size_t>(y) * r.w],
                  data + static_cast<size_t>(r.y + y) * stride + static_cast<size_t>(r.x) * 4,
                  static_cast<size_t>(r.w) * 4);
  } catch (const std::bad_alloc&) {
    say(ed, solver_status_message(-1));
    release_live_job(job);
    return;
  }
  job->display_width = static_cast<int>(key.region.w * ed.view.scale);
  job->display_height = static_cast<int>(key.region.h * ed.view.scale);
  job->display = ed.display;
  job->observer = ed.calc.worker_observer;
  job->serial = ++live.serial;
  job->changed_at = live.changed_at;
  job->strokes = strokes;
  job->session = live.session;
  job->editor = &ed;
  GError* error = nullptr;
  GThread* thread = ed.calc.thread_create != nullptr
                        ? ed.calc.thread_create(live_worker, job, &error)
                        : g_thread_try_new("live-matte", live_worker, job, &error);
  if (thread == nullptr) {
    say(ed, std::string("could not start: ") + (error != nullptr ? error->message : "?"));
    if (error != nullptr) g_error_free(error);
    release_live_job(job);
    return;
  }
  live.job = job;
  live.job_final_shown = false;
  say(ed, "calculating");
  live.timer = g_timeout_add(100, follow_level, &ed);
}

// The update has returned and its thread has been joined.
void finish_job(Editor& ed, LiveJob* job) {
  LiveMatte& live = ed.live;
  live.job = nullptr;
  stop_timer(live);
  if (live.on && same_key(job->key, live.key)) live.session = job->session;
  if (live.on) {
    if (job->input & (CALC_INPUT_NO_BACKGROUND | CALC_INPUT_NO_FOREGROUND))
      say(ed, "paint both foreground and background");
    else if (job->input & CALC_INPUT_NOTHING_UNKNOWN)
      say(ed, calc_nothing_unknown_message);
    else if (job->status != 0 && job->status != CALC_STATUS_CANCELLED)
      say(ed, solver_status_message(job->status) != nullptr ? solver_status_message(job->status)
                                                            : "failure");
  }
  calculation_thread_ended(ed);
}

gboolean kick(gpointer editor) {
  gdk_threads_enter();
  Editor& ed = *static_cast<Editor*>(editor);
  ed.live.kick = 0;
  live_resume(ed);
  gdk_threads_leave();
  return FALSE;
}

void schedule(Editor& ed) {
  if (ed.live.kick == 0) ed.live.kick = g_idle_add(kick, &ed);
}

void unschedule(LiveMatte& live) {
  if (live.kick != 0) g_source_remove(live.kick);
  live.kick = 0;
}

// Forgets the session and what its matte is of, and the preview.
void forget_session(LiveMatte& live) {
  live.session.reset();
  set_key(&live.key, LiveKey());
  live.done_strokes = 0;
  live.preview = LivePreview();
}

}  // namespace

gboolean live_frame_arrived(gpointer data) {
  gdk_threads_enter();
  LiveFrame* frame = static_cast<LiveFrame*>(data);
  LiveJob* job = frame->job;
  if (job->editor != nullptr) take_frame(*job->editor, job, frame);
  if (frame->picture != nullptr) cairo_surface_destroy(frame->picture);
  delete frame;
  release_live_job(job);
  gdk_threads_leave();
  return FALSE;
}

gboolean live_job_done(gpointer data) {
  gdk_threads_enter();
  LiveJob* job = static_cast<LiveJob*>(data);
  g_thread_join(job->thread);
  if (job->editor != nullptr) finish_job(*job->editor, job);
  release_live_job(job);
  gdk_threads_leave();
  return FALSE;
}

void note_strokes_changed(Editor& ed) {
  LiveMatte& live = ed.live;
  if (!live.on) return;
  if (live.shown_image != nullptr && live.shown_image != ed.doc().pixbuf_no_alpha) {
    // Another image was opened: its own matte until an update brings the live one.
    live.preview = LivePreview();
    show_picture(ed, compose_document(ed));
  }
  live.pending = true;
  live.changed_at = g_get_monotonic_time();
  // The running update restarts from where it is once it has returned.
  if (live.job != nullptr)
    live.job->control.request_cancel();
  else
    schedule(ed);
}

void note_matte_inputs_changed(Editor& ed) {
  LiveMatte& live = ed.live;
  if (!live.on) return;
  LiveKey key;
  // Options the live matte does not use (levels, solver) leave the running update alone.
  if (live.job != nullptr && current_key(ed, &key) && same_key(key, live.job->key)) return;
  note_strokes_changed(ed);
}

void set_live_matte(Editor& ed, bool on) {
  LiveMatte& live = ed.live;
  if (live.on == on) return;
  live.on = on;
  if (on) {
    live.pending = true;
    live.changed_at = g_get_monotonic_time();
    say(ed, "calculating");
    show_picture(ed, compose_document(ed));
    schedule(ed);
    return;
  }
  if (live.job != nullptr) live.job->control.request_cancel();
  live.pending = false;
  unschedule(live);
  stop_timer(live);
  forget_session(live);
  if (live.state_label != nullptr) gtk_widget_hide(live.state_label);
  show_picture(ed, nullptr);
}

void live_display_changed(Editor& ed) {
  if (!ed.live.on) return;
  show_picture(ed, ed.live.preview.alpha.empty() ? compose_document(ed) : compose_preview(ed));
}

bool live_thread_alive(const Editor& ed) {
  return ed.live.job != nullptr;
}

void live_make_way(Editor& ed) {
  LiveMatte& live = ed.live;
  if (live.job == nullptr) return;
  live.job->control.request_cancel();
  live.pending = true;  // its strokes are still to be done
}

void live_resume(Editor& ed) {
  LiveMatte& live = ed.live;
  if (!live.on || !live.pending || live.job != nullptr) return;
  if (ed.calc.running() || calculation_thread_alive(ed)) {
    say(ed, "waiting for the calculation");
    return;
  }
  start_update(ed);
}

std::shared_ptr<MatteSession> live_session_for(Editor& ed, const CalcArgs& args) {
  LiveMatte& live = ed.live;
  if (!live.session) return nullptr;
  if (live.on && args.options.auto_levels != 0 &&
      same_key(key_of(args.source, args.region, args.options), live.key))
    return live.session;
  live.session->drop_cache();
  return nullptr;
}

void live_note_delivered(Editor& ed, const CalcArgs& args) {
  LiveMatte& live = ed.live;
  const TIFF_img* matte = args.alpha_img;
  if (!live.on || matte == nullptr || matte->TIFF_type != 'g' ||
      args.source != ed.doc().pixbuf_no_alpha)
    return;
  // The image's matte is now of these strokes: the live matte need not calculate them again.
  const LiveKey key = key_of(args.source, args.region, args.options);
  if (!same_key(key, live.key)) {
    live.session.reset();
    set_key(&live.key, key);
  }
  live.done_strokes = args.strokes;
  live.preview = LivePreview();
  show_picture(ed, compose_document(ed));
}

std::string live_state_text(const Editor& ed) {
  const GtkWidget* label = ed.live.state_label;
  if (!ed.live.on || label == nullptr) return "";
  return gtk_label_get_text(GTK_LABEL(label));
}

void release_live_matte(Editor& ed) {
  LiveMatte& live = ed.live;
  if (live.job != nullptr) {
    // The update frees itself when it ends.
    live.job->control.request_cancel();
    live.job->editor = nullptr;
    live.job = nullptr;
  }
  unschedule(live);
  stop_timer(live);
  forget_session(live);
  set_backdrop(&ed.view, nullptr);
  if (live.shown_image != nullptr) g_object_unref(live.shown_image);
  live.shown_image = nullptr;
}
