// The services port's contract.
#include <chrono>
#include <string>
#include <thread>

#include "contract/contract.h"

namespace ost::contract {
namespace {

constexpr char kProgram[] = "C:\\OSTRA\\CSOstraServer.exe";

// A service opened with `access`; the handles close at the end.
class Opened {
 public:
  Opened(ServicesPort& services, const std::string& name, ServiceAccess access)
      : services_(services), manager_(services.OpenManager(ManagerAccess::kAll)) {
    if (manager_) service_ = services.OpenServiceNamed(manager_, name, access);
  }
  ~Opened() {
    if (service_) services_.Close(service_);
    if (manager_) services_.Close(manager_);
  }
  ServiceHandle get() const { return service_; }
  int32_t State() const {
    int32_t state = 0;
    return services_.QueryState(service_, &state) ? state : -1;
  }
  // The state once a pending one has settled (a real manager takes its time; bounded).
  int32_t Settled() const {
    int32_t state = State();
    for (int i = 0; i < 100 && (state == 2 || state == 3); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      state = State();
    }
    return state;
  }

 private:
  ServicesPort& services_;
  ServiceHandle manager_ = 0;
  ServiceHandle service_ = 0;
};

TEST_P(ServicesContract, AServiceStopsAndStartsFromTheRightStatesOnly) {
  provider().Add("CSOstraServer", 4, kProgram);
  ServicesPort& services = provider().services();
  EXPECT_EQ(Opened(services, "NoSuchService", ServiceAccess::kAll).get(), 0u);
  const Opened server(services, "CSOstraServer", ServiceAccess::kAll);
  ASSERT_NE(server.get(), 0u);
  EXPECT_EQ(server.State(), 4);
  EXPECT_FALSE(services.Start(server.get()));  // running already
  int32_t reported = 0;
  ASSERT_TRUE(services.Stop(server.get(), &reported));
  EXPECT_TRUE(reported == 1 || reported == 3) << reported;
  EXPECT_EQ(server.Settled(), 1);
  EXPECT_EQ(services.OpenOwnProcess(server.get()), 0u);  // stopped: no process
  EXPECT_FALSE(services.Stop(server.get(), &reported));  // stopped already
  EXPECT_TRUE(services.Start(server.get()));
  EXPECT_EQ(server.Settled(), 4);
}

// Starting and stopping take kAll; a service opened to query its state cannot.
TEST_P(ServicesContract, ControlsNeedTheRightToControl) {
  provider().Add("CSOstraServer", 4, kProgram);
  const Opened server(provider().services(), "CSOstraServer", ServiceAccess::kQueryStatus);
  ASSERT_NE(server.get(), 0u);
  int32_t reported = 0;
  EXPECT_FALSE(provider().services().Stop(server.get(), &reported));
  EXPECT_EQ(server.State(), 4);
}

TEST_P(ServicesContract, ARunningDependentRefusesTheStop) {
  if (!provider().NoDependents().empty()) GTEST_SKIP() << provider().NoDependents();
  provider().Add("W3SVC", 4, "C:\\Windows\\system32\\inetsrv\\inetinfo.exe");
  provider().Add("CSOstraAgent", 4, "C:\\OSTRA\\CSOstraAgent.exe", {"W3SVC"});
  ServicesPort& services = provider().services();
  const Opened web(services, "W3SVC", ServiceAccess::kAll);
  int32_t reported = 0;
  EXPECT_FALSE(services.Stop(web.get(), &reported));
  EXPECT_EQ(web.State(), 4);
  const Opened listing(services, "W3SVC", ServiceAccess::kEnumerateDependents);
  EXPECT_EQ(services.ActiveDependents(listing.get()), std::vector<std::string>{"CSOstraAgent"});
}

TEST_P(ServicesContract, TheProgramPathComesWhenTheBufferHoldsIt) {
  provider().Add("CSOstraServer", 1, kProgram);
  const Opened server(provider().services(), "CSOstraServer", ServiceAccess::kQueryConfig);
  std::string path;
  EXPECT_TRUE(provider().services().QueryBinaryPath(server.get(), 8192, &path));
  EXPECT_EQ(path, kProgram);
  EXPECT_FALSE(provider().services().QueryBinaryPath(server.get(), 4, &path));
}

}  // namespace
}  // namespace ost::contract
