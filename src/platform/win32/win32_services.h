// The local Service Control Manager. Handles are SC_HANDLEs; names are UTF-8 and
// reach the manager as UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/services_port.h"

namespace ost {

// Why a call failed is left in GetLastError, as the manager set it.
class Win32Services : public ServicesPort {
 public:
  ServiceHandle OpenManager(ManagerAccess access) override;
  // A name that is not valid UTF-8 fails with ERROR_INVALID_NAME.
  ServiceHandle OpenServiceNamed(ServiceHandle manager, const std::string& name,
                                 ServiceAccess access) override;
  bool QueryState(ServiceHandle service, int32_t* state) override;
  bool Start(ServiceHandle service) override;
  // *state is written only on success.
  bool Stop(ServiceHandle service, int32_t* state) override;
  // Queries into a zero-filled buffer of exactly bufferSize bytes; the path comes back
  // as UTF-8.
  bool QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) override;
  void Close(ServiceHandle handle) override;
  ProcessHandle OpenOwnProcess(ServiceHandle service) override;
  bool WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) override;
  void CloseProcess(ProcessHandle process) override;
  std::vector<std::string> ActiveDependents(ServiceHandle service) override;
};

}  // namespace ost
