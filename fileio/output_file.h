// Writing a file so that a failure never destroys what the name held before.
//
// What the name is decides how: a regular file (or a new name) is written as a temporary
// file beside it and renamed over it only when complete, keeping the old file's permission
// bits; a symbolic link is followed and its final target written the same way (beside the
// target), so the link stays a link; a device or FIFO is written directly; an existing file
// that cannot be replaced (in a folder that cannot take a temporary file, or another user's
// in a sticky folder) is rewritten in place from a complete copy, as the only way left to
// update it, and its old contents are put back if that rewrite fails.
//
// Signals: a program that writes outputs gives every signal of output_signal_set() a handler
// that first calls output_on_signal().
#ifndef QUILLANE_FILEIO_OUTPUT_FILE_H
#define QUILLANE_FILEIO_OUTPUT_FILE_H

#include <signal.h>
#include <sys/types.h>

#include <string>

enum OutputKind {
  OUTPUT_REPLACE,   // temporary file beside the target, renamed over it
  OUTPUT_IN_PLACE,  // temporary copy elsewhere, copied into the existing target
  OUTPUT_DIRECT,    // device or FIFO: written as it is
};

struct OutputFile {
  OutputKind kind = OUTPUT_REPLACE;
  std::string target;  // the file finally written: the name with its links resolved
  std::string temp;    // OUTPUT_REPLACE while open: the temporary file
  bool existed = false;
  bool write_protected = false;  // an existing file its owner may not write (refused unless
                                 // output_plan() was told to replace it)
  mode_t mode = 0;               // permission bits the written file gets
  uid_t uid = 0;
  gid_t gid = 0;
  int fd = -1;  // open for writing between output_open() and output_commit()/output_abandon();
                // a FIFO is opened by output_plan() already
};

// In path; out *out: how to write it. Checks, without creating anything, that it can be
// written, so that a caller can refuse before long work: a FIFO must have a reader (waited for
// a few seconds) and is kept open; a write-protected file (one access() says may not be
// written) is refused unless replace_protected. Returns false with a one-line reason in *error
// (such as "Permission denied", "is a directory" or "is write-protected").
bool output_plan(const char* path, OutputFile* out, std::string* error,
                 bool replace_protected = true);

// In-out out (planned): opens out->fd for writing the new contents. Returns false with the
// reason in *error; nothing is left behind then.
bool output_open(OutputFile* out, std::string* error);

// In-out out (opened): finishes the write: the temporary file gets the mode (and, where
// allowed, the owner) and is renamed over the target, or the copy is written into the target
// with the output signals held back, or the device is closed. Closes fd. Returns false with
// the reason in *error; a temporary file is removed then and the target is as it was (an
// in-place rewrite that failed is undone; if even that fails, *error says the file may be
// damaged).
bool output_commit(OutputFile* out, std::string* error);

// In-out out: closes fd and removes a temporary file; the target is untouched.
void output_abandon(OutputFile* out);

// Out set: the signals that end a process by default and can be caught (all but the faults
// of the program itself).
void output_signal_set(sigset_t* set);

// For a handler of signal (one of output_signal_set()), on any thread; async-signal-safe.
// Removes the temporary file being written, if any, and returns true: the handler may end the
// process. Returns false while an in-place rewrite is under way: the handler must return, and
// the signal is raised again once the target is whole.
bool output_on_signal(int signal);

#endif
