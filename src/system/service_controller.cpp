#include "system/service_controller.h"

#include "util/text.h"

namespace ost {
namespace {

// The configuration is read into a buffer of 4,096 characters.
constexpr size_t kConfigBufferChars = 4096;

// The manager and one service, closed on every way out.
class OpenService {
 public:
  OpenService(ServicesPort& services, ManagerAccess managerAccess, const std::string& name,
              ServiceAccess serviceAccess)
      : services_(services) {
    manager_ = services_.OpenManager(managerAccess);
    if (manager_) service_ = services_.OpenServiceNamed(manager_, name, serviceAccess);
  }
  ~OpenService() {
    if (service_) services_.Close(service_);
    if (manager_) services_.Close(manager_);
  }
  OpenService(const OpenService&) = delete;
  OpenService& operator=(const OpenService&) = delete;

  // 0 when both are open, else the result number of what failed.
  int32_t Problem() const {
    if (!manager_) return kServiceNoManager;
    if (!service_) return kServiceNotOpened;
    return 0;
  }
  ServiceHandle handle() const { return service_; }

 private:
  ServicesPort& services_;
  ServiceHandle manager_ = 0;
  ServiceHandle service_ = 0;
};

// A service's own process, closed on every way out.
class OwnProcess {
 public:
  OwnProcess(ServicesPort& services, ProcessHandle process)
      : services_(services), process_(process) {}
  ~OwnProcess() {
    if (process_) services_.CloseProcess(process_);
  }
  OwnProcess(const OwnProcess&) = delete;
  OwnProcess& operator=(const OwnProcess&) = delete;
  ProcessHandle handle() const { return process_; }

 private:
  ServicesPort& services_;
  ProcessHandle process_;
};

// Polls once a second while the service stays in `pending`; the last state read,
// or 0 when a query failed.
int32_t WaitWhilePending(ServicesPort& services, SystemPort& system, ServiceHandle service,
                         int32_t pending) {
  int32_t state = 0;
  for (int poll = 0; poll < kMaxServicePolls; ++poll) {
    system.Sleep(1000);
    if (!services.QueryState(service, &state)) return 0;
    if (state != pending) return state;
  }
  return state;
}

}  // namespace

int32_t QueryServiceState(ServicesPort& services, const std::string& name) {
  if (name.empty()) return kServiceRunning;
  OpenService open(services, ManagerAccess::kEnumerate, name, ServiceAccess::kQueryStatus);
  if (int32_t problem = open.Problem()) return problem;
  int32_t state = 0;
  return services.QueryState(open.handle(), &state) ? state : kServiceFailed;
}

int32_t StartServiceAndWait(ServicesPort& services, SystemPort& system, const std::string& name) {
  if (name.empty()) return kServiceRunning;
  if (QueryServiceState(services, name) == kServiceRunning) return kServiceNothingToDo;
  OpenService open(services, ManagerAccess::kAll, name, ServiceAccess::kAll);
  if (int32_t problem = open.Problem()) return problem;
  if (!services.Start(open.handle())) return kServiceFailed;
  int32_t state = WaitWhilePending(services, system, open.handle(), kServiceStartPending);
  return state == kServiceRunning ? kServiceRunning : kServiceFailed;
}

int32_t StopServiceAndWait(ServicesPort& services, SystemPort& system, const std::string& name,
                           std::vector<std::string>* activeDependents) {
  if (name.empty()) return kServiceStopped;
  if (QueryServiceState(services, name) == kServiceStopped) return kServiceNothingToDo;
  OpenService open(services, ManagerAccess::kAll, name, ServiceAccess::kAll);
  if (int32_t problem = open.Problem()) return problem;
  OwnProcess process(services, services.OpenOwnProcess(open.handle()));
  int32_t state = 0;
  if (!services.Stop(open.handle(), &state)) {
    if (activeDependents) {
      OpenService lister(services, ManagerAccess::kAll, name, ServiceAccess::kEnumerateDependents);
      if (!lister.Problem()) *activeDependents = services.ActiveDependents(lister.handle());
    }
    return kServiceFailed;
  }
  if (state == kServiceStopPending) {
    state = WaitWhilePending(services, system, open.handle(), kServiceStopPending);
  }
  if (state != kServiceStopped) return kServiceFailed;
  // Not waiting long enough is no failure: the writes try again on their own.
  if (process.handle()) services.WaitProcessEnd(process.handle(), kProcessEndWaitMs);
  return kServiceStopped;
}

int32_t ReadServiceBinaryPath(ServicesPort& services, const std::string& name,
                              std::string* destination, size_t capacity) {
  OpenService open(services, ManagerAccess::kEnumerate, name, ServiceAccess::kQueryConfig);
  if (int32_t problem = open.Problem()) return problem;
  std::string path;
  if (!services.QueryBinaryPath(open.handle(), kConfigBufferChars, &path)) return kServiceFailed;
  // The field holds `capacity` bytes of the product's code page, not of UTF-8.
  if (Utf8ToGbk(path).size() > capacity) return kServiceFailed;
  *destination = path;
  return kServiceNothingToDo;
}

}  // namespace ost
