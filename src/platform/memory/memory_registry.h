// The registry port in memory: keys of HKEY_LOCAL_MACHINE as maps of raw value bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry_port.h"

namespace ost {

// Registry keys as maps of raw value bytes.
// Key paths and value names compare without case, as the registry's do.
struct RegistryNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

class MemoryRegistry : public RegistryPort {
 public:
  using Values = std::map<std::string, std::vector<uint8_t>, RegistryNameLess>;

  void SetValue(const std::string& key, const std::string& name, std::vector<uint8_t> data) {
    keys[key][name] = std::move(data);
  }
  void SetString(const std::string& key, const std::string& name, const std::string& text);
  void SetDword(const std::string& key, const std::string& name, uint32_t value);

  long OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::string& name, uint8_t* data, uint32_t* size) override;
  long CloseKey(RegistryKey key) override;
  long SetStringValue(RegistryRoot root, const std::string& path, const std::string& name,
                      const std::string& value) override;

  std::map<std::string, Values, RegistryNameLess> keys;  // HKLM paths only
  int openKeys = 0;
  long setStatus = kRegSuccess;  // what SetStringValue answers; it writes only on success

 private:
  std::map<RegistryKey, const Values*> handles_;
  RegistryKey next_ = 1;
};

}  // namespace ost
