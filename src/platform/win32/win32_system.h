// Threads, timing, sound and the program folder on Windows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/system_port.h"

namespace ost {

class Win32System : public SystemPort {
 public:
  ThreadHandle StartThread(std::function<void()> body) override;
  void Sleep(uint32_t milliseconds) override;
  void Beep(uint32_t hertz, uint32_t milliseconds) override;
  std::string ProgramFolder() override;
  std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size) override;
  bool LockMachine() override;
  uint64_t MonotonicMilliseconds() override;
  LocalTime Now() override;
  int64_t UtcSeconds() override;
  std::string MachineName() override;
  bool MachineProxy(std::string* proxy, std::string* bypass) override;

 private:
  std::atomic<ThreadHandle> lastThread_{0};
};

}  // namespace ost
