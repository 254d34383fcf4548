/* Preloaded into the tool: every call that changes a file under OST_KILL_ROOT (a
   write, positioned write, truncation, rename, unlink or sync; the run's journal left
   out) is a point where a kill can strike. Points are counted from 1; with
   OST_KILL_LOG set each one is appended there as "N call path", and with OST_KILL_AT=N
   the process kills itself with SIGKILL right before point N runs. With
   OST_KILL_QUICK_SLEEP=1 a sleep of a second or more (the service manager's polls)
   lasts a millisecond: the sandbox's services settle at once, and a sweep of many runs
   need not wait for them. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static long points;

static int watched(const char* path) {
  const char* root = getenv("OST_KILL_ROOT");
  if (!root || !path) return 0;
  if (strncmp(path, root, strlen(root)) != 0) return 0;
  return strstr(path, "OstServerUpdate.log") == NULL;
}

static void point(const char* call, const char* path) {
  if (!watched(path)) return;
  pthread_mutex_lock(&lock);
  long n = ++points;
  const char* log = getenv("OST_KILL_LOG");
  if (log) {
    char line[PATH_MAX + 64];
    int length = snprintf(line, sizeof line, "%ld %s %s\n", n, call, path);
    int fd = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd >= 0) {
      syscall(SYS_write, fd, line, (size_t)length);
      syscall(SYS_close, fd);
    }
  }
  const char* at = getenv("OST_KILL_AT");
  if (at && atol(at) == n) syscall(SYS_kill, getpid(), SIGKILL);
  pthread_mutex_unlock(&lock);
}

static void fd_point(const char* call, int fd) {
  if (fd <= 2) return;
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(link, path, sizeof path - 1);
  if (length <= 0) return;
  path[length] = 0;
  point(call, path);
}

static void absolute_point(const char* call, const char* path) {
  if (path[0] == '/') {
    point(call, path);
    return;
  }
  char cwd[PATH_MAX], full[2 * PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return;
  snprintf(full, sizeof full, "%s/%s", cwd, path);
  point(call, full);
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* data, size_t size) {
  fd_point("write", fd);
  return REAL(write)(fd, data, size);
}
ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
  fd_point("pwrite", fd);
  return REAL(pwrite)(fd, data, size, at);
}
ssize_t pwrite64(int fd, const void* data, size_t size, off64_t at) {
  fd_point("pwrite", fd);
  return REAL(pwrite64)(fd, data, size, at);
}
int ftruncate(int fd, off_t length) {
  fd_point("ftruncate", fd);
  return REAL(ftruncate)(fd, length);
}
int ftruncate64(int fd, off64_t length) {
  fd_point("ftruncate", fd);
  return REAL(ftruncate64)(fd, length);
}
int fsync(int fd) {
  fd_point("fsync", fd);
  return REAL(fsync)(fd);
}
int fdatasync(int fd) {
  fd_point("fsync", fd);
  return REAL(fdatasync)(fd);
}
int rename(const char* from, const char* to) {
  absolute_point("rename", to);
  return REAL(rename)(from, to);
}
int unlink(const char* path) {
  absolute_point("unlink", path);
  return REAL(unlink)(path);
}

static void quicken(struct timespec* wanted, const struct timespec* asked) {
  *wanted = *asked;
  const char* quick = getenv("OST_KILL_QUICK_SLEEP");
  if (quick && quick[0] == '1' && asked->tv_sec >= 1) {
    wanted->tv_sec = 0;
    wanted->tv_nsec = 1000000;
  }
}
int nanosleep(const struct timespec* asked, struct timespec* left) {
  struct timespec wanted;
  quicken(&wanted, asked);
  return REAL(nanosleep)(&wanted, left);
}
int clock_nanosleep(clockid_t clock, int flags, const struct timespec* asked,
                    struct timespec* left) {
  struct timespec wanted;
  if (flags & TIMER_ABSTIME) return REAL(clock_nanosleep)(clock, flags, asked, left);
  quicken(&wanted, asked);
  return REAL(clock_nanosleep)(clock, flags, &wanted, left);
}
