// Threads, sleeping, sounds and buffers on Linux.
#pragma once

#include <atomic>
#include <functional>

#include "platform/registry_port.h"
#include "platform/system_port.h"

namespace ost {

class PosixSystem : public SystemPort {
 public:
  // The machine root's folder carries the update lock.
  PosixSystem(std::string programFolder, std::string machineFolder)
      : programFolder_(std::move(programFolder)), machineFolder_(std::move(machineFolder)) {}
  ~PosixSystem() override;
  PosixSystem(const PosixSystem&) = delete;
  PosixSystem& operator=(const PosixSystem&) = delete;

  ThreadHandle StartThread(std::function<void()> body) override;
  void Sleep(uint32_t milliseconds) override;
  void Beep(uint32_t hertz, uint32_t milliseconds) override;
  std::string ProgramFolder() override { return programFolder_; }
  std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size) override;
  bool LockMachine() override;
  uint64_t MonotonicMilliseconds() override;
  LocalTime Now() override;
  int64_t UtcSeconds() override;
  std::string MachineName() override;
  // Read from the machine root's registry, where Windows keeps it (WinHttpSettings).
  bool MachineProxy(std::string* proxy, std::string* bypass) override;
  void SetRegistry(RegistryPort* registry) { registry_ = registry; }

  // Threads started here whose body has not returned yet.
  int LiveThreads() const { return liveThreads_.load(); }

 private:
  std::string programFolder_;
  std::string machineFolder_;
  int lock_ = -1;
  RegistryPort* registry_ = nullptr;
  std::atomic<int> liveThreads_{0};
  std::atomic<ThreadHandle> nextHandle_{1};
};

}  // namespace ost
