/* Preloaded into the tool: files that misbehave as they do on a real server.
 * OST_DENY_READ=SUFFIX: opening for reading a path that ends in SUFFIX fails with
 *   EACCES, as a file of mode 000 does for a tool that is not root, or a file held
 *   without read sharing on Windows.
 * OST_KILL_AFTER_RENAME=SUFFIX: the process is killed right after a rename onto a
 *   path that ends in SUFFIX has succeeded, as a power cut or a task manager would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

static int ends_with(const char* path, const char* variable) {
  const char* suffix = getenv(variable);
  if (!path || !suffix || !*suffix) return 0;
  size_t n = strlen(path), m = strlen(suffix);
  return n >= m && strcmp(path + n - m, suffix) == 0;
}

static int denied(const char* path, int flags) {
  if ((flags & O_ACCMODE) != O_RDONLY || !ends_with(path, "OST_DENY_READ")) return 0;
  errno = EACCES;
  return 1;
}

static mode_t mode_of(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  if (denied(path, flags)) return -1;
  if (!real) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  if (denied(path, flags)) return -1;
  if (!real) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open64");
  return real(path, flags, mode);
}

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (!real) real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  int result = real(from, to);
  if (result == 0 && ends_with(to, "OST_KILL_AFTER_RENAME")) raise(SIGKILL);
  return result;
}
