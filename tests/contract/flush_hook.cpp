#include "contract/flush_hook.h"

#include <dlfcn.h>
#include <errno.h>

#include <atomic>

namespace ost::contract {
namespace {

std::atomic<int> flushes{0};
std::atomic<bool> refuse{false};

}  // namespace

int FlushesSeen() { return flushes.load(); }
void RefuseNextFlush() { refuse = true; }

}  // namespace ost::contract

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const Fsync real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  ++ost::contract::flushes;
  if (ost::contract::refuse.exchange(false)) {
    errno = EIO;
    return -1;
  }
  return real(fd);
}
