// Process-level services: threads, sleeping, sounds, the program folder, large buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ost {

using ThreadHandle = uintptr_t;  // 0: no thread

// The coarsest step of MonotonicMilliseconds: GetTickCount64 moves with the system's
// tick, about 16 ms.
constexpr uint64_t kClockTickMs = 20;

// A moment of the local time of day, to the millisecond.
struct LocalTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

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

  // Milliseconds of a clock that only moves forward (not the time of day), in steps of
  // up to kClockTickMs (the system's tick on Windows). Any thread.
  virtual uint64_t MonotonicMilliseconds() = 0;

  // The local time of day, for records a person reads.
  virtual LocalTime Now() = 0;

  // Seconds since 1970-01-01 00:00 UTC: the clock signed releases expire by.
  virtual int64_t UtcSeconds() = 0;

  // The machine's name, for records a person reads; empty when it cannot be had.
  virtual std::string MachineName() = 0;
  // The machine's WinHTTP proxy (what "netsh winhttp set proxy" stores): the proxy
  // text and its bypass list; false when the machine goes directly.
  virtual bool MachineProxy(std::string* /*proxy*/, std::string* /*bypass*/) { return false; }
};

}  // namespace ost
