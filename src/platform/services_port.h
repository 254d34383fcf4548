// The service manager, shaped after the Service Control Manager calls the service
// controller makes. Handles are opaque; 0 means none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ost {

using ServiceHandle = uintptr_t;
using ProcessHandle = uintptr_t;

enum class ManagerAccess { kEnumerate, kAll };
// kAll is what starting and stopping take; listing the dependents is a right of its
// own, asked for only when a stop was refused.
enum class ServiceAccess { kQueryStatus, kQueryConfig, kAll, kEnumerateDependents };

class ServicesPort {
 public:
  virtual ~ServicesPort() = default;

  virtual ServiceHandle OpenManager(ManagerAccess access) = 0;
  virtual ServiceHandle OpenServiceNamed(ServiceHandle manager, const std::string& name,
                                         ServiceAccess access) = 0;
  // Current state 1..7 into *state; false when the query fails.
  virtual bool QueryState(ServiceHandle service, int32_t* state) = 0;
  virtual bool Start(ServiceHandle service) = 0;
  // Sends the stop control; *state receives the state it reports. False on refusal.
  virtual bool Stop(ServiceHandle service, int32_t* state) = 0;
  // The configured executable path; false when the configuration cannot be read into
  // a buffer of bufferChars characters of the manager's own width (two bytes each for
  // the wide calls).
  virtual bool QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) = 0;
  virtual void Close(ServiceHandle handle) = 0;

  // The process a service runs in, opened to wait for its end, when the service has
  // one of its own; 0 when it has none (it is stopped, or it shares a process that goes
  // on after it stops). Open it before the stop, so no other process takes its number.
  virtual ProcessHandle OpenOwnProcess(ServiceHandle service) = 0;
  // Waits at most `milliseconds` for the process to end; true when it has.
  virtual bool WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) = 0;
  virtual void CloseProcess(ProcessHandle process) = 0;
  // The services that depend on this one and are not stopped, by name; empty when
  // there are none or they cannot be listed. Needs kEnumerateDependents.
  virtual std::vector<std::string> ActiveDependents(ServiceHandle service) = 0;
};

}  // namespace ost
