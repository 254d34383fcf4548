#include "platform/posix/posix_system.h"

#include <chrono>
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

}  // namespace ost
