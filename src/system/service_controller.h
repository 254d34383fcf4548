// Starting, stopping and locating the product's Windows services. Each call opens
// and closes its own handles; results are service states (1-7) or the numbers below.
#pragma once

#include <cstdint>
#include <string>

#include "platform/services_port.h"
#include "platform/system_port.h"

namespace ost {

constexpr int32_t kServiceStopped = 1;
constexpr int32_t kServiceStartPending = 2;
constexpr int32_t kServiceStopPending = 3;
constexpr int32_t kServiceRunning = 4;

constexpr int32_t kServiceNothingToDo = 0;  // also: binary path read
constexpr int32_t kServiceNoManager = 8;
constexpr int32_t kServiceNotOpened = 9;
constexpr int32_t kServiceFailed = 10;

// A pending state is polled once a second, at most this often; a service that is
// still pending then counts as failed rather than holding the tool forever.
constexpr int kMaxServicePolls = 120;

int32_t QueryServiceState(ServicesPort& services, const std::string& name);
int32_t StartServiceAndWait(ServicesPort& services, SystemPort& system, const std::string& name);
int32_t StopServiceAndWait(ServicesPort& services, SystemPort& system, const std::string& name);
// Copies the configured executable path (as configured: quotes and arguments kept)
// when it takes at most `capacity` bytes in the product's code page; *destination is
// unchanged otherwise.
int32_t ReadServiceBinaryPath(ServicesPort& services, const std::string& name,
                              std::string* destination, size_t capacity);

}  // namespace ost
