// Writing a file so that a failure never destroys what the name held before.
//
// What the name is decides how: a regular file (or a new name) is written as a temporary
// file beside it and renamed over it only when complete, keeping the old file's permission
// bits; a symbolic link is followed and its final target written the same way (beside the
// target), so the link stays a link; a device or FIFO is written directly; an existing file in
// a folder that cannot take a temporary file is rewritten in place, from a complete copy, as
// the only way left to update it.
#ifndef QUILLANE_FILEIO_OUTPUT_FILE_H
#define QUILLANE_FILEIO_OUTPUT_FILE_H

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
  mode_t mode = 0;  // permission bits the written file gets
  uid_t uid = 0;
  gid_t gid = 0;
  int fd = -1;  // open for writing between output_open() and output_commit()/output_abandon()
};

// In path; out *out: how to write it. Checks, without creating anything, that it can be
// written, so that a caller can refuse before long work. Returns false with a one-line
// reason in *error (such as "Permission denied" or "is a directory").
bool output_plan(const char* path, OutputFile* out, std::string* error);

// In-out out (planned): opens out->fd for writing the new contents. Returns false with the
// reason in *error; nothing is left behind then.
bool output_open(OutputFile* out, std::string* error);

// In-out out (opened): finishes the write: the temporary file gets the mode (and, where
// allowed, the owner) and is renamed over the target, or the copy is written into the target,
// or the device is closed. Closes fd. Returns false with the reason in *error; a temporary
// file is removed then and, except for an in-place rewrite that failed half-way, the target
// is as it was.
bool output_commit(OutputFile* out, std::string* error);

// In-out out: closes fd and removes a temporary file; the target is untouched.
void output_abandon(OutputFile* out);

// Removes the temporary file of the output being written, if any. Async-signal-safe: for a
// SIGINT or SIGTERM handler that then calls _exit().
void output_remove_temporary_on_signal();

#endif
