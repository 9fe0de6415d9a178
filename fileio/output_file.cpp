#include "fileio/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

// What a signal handler on any thread needs: the temporary file being written (its name is
// changed only while temporary_set is 0), and whether an in-place rewrite must not be cut
// short. Process-wide, as signals are.
char temporary_name[4096];
std::atomic<int> temporary_set{0};
std::atomic<int> rewriting{0};
std::atomic<int> deferred_signal{0};

// A FIFO without a reader is waited for this long before it is refused.
const int kFifoWaitMs = 3000;

// The folder part of path: "." for a bare name, "/" for a name in the root.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Out *error: the text of errno value err. Returns false, for `return fail(...)`.
bool fail(std::string* error, int err) {
  *error = std::strerror(err);
  return false;
}

// Follows path's symbolic links to the name finally written (which need not exist yet).
bool resolve_links(const std::string& path, std::string* target, std::string* error) {
  std::string name = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) {
      if (errno != ENOENT) return fail(error, errno);
      *target = name;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      *target = name;
      return true;
    }
    std::vector<char> link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1);
    const ssize_t n = readlink(name.c_str(), link.data(), link.size() - 1);
    if (n < 0) return fail(error, errno);
    const std::string to(link.data(), static_cast<size_t>(n));
    name = to[0] == '/' ? to : folder_of(name) + "/" + to;
  }
  return fail(error, ELOOP);
}

// The permission bits a plain creation gets: 0666 less the umask.
mode_t creation_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Writes all size bytes of data to fd at offset, resuming after signals; false on an error.
bool write_all_at(int fd, const char* data, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// Out *bytes: the whole of fd from its start. False with errno on an error.
bool read_all(int fd, std::string* bytes) {
  bytes->clear();
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(buffer, static_cast<size_t>(n));
    at += n;
  }
}

// Whether renaming over file st in folder would be refused: a sticky folder lets only the
// owners of the file or of the folder (or a privileged user) remove or replace the file.
bool sticky_forbids_replacing(const std::string& folder, const struct stat& st) {
  struct stat dir;
  if (stat(folder.c_str(), &dir) != 0 || (dir.st_mode & S_ISVTX) == 0) return false;
  const uid_t me = geteuid();
  return me != 0 && st.st_uid != me && dir.st_uid != me;
}

