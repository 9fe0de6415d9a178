#include "fileio/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The temporary file being written, for the signal handler. Changed only with the
// termination signals blocked, so that the handler never sees half a name.
char temporary_name[4096];
volatile sig_atomic_t temporary_set = 0;

// Blocks the termination signals on this thread while it lives.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

// No temporary file is being written any more.
void forget_temporary() {
  SignalsBlocked blocked;
  temporary_set = 0;
}

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

// Writes all size bytes of data to fd, resuming after signals; false on an error.
bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the whole of fd (from its start) into target, which is cut to the new length.
bool copy_into(int fd, const std::string& target, std::string* error) {
  const int out = open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) return fail(error, errno);
  bool ok = lseek(fd, 0, SEEK_SET) == 0;
  off_t length = 0;
  char buffer[1 << 16];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = write_all(out, buffer, static_cast<size_t>(n));
    length += n;
  }
  ok = ok && ftruncate(out, length) == 0;
  const int err = errno;
  if (close(out) != 0) ok = false;
  if (!ok) {
    *error = std::string(std::strerror(err != 0 ? err : errno)) + "; the file may be damaged";
    return false;
  }
  return true;
}

}  // namespace

bool output_plan(const char* path, OutputFile* out, std::string* error) {
  *out = OutputFile();
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
  if (!S_ISREG(st.st_mode)) {
    out->kind = OUTPUT_DIRECT;
    return access(out->target.c_str(), W_OK) == 0 || fail(error, errno);
  }
  if (access(folder.c_str(), W_OK | X_OK) == 0) {
    out->kind = OUTPUT_REPLACE;
    return true;
  }
  out->kind = OUTPUT_IN_PLACE;
  return access(out->target.c_str(), W_OK) == 0 || fail(error, errno);
}

bool output_open(OutputFile* out, std::string* error) {
  switch (out->kind) {
    case OUTPUT_REPLACE: {
      const size_t slash = out->target.rfind('/');
      const std::string base =
          slash == std::string::npos ? out->target : out->target.substr(slash + 1);
      std::string name = folder_of(out->target) + "/." + base + ".XXXXXX";
      if (name.size() >= sizeof temporary_name) return fail(error, ENAMETOOLONG);
      SignalsBlocked blocked;
      std::vector<char> buffer(name.begin(), name.end());
      buffer.push_back('\0');
      out->fd = mkostemp(buffer.data(), O_CLOEXEC);
      if (out->fd < 0) return fail(error, errno);
      out->temp = buffer.data();
      std::memcpy(temporary_name, buffer.data(), buffer.size());
      temporary_set = 1;
      return true;
    }
    case OUTPUT_IN_PLACE: {
      // The copy lives outside the read-only folder; the target is touched only once it is
      // complete.
      FILE* copy = std::tmpfile();
      if (copy == nullptr) return fail(error, errno);
      out->fd = fcntl(fileno(copy), F_DUPFD_CLOEXEC, 0);
      const int err = errno;
      std::fclose(copy);
      return out->fd >= 0 || fail(error, err);
    }
    case OUTPUT_DIRECT:
      out->fd = open(out->target.c_str(), O_WRONLY | O_CLOEXEC);
      return out->fd >= 0 || fail(error, errno);
  }
  return fail(error, EINVAL);
}

bool output_commit(OutputFile* out, std::string* error) {
  const int fd = out->fd;
  out->fd = -1;
  if (out->kind == OUTPUT_IN_PLACE) {
    const bool ok = copy_into(fd, out->target, error);
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
  forget_temporary();
  out->temp.clear();
  return ok || fail(error, err);
}

void output_abandon(OutputFile* out) {
  if (out->fd >= 0) close(out->fd);
  out->fd = -1;
  if (!out->temp.empty()) unlink(out->temp.c_str());
  out->temp.clear();
  forget_temporary();
}

void output_remove_temporary_on_signal() {
  if (temporary_set) unlink(temporary_name);
}
