// Starting, stopping and locating the product's Windows services. Each call opens
// and closes its own handles; results are service states (1-7) or the numbers below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A service that reports stopped may still be ending its process, which holds its
// program; so long is waited for that process before its files are touched.
constexpr uint32_t kProcessEndWaitMs = 20000;

int32_t QueryServiceState(ServicesPort& services, const std::string& name);
int32_t StartServiceAndWait(ServicesPort& services, SystemPort& system, const std::string& name);
// Once stopped, waits (bounded) for the service's own process to end. When the stop is
// refused and dependents are given, they receive the services that depend on this one
// and still run, for the record.
int32_t StopServiceAndWait(ServicesPort& services, SystemPort& system, const std::string& name,
                           std::vector<std::string>* activeDependents = nullptr);
// Copies the configured executable path (as configured: quotes and arguments kept)
// when it takes at most `capacity` bytes in the product's code page; *destination is
// unchanged otherwise.
int32_t ReadServiceBinaryPath(ServicesPort& services, const std::string& name,
                              std::string* destination, size_t capacity);

}  // namespace ost
