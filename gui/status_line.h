// The status bar's messages: the pointer readout on one context, command messages on another.
// A command message stays a few seconds before the pointer readout may cover it; a refusal is
// withdrawn again when it no longer holds.
#ifndef QUILLANE_GUI_STATUS_LINE_H
#define QUILLANE_GUI_STATUS_LINE_H

#include <gtk/gtk.h>

// Status-bar contexts: 0 the pointer readout, 1 command messages.
enum { STATUS_POINTER = 0, STATUS_MESSAGE = 1 };

// What the status bar said last: when a message that must stay a while was shown (monotonic
// time, 0 for none), and the id of the last refusal (0 when none).
struct StatusMessages {
  gint64 shown_at = 0;
  guint refusal = 0;
};

// Replaces the status bar's message on context id with text.
void update_statusbar(const gchar* text, guint context_id, GtkWidget* bar);

// Shows text as bar's command message (in-out said: its time). Returns the message id
// (gtk_statusbar_remove), 0 when the bar is gone (null).
guint show_status_message(GtkWidget* bar, StatusMessages* said, const char* text);

// True for a few seconds after show_status_message() or a refusal, so that the pointer
// readout does not cover the message at once.
bool refusal_recently_shown(const StatusMessages& said);

// Shows text as a refusal, which withdraw_refusal() takes back (in-out said).
void show_refusal(GtkWidget* bar, StatusMessages* said, const char* text);

// Takes the last refusal back, unless a newer message replaced it, and lets the pointer
// readout show at once (in-out said).
void withdraw_refusal(GtkWidget* bar, StatusMessages* said);

// Makes a message too long for the bar readable: the bar leaves out the middle of its text
// (a long file name), not its end (the reason), and shows the whole text as its tooltip.
void make_status_readable(GtkWidget* bar);

#endif
