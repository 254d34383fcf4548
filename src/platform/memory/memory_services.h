// The services port in memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/services_port.h"

namespace ost {

// Services by name; pending states settle after a number of polls.
class MemoryServices : public ServicesPort {
 public:
  struct Service {
    int32_t state = 4;
    std::string binaryPath;
    int pendingPolls = 0;  // queries that still report the pending state
    bool refuseStart = false;
    bool refuseStop = false;
    bool startEndsStopped = false;
    bool ownProcess = false;              // runs in a process of its own while not stopped
    bool processEnds = true;              // that process ends within the wait
    std::vector<std::string> dependents;  // running; they make a stop fail
  };

  ServiceHandle OpenManager(ManagerAccess) override {
    if (!managerWorks) return 0;
    ++opened;
    return 1;
  }
  ServiceHandle OpenServiceNamed(ServiceHandle, const std::string& name, ServiceAccess) override;
  bool QueryState(ServiceHandle service, int32_t* state) override;
  bool Start(ServiceHandle service) override;
  bool Stop(ServiceHandle service, int32_t* state) override;
  bool QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) override;
  void Close(ServiceHandle) override { ++closed; }
  ProcessHandle OpenOwnProcess(ServiceHandle service) override;
  bool WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) override;
  void CloseProcess(ProcessHandle) override { ++closedProcesses; }
  std::vector<std::string> ActiveDependents(ServiceHandle service) override;

  std::map<std::string, Service> services;
  std::vector<std::string> calls;  // "start X", "stop X", "wait X 20000"
  bool managerWorks = true;
  int opened = 0;
  int closed = 0;
  int closedProcesses = 0;

 private:
  std::vector<std::string> handles_;
  std::vector<ServiceAccess> access_;  // of each handle
  std::vector<std::string> processes_;
};

}  // namespace ost
