#include "gui/platform.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <glib.h>

int create_directory(const char* path) {
  if (mkdir(path, 0777) == 0) return 0;
  int error = errno;
  struct stat st;
  if (error == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return error;
}

char* user_application_data_dir() {
  const char* appdata = g_getenv("APPDATA");
  if (appdata != nullptr && appdata[0] != '\0') return g_strdup(appdata);
  return g_strdup(g_get_user_config_dir());
}

void lower_thread_priority() {
#ifdef SYS_gettid
  // Linux keeps the nice value per thread, and new threads inherit it.
  const id_t self = static_cast<id_t>(syscall(SYS_gettid));
  const int now = getpriority(PRIO_PROCESS, self);
  if (now < 10) setpriority(PRIO_PROCESS, self, 10);
#endif
}
