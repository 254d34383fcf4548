// The service table: one entry per managed component slot, filled by the manifest
// evaluation, the plan and the application of packages.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "db/installation.h"

namespace ost {

constexpr size_t kNameWidth = 32;
constexpr size_t kDescriptionWidth = 256;

struct ServiceEntry {
  int32_t installedVersion = 0;
  int32_t availableVersion = 0;
  int32_t kind = 0;  // 0 until a key is recognised, then the catalogue's kind
  std::string displayName;
  std::string versionLabel;
  std::string description;
  std::string serviceName;  // empty for a component inside the web server
  std::string fileName;
  std::string installDir;
  int32_t stateBefore = 0;  // the service's state when the plan was made
  int32_t stopResult = 0;
  int32_t estimatedSeconds = 0;
  int32_t needsUpdate = 0;
  // Where a web DLL was written when it went to the fixed fallback path, not its own.
  std::string writtenAtFallback;
};

using ServiceTable = std::array<ServiceEntry, kServiceCount>;

}  // namespace ost
