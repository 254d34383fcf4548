#include "platform/memory/memory_services.h"

namespace ost {

ServiceHandle MemoryServices::OpenServiceNamed(ServiceHandle, const std::string& name,
                                               ServiceAccess access) {
  if (services.count(name) == 0) return 0;
  ++opened;
  handles_.push_back(name);
  access_.push_back(access);
  return 100 + handles_.size() - 1;
}

bool MemoryServices::QueryState(ServiceHandle service, int32_t* state) {
  Service& s = services[handles_.at(service - 100)];
  if ((s.state == 2 || s.state == 3) && s.pendingPolls > 0 && --s.pendingPolls == 0) {
    s.state = s.state == 2 ? (s.startEndsStopped ? 1 : 4) : 1;
  }
  *state = s.state;
  return true;
}

bool MemoryServices::Start(ServiceHandle service) {
  const std::string& name = handles_.at(service - 100);
  calls.push_back("start " + name);
  Service& s = services[name];
  // As the manager: the right to control, and only a stopped service starts.
  if (s.refuseStart || access_.at(service - 100) != ServiceAccess::kAll || s.state != 1) {
    return false;
  }
  s.state = s.pendingPolls > 0 ? 2 : (s.startEndsStopped ? 1 : 4);
  return true;
}

bool MemoryServices::Stop(ServiceHandle service, int32_t* state) {
  const std::string& name = handles_.at(service - 100);
  calls.push_back("stop " + name);
  Service& s = services[name];
  // As the manager: the right to control, and only a running (or paused) service stops.
  if (s.refuseStop || !s.dependents.empty() || access_.at(service - 100) != ServiceAccess::kAll ||
      s.state < 4) {
    return false;
  }
  s.state = s.pendingPolls > 0 ? 3 : 1;
  *state = s.state;
  return true;
}

ProcessHandle MemoryServices::OpenOwnProcess(ServiceHandle service) {
  const std::string& name = handles_.at(service - 100);
  const Service& s = services[name];
  if (!s.ownProcess || s.state == 1) return 0;
  processes_.push_back(name);
  return 500 + processes_.size() - 1;
}

bool MemoryServices::WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) {
  const std::string& name = processes_.at(process - 500);
  calls.push_back("wait " + name + " " + std::to_string(milliseconds));
  return services[name].processEnds;
}

std::vector<std::string> MemoryServices::ActiveDependents(ServiceHandle service) {
  return services[handles_.at(service - 100)].dependents;
}

bool MemoryServices::QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) {
  const Service& s = services[handles_.at(service - 100)];
  if (s.binaryPath.size() + 64 > bufferChars) return false;
  *path = s.binaryPath;
  return true;
}

}  // namespace ost
