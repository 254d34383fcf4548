// The service manager, shaped after the Service Control Manager calls the service
// controller makes. Handles are opaque; 0 means none.
#pragma once

#include <cstdint>
#include <string>

namespace ost {

using ServiceHandle = uintptr_t;

enum class ManagerAccess { kEnumerate, kAll };
enum class ServiceAccess { kQueryStatus, kQueryConfig, kAll };

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
};

}  // namespace ost
