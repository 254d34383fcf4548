// Registry reads through the Windows "A" functions.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_port.h"

namespace ost {

class Win32Registry : public RegistryPort {
 public:
  long OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::string& name, uint8_t* data, uint32_t* size) override;
  long CloseKey(RegistryKey key) override;
  long SetStringValue(RegistryRoot root, const std::string& path, const std::string& name,
                      const std::string& value) override;
};

}  // namespace ost
