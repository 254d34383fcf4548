#include "system/service_controller.h"

#include <gtest/gtest.h>

#include "unit/fakes.h"

namespace ost {
namespace {

class ServiceControllerTest : public ::testing::Test {
 protected:
  ServiceControllerTest() { services.services["Svc"].binaryPath = "C:\\OSTRA\\svc.exe"; }
  testing::FakeServices services;
  testing::FakeSystem system;
};

TEST_F(ServiceControllerTest, EmptyNameNeedsNoManager) {
  services.managerWorks = false;
  EXPECT_EQ(QueryServiceState(services, ""), 4);
  EXPECT_EQ(StartServiceAndWait(services, system, ""), 4);
  EXPECT_EQ(StopServiceAndWait(services, system, ""), 1);
  EXPECT_EQ(QueryServiceState(services, "Svc"), 8);
}

TEST_F(ServiceControllerTest, NothingToDoInTheWantedState) {
  EXPECT_EQ(StartServiceAndWait(services, system, "Svc"), 0);
  services.services["Svc"].state = 1;
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 0);
  EXPECT_TRUE(services.calls.empty());
}

TEST_F(ServiceControllerTest, UnknownServiceGivesNineEverywhere) {
  std::string path = "kept";
  EXPECT_EQ(QueryServiceState(services, "Nope"), 9);
  EXPECT_EQ(StartServiceAndWait(services, system, "Nope"), 9);
  EXPECT_EQ(StopServiceAndWait(services, system, "Nope"), 9);
  EXPECT_EQ(ReadServiceBinaryPath(services, "Nope", &path, 255), 9);
  EXPECT_EQ(path, "kept");
  EXPECT_EQ(services.opened, services.closed);  // every handle closed again
}

TEST_F(ServiceControllerTest, StartPollsOncePerSecondWhilePending) {
  auto& svc = services.services["Svc"];
  svc.state = 1;
  svc.pendingPolls = 3;
  EXPECT_EQ(StartServiceAndWait(services, system, "Svc"), 4);
  EXPECT_EQ(system.slept, 3000u);
  svc.state = 1;
  svc.pendingPolls = 0;
  system.slept = 0;
  EXPECT_EQ(StartServiceAndWait(services, system, "Svc"), 4);
  EXPECT_EQ(system.slept, 1000u);  // one look after a second, even when it settled at once
}

TEST_F(ServiceControllerTest, StartThatDoesNotEndRunningFails) {
  auto& svc = services.services["Svc"];
  svc.state = 1;
  svc.startEndsStopped = true;
  EXPECT_EQ(StartServiceAndWait(services, system, "Svc"), 10);
  svc.state = 1;
  svc.refuseStart = true;
  EXPECT_EQ(StartServiceAndWait(services, system, "Svc"), 10);
}

TEST_F(ServiceControllerTest, StopWaitsOnlyForAPendingStop) {
  auto& svc = services.services["Svc"];
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 1);
  EXPECT_EQ(system.slept, 0u);  // reported stopped at once: no polling
  svc.state = 4;
  svc.pendingPolls = 2;
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 1);
  EXPECT_EQ(system.slept, 2000u);
  svc.state = 4;
  svc.refuseStop = true;
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 10);
}

// A service may report stopped while its own process still ends and holds its
// program: that process is waited for, within a bound, before anything is written.
TEST_F(ServiceControllerTest, StopWaitsForTheServicesOwnProcess) {
  auto& svc = services.services["Svc"];
  svc.ownProcess = true;
  svc.pendingPolls = 2;
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 1);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"stop Svc", "wait Svc 20000"}));
  // Still running after the bound: the stop counts, the writes retry on their own.
  svc.state = 4;
  svc.processEnds = false;
  services.calls.clear();
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 1);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"stop Svc", "wait Svc 20000"}));
  // A shared process (or none): nothing to wait for.
  svc.state = 4;
  svc.ownProcess = false;
  services.calls.clear();
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 1);
  EXPECT_EQ(services.calls, std::vector<std::string>{"stop Svc"});
  // A refused stop waits for nothing.
  svc.state = 4;
  svc.ownProcess = true;
  svc.refuseStop = true;
  services.calls.clear();
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 10);
  EXPECT_EQ(services.calls, std::vector<std::string>{"stop Svc"});
  EXPECT_EQ(services.opened, services.closed);
  EXPECT_EQ(services.closedProcesses, 3);
}

TEST_F(ServiceControllerTest, ARefusalForRunningDependentsNamesThem) {
  auto& svc = services.services["Svc"];
  svc.dependents = {"OstReport", "OstAudit"};
  std::vector<std::string> dependents;
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc", &dependents), 10);
  EXPECT_EQ(dependents, (std::vector<std::string>{"OstReport", "OstAudit"}));
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc"), 10);  // not asked: not listed
  svc.dependents.clear();
  dependents = {"stale"};
  EXPECT_EQ(StopServiceAndWait(services, system, "Svc", &dependents), 1);
  EXPECT_EQ(dependents, std::vector<std::string>{"stale"});
  EXPECT_EQ(services.opened, services.closed);
}

TEST_F(ServiceControllerTest, WaitsAreBounded) {
  auto& svc = services.services["Svc"];
  svc.state = 1;
  svc.pendingPolls = 1000000;  // never settles
  EXPECT_EQ(StartServiceAndWait(services, system, "Svc"), 10);
  EXPECT_EQ(system.slept, static_cast<uint64_t>(kMaxServicePolls) * 1000);
}

TEST_F(ServiceControllerTest, BinaryPathUpToCapacity) {
  std::string path = "kept";
  services.services["Svc"].binaryPath = std::string(255, 'p');
  EXPECT_EQ(ReadServiceBinaryPath(services, "Svc", &path, 255), 0);
  EXPECT_EQ(path.size(), 255u);
  services.services["Svc"].binaryPath = std::string(256, 'q');
  EXPECT_EQ(ReadServiceBinaryPath(services, "Svc", &path, 255), 10);
  EXPECT_EQ(path, std::string(255, 'p'));
  services.services["Svc"].binaryPath = std::string(4090, 'r');  // configuration too large
  EXPECT_EQ(ReadServiceBinaryPath(services, "Svc", &path, 5000), 10);

  // The field's 255 bytes are counted in the product's code page: 86 Chinese characters
  // take 258 bytes in UTF-8 but 172 in GBK, and fit.
  std::string folder = "C:\\";
  for (int i = 0; i < 86; ++i) folder += "服";
  services.services["Svc"].binaryPath = folder + "\\x.exe";
  EXPECT_EQ(ReadServiceBinaryPath(services, "Svc", &path, 255), 0);
  EXPECT_EQ(path, folder + "\\x.exe");
  folder.clear();
  for (int i = 0; i < 128; ++i) folder += "服";  // 256 bytes in GBK
  services.services["Svc"].binaryPath = folder;
  EXPECT_EQ(ReadServiceBinaryPath(services, "Svc", &path, 255), 10);
}

}  // namespace
}  // namespace ost
