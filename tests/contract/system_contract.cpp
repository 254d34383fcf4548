// The system port's contract.
#include <atomic>
#include <string>

#include "contract/contract.h"

namespace ost::contract {
namespace {

TEST_P(SystemContract, AStartedThreadRunsItsBody) {
  std::atomic<bool> ran{false};
  SystemPort& system = provider().system();
  EXPECT_NE(system.StartThread([&ran] { ran = true; }), 0u);
  provider().RunStarted();
  for (int i = 0; i < 500 && !ran; ++i) system.Sleep(10);
  EXPECT_TRUE(ran);
}

// The monotonic clock moves by what a sleep took, give or take one tick of it.
TEST_P(SystemContract, SleepingMovesTheMonotonicClock) {
  SystemPort& system = provider().system();
  const uint64_t before = system.MonotonicMilliseconds();
  system.Sleep(100);
  EXPECT_GE(system.MonotonicMilliseconds() - before, 100u - kClockTickMs);
}

TEST_P(SystemContract, TheProgramFolderEndsInItsSeparatorAndBuffersCome) {
  SystemPort& system = provider().system();
  const std::string folder = system.ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == '\\' || folder.back() == '/') << folder;
  auto buffer = system.AllocateBuffer(4 << 20);
  ASSERT_NE(buffer, nullptr);
  buffer[(4 << 20) - 1] = 1;
  const LocalTime now = system.Now();
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour < 24 && now.minute < 60 && now.second < 61 && now.millisecond < 1000);
}

}  // namespace
}  // namespace ost::contract
