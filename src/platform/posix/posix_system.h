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

  // A terminal has no tone generator worth blocking for: front ends decide what a
  // beep does (record it, ring the bell). Set before the dialog runs.
  void SetBeepSink(std::function<void(uint32_t, uint32_t)> sink) { beepSink_ = std::move(sink); }

  // Threads started here whose body has not returned yet.
  int LiveThreads() const { return liveThreads_.load(); }

  // Time spent in Sleep, which the tool uses only to wait for services.
  uint64_t SleptMilliseconds() const { return slept_.load(); }

 private:
  std::string programFolder_;
  std::function<void(uint32_t, uint32_t)> beepSink_;
  std::atomic<int> liveThreads_{0};
  std::atomic<ThreadHandle> nextHandle_{1};
  std::atomic<uint64_t> slept_{0};
};

}  // namespace ost
