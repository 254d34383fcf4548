#include "platform/posix/posix_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <ctime>
#include <new>
#include <system_error>
#include <thread>

namespace ost {

ThreadHandle PosixSystem::StartThread(std::function<void()> body) {
  ++liveThreads_;
  try {
    std::thread([this, body = std::move(body)] {
      body();
      --liveThreads_;
    }).detach();
  } catch (const std::system_error&) {
    --liveThreads_;
    return 0;
  }
  return nextHandle_++;
}

void PosixSystem::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// A machine without a tone generator worth blocking for: the front ends decide what
// a beep does (record it, ring the terminal's bell).
void PosixSystem::Beep(uint32_t /*hertz*/, uint32_t /*milliseconds*/) {}

std::unique_ptr<uint8_t[]> PosixSystem::AllocateBuffer(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
}

PosixSystem::~PosixSystem() {
  if (lock_ >= 0) ::close(lock_);
}

bool PosixSystem::LockMachine() {
  if (lock_ >= 0) return true;
  // The machine root's folder itself is locked: nothing is added to the machine, and
  // the lock goes with the process however it ends.
  int fd = ::open(machineFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;  // no machine to share; the run fails on its own later
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return false;
  }
  lock_ = fd;
  return true;
}

uint64_t PosixSystem::MonotonicMilliseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

LocalTime PosixSystem::Now() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm parts{};
  localtime_r(&now.tv_sec, &parts);
  LocalTime time;
  time.year = parts.tm_year + 1900;
  time.month = parts.tm_mon + 1;
  time.day = parts.tm_mday;
  time.hour = parts.tm_hour;
  time.minute = parts.tm_min;
  time.second = parts.tm_sec;
  time.millisecond = static_cast<int>(now.tv_usec / 1000);
  return time;
}

int64_t PosixSystem::UtcSeconds() { return static_cast<int64_t>(time(nullptr)); }

std::string PosixSystem::MachineName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

namespace {

uint32_t LittleEndian32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

}  // namespace

bool PosixSystem::MachineProxy(std::string* proxy, std::string* bypass) {
  if (!registry_) return false;
  RegistryKey key = 0;
  if (registry_->OpenKeyRead(RegistryRoot::kLocalMachine,
                             "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet "
                             "Settings\\Connections",
                             &key) != kRegSuccess) {
    return false;
  }
  uint8_t blob[4096] = {};
  uint32_t size = sizeof blob;
  const long status = registry_->QueryValue(key, "WinHttpSettings", blob, &size);
  registry_->CloseKey(key);
  // The blob: a version, a counter, the flags (2: a named proxy), then the proxy and
  // the bypass list, each a length and its bytes.
  if (status != kRegSuccess || size < 16 || !(LittleEndian32(blob + 8) & 2)) return false;
  uint32_t at = 12;
  const uint32_t proxyLength = LittleEndian32(blob + at);
  at += 4;
  if (proxyLength == 0 || proxyLength > size - at) return false;
  proxy->assign(reinterpret_cast<const char*>(blob + at), proxyLength);
  at += proxyLength;
  bypass->clear();
  if (size - at >= 4) {
    const uint32_t bypassLength = LittleEndian32(blob + at);
    at += 4;
    if (bypassLength <= size - at)
      bypass->assign(reinterpret_cast<const char*>(blob + at), bypassLength);
  }
  return true;
}

}  // namespace ost