// Opens a FIFO for writing once a process reads it, waiting for one a few seconds. Returns
// the descriptor (blocking), or -1 with errno (ENXIO: nobody reads it).
int open_fifo(const char* path) {
  for (int waited = 0;; waited += 20) {
    const int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno != ENXIO || waited >= kFifoWaitMs) return -1;
    const timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

// Rewrites target with the whole of fd (from its start), putting the old contents back if
// that fails. Signals are held back meanwhile (output_on_signal) and raised again after, the
// old contents put back first.
bool rewrite_in_place(int fd, const std::string& target, std::string* error) {
  std::string fresh, old;
  if (!read_all(fd, &fresh)) return fail(error, errno);
  // A file one may write but not read is rewritten without a copy of its old contents.
  int out = open(target.c_str(), O_RDWR | O_CLOEXEC);
  const bool have_old = out >= 0 && read_all(out, &old);
  if (out < 0) out = open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) return fail(error, errno);
  rewriting = 1;
  bool ok = write_all_at(out, fresh.data(), fresh.size(), 0) &&
            ftruncate(out, static_cast<off_t>(fresh.size())) == 0;
  int err = errno;
  // An interrupted command leaves OUTPUT as it was, here too.
  const bool interrupted = deferred_signal != 0;
  bool restored = false;
  if ((!ok || interrupted) && have_old)
    restored = write_all_at(out, old.data(), old.size(), 0) &&
               ftruncate(out, static_cast<off_t>(old.size())) == 0;
  if (close(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  rewriting = 0;
  if (const int signal = deferred_signal.exchange(0)) raise(signal);
  if (ok) return true;
  *error = std::string(std::strerror(err)) +
           (restored ? "; the file was left as it was" : "; the file may be damaged");
  return false;
}

}  // namespace

bool output_plan(const char* path, OutputFile* out, std::string* error, bool replace_protected) {
  *out = OutputFile();
  if (*path == '\0') {
    *error = "the name is empty";
    return false;
  }
  if (!resolve_links(path, &out->target, error)) return false;
  const std::string folder = folder_of(out->target);
  struct stat st;
  if (stat(out->target.c_str(), &st) != 0) {
    if (errno != ENOENT) return fail(error, errno);
    if (access(folder.c_str(), W_OK | X_OK) != 0) return fail(error, errno);
    out->kind = OUTPUT_REPLACE;
    out->mode = creation_mode();
    return true;
  }
  out->existed = true;
  out->mode = st.st_mode & 07777;
  out->uid = st.st_uid;
  out->gid = st.st_gid;
  if (S_ISDIR(st.st_mode)) {
    *error = "is a directory";
    return false;
  }
  if (S_ISFIFO(st.st_mode)) {
    out->kind = OUTPUT_DIRECT;
    out->fd = open_fifo(out->target.c_str());
    if (out->fd >= 0) return true;
    if (errno != ENXIO) return fail(error, errno);
    *error = "no process reads this FIFO";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    out->kind = OUTPUT_DIRECT;
    return access(out->target.c_str(), W_OK) == 0 || fail(error, errno);
  }
  const bool writable = access(out->target.c_str(), W_OK) == 0;
  const int file_error = errno;
  out->write_protected = !writable && file_error == EACCES;
  if (access(folder.c_str(), W_OK | X_OK) == 0 && !sticky_forbids_replacing(folder, st)) {
    out->kind = OUTPUT_REPLACE;
    if (out->write_protected && !replace_protected) {
      *error = "is write-protected";
      return false;
    }
    return true;
  }
  out->kind = OUTPUT_IN_PLACE;
  return writable || fail(error, file_error);
}

bool output_open(OutputFile* out, std::string* error) {
  switch (out->kind) {
    case OUTPUT_REPLACE: {
      // A short name, so that any name the folder takes leaves room for it.
      const std::string name = folder_of(out->target) + "/.quillane-XXXXXX";
      if (name.size() >= sizeof temporary_name) return fail(error, ENAMETOOLONG);
      // The handler sees the name from before the file exists, so that no moment leaves one
      // behind; mkostemp() fills in the letters before it creates the file.
      temporary_set = 0;
      std::memcpy(temporary_name, name.c_str(), name.size() + 1);
      temporary_set = 1;
      out->fd = mkostemp(temporary_name, O_CLOEXEC);
      if (out->fd < 0) {
        const int err = errno;
        temporary_set = 0;
        return fail(error, err);
      }
      out->temp = temporary_name;
      return true;
    }
    case OUTPUT_IN_PLACE: {
      // The copy lives outside the folder, unnamed; the target is touched only once it is
      // complete.
      FILE* copy = std::tmpfile();
      if (copy == nullptr) return fail(error, errno);
      out->fd = fcntl(fileno(copy), F_DUPFD_CLOEXEC, 0);
      const int err = errno;
      std::fclose(copy);
      return out->fd >= 0 || fail(error, err);
    }
    case OUTPUT_DIRECT:
      if (out->fd < 0) out->fd = open(out->target.c_str(), O_WRONLY | O_CLOEXEC);
      return out->fd >= 0 || fail(error, errno);
  }
  return fail(error, EINVAL);
}

bool output_commit(OutputFile* out, std::string* error) {
  const int fd = out->fd;
  out->fd = -1;
  if (out->kind == OUTPUT_IN_PLACE) {
    const bool ok = rewrite_in_place(fd, out->target, error);
    close(fd);
    return ok;
  }
  if (out->kind == OUTPUT_DIRECT) return close(fd) == 0 || fail(error, errno);

  // Owner first: changing it may clear set-id bits that the mode then restores. Only a
  // privileged user may give a file away, so failing that is no error.
  if (out->existed && (out->uid != geteuid() || out->gid != getegid()))
    (void)!fchown(fd, out->uid, out->gid);
  bool ok = fchmod(fd, out->mode) == 0;
  int err = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && rename(out->temp.c_str(), out->target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) unlink(out->temp.c_str());
  temporary_set = 0;
  out->temp.clear();
  return ok || fail(error, err);
}

void output_abandon(OutputFile* out) {
  if (out->fd >= 0) close(out->fd);
  out->fd = -1;
  if (!out->temp.empty()) unlink(out->temp.c_str());
  out->temp.clear();
  temporary_set = 0;
}

void output_signal_set(sigset_t* set) {
  sigemptyset(set);
  for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                SIGXCPU, SIGXFSZ, SIGPIPE, SIGPOLL, SIGSTKFLT})
    sigaddset(set, s);
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(set, s);
}

bool output_on_signal(int signal) {
  if (rewriting) {
    deferred_signal = signal;
    return false;
  }
  if (temporary_set) unlink(temporary_name);
  return true;
}
