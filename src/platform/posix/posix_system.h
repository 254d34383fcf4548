// Threads, sleeping, sounds and buffers on Linux.
#pragma once

#include <atomic>
#include <functional>

#include "platform/system_port.h"

namespace ost {

class PosixSystem : public SystemPort {
 public:
  explicit PosixSystem(std::string programFolder) : programFolder_(std::move(programFolder)) {}

  ThreadHandle StartThread(std::function<void()> body) override;
  void Sleep(uint32_t milliseconds) override;
  void Beep(uint32_t hertz, uint32_t milliseconds) override;
  std::string ProgramFolder() override { return programFolder_; }
  std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size) override;

  // Threads started here whose body has not returned yet.
  int LiveThreads() const { return liveThreads_.load(); }

 private:
  std::string programFolder_;
  std::atomic<int> liveThreads_{0};
  std::atomic<ThreadHandle> nextHandle_{1};
};

}  // namespace ost
