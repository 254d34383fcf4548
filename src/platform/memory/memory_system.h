// The system port in memory: threads wait until a test runs them, the clocks stand
// still until moved.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/system_port.h"

namespace ost {

class MemorySystem : public SystemPort {
 public:
  ThreadHandle StartThread(std::function<void()> body) override {
    if (refuseThreads) return 0;
    threads.push_back(std::move(body));
    return ++started;
  }
  // No time passes, but the monotonic clock moves as if it had.
  void Sleep(uint32_t milliseconds) override {
    slept += milliseconds;
    now += milliseconds;
  }
  void Beep(uint32_t hertz, uint32_t milliseconds) override {
    beeps.push_back({hertz, milliseconds});
  }
  std::string ProgramFolder() override { return programFolder; }
  std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size) override {
    if (failAllocationNumber > 0 && ++allocations == failAllocationNumber) return nullptr;
    return std::unique_ptr<uint8_t[]>(new uint8_t[size]);
  }
  bool LockMachine() override { return !lockedElsewhere; }
  uint64_t MonotonicMilliseconds() override { return now; }
  LocalTime Now() override { return localTime; }
  int64_t UtcSeconds() override { return utcSeconds; }
  std::string MachineName() override { return "OSTRA-SRV"; }

  std::deque<std::function<void()>> threads;  // started, not run yet
  ThreadHandle started = 0;
  bool refuseThreads = false;
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  uint64_t slept = 0;
  std::string programFolder = "C:\\OSTRA\\";
  int failAllocationNumber = 0;  // fail the Nth allocation (1-based); 0: never
  int allocations = 0;
  bool lockedElsewhere = false;  // another run holds the machine
  uint64_t now = 0;              // the monotonic clock
  LocalTime localTime{2026, 12, 9, 10, 30, 5, 250};
  int64_t utcSeconds = 1796819405;  // 2026-12-09 10:30:05 UTC
};

}  // namespace ost
