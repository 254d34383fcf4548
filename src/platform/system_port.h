// Process-level services: threads, sleeping, sounds, the program folder, large buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ost {

using ThreadHandle = uintptr_t;  // 0: no thread

class SystemPort {
 public:
  virtual ~SystemPort() = default;

  // Starts body on a new thread at once (default stack size) and returns a handle
  // that nobody waits on, or 0 when no thread could be started.
  virtual ThreadHandle StartThread(std::function<void()> body) = 0;

  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual void Beep(uint32_t hertz, uint32_t milliseconds) = 0;

  // The folder of the running program, ending in its separator ("C:\OSTRA\" on
  // Windows), or empty when the program's path cannot be obtained.
  virtual std::string ProgramFolder() = 0;

  // One large buffer for the whole run; null when the memory cannot be had.
  virtual std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size) = 0;

  // Takes this machine's update lock, held until the process ends; false when another
  // process holds it (another run of the tool on this machine). UI thread.
  virtual bool LockMachine() = 0;

  // Milliseconds of a clock that only moves forward (not the time of day). Any thread.
  virtual uint64_t MonotonicMilliseconds() = 0;
};

}  // namespace ost
