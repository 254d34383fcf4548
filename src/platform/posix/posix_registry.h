// The registry of a machine root: DIR/registry.reg read through the Windows-shaped port.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/posix/reg_file.h"
#include "platform/registry_port.h"

namespace ost {

// Windows' ERROR_REGISTRY_CORRUPT, for a registry.reg that does not parse.
constexpr long kRegCorrupt = 1015;
// Windows' ERROR_INVALID_PARAMETER.
constexpr long kRegInvalidParameter = 87;

// Each OpenKeyRead reads the file afresh and hands out a snapshot of the key, so a
// handle keeps seeing the values it was opened with. Meant for one thread (the UI
// thread), like the rest of the providers; it takes no locks.
class PosixRegistry : public RegistryPort {
 public:
  explicit PosixRegistry(std::string regFilePath);

  long OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::string& name, uint8_t* data, uint32_t* size) override;
  long CloseKey(RegistryKey key) override;
  long SetStringValue(RegistryRoot root, const std::string& path, const std::string& name,
                      const std::string& value) override;

  // Why the last OpenKeyRead failed (the file's error or the parse error), empty after a
  // success; for logs.
  const std::string& LastError() const { return lastError_; }

 private:
  // The machine root's registry file read whole; its status as the registry would answer.
  long Load(RegDocument* doc);
  std::string path_;
  std::unordered_map<RegistryKey, RegKeyData> open_;
  RegistryKey nextKey_ = 1;  // handles are never reused, so a stale one stays invalid
  std::string lastError_;
};

}  // namespace ost
