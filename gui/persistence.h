// The window geometry file: 16 bytes, four little-endian 32-bit signed integers x, y, width,
// height, at APPDATA/Tessaly/quillane/quillane-1.0 (the XDG configuration folder stands in
// for APPDATA when it is not set).
#ifndef QUILLANE_GUI_PERSISTENCE_H
#define QUILLANE_GUI_PERSISTENCE_H

#include <cstdio>

#include <gtk/gtk.h>

// Path of the geometry file, built by set_configuration(); null before.
extern char* appdata;

// Builds appdata, reads the file and applies it to window. A missing, short (under 16 bytes)
// or absurd record (width or height not positive or larger than the screen) leaves the
// window at its default size and position. A position that would leave the title bar off
// every monitor (one unplugged since) is ignored: the window is centred on the primary one.
void set_configuration(GtkWidget* window);

// Writes the root origin and allocated size of widget's toplevel to appdata; on failure
// prints "can't write persistence data %s\n" to stderr.
void pre_quit_event(GtkWidget* widget);

// fopen() after creating every missing folder along path ('/' and '\\' separate). Prints
// "CreateDirectory failed (%d)\n" with the error number to stderr and returns null when a
// folder cannot be made. Close the stream with fclose().
FILE* fopen_p(const char* path, const char* mode);

// Record layout helpers: 16 bytes <-> four values.
void geometry_encode(const int values[4], unsigned char bytes[16]);
void geometry_decode(const unsigned char bytes[16], int values[4]);

#endif
