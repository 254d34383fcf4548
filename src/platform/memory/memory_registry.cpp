#include "platform/memory/memory_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ost {

bool RegistryNameLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) <
           std::toupper(static_cast<unsigned char>(y));
  });
}

void MemoryRegistry::SetString(const std::string& key, const std::string& name,
                               const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  SetValue(key, name, bytes);
}

void MemoryRegistry::SetDword(const std::string& key, const std::string& name, uint32_t value) {
  SetValue(key, name,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

long MemoryRegistry::OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) {
  auto found = keys.find(path);
  if (root != RegistryRoot::kLocalMachine || found == keys.end()) return kRegFileNotFound;
  *key = next_++;
  handles_[*key] = &found->second;
  ++openKeys;
  return kRegSuccess;
}

long MemoryRegistry::QueryValue(RegistryKey key, const std::string& name, uint8_t* data,
                                uint32_t* size) {
  auto handle = handles_.find(key);
  if (handle == handles_.end()) return kRegInvalidHandle;
  auto value = handle->second->find(name);
  if (value == handle->second->end()) return kRegFileNotFound;
  if (value->second.size() > *size) {
    *size = static_cast<uint32_t>(value->second.size());
    return kRegMoreData;
  }
  std::memcpy(data, value->second.data(), value->second.size());
  *size = static_cast<uint32_t>(value->second.size());
  return kRegSuccess;
}

long MemoryRegistry::CloseKey(RegistryKey key) {
  if (handles_.erase(key) == 0) return kRegInvalidHandle;
  --openKeys;
  return kRegSuccess;
}

long MemoryRegistry::SetStringValue(RegistryRoot root, const std::string& path,
                                    const std::string& name, const std::string& value) {
  if (root != RegistryRoot::kLocalMachine || !keys.count(path)) return kRegFileNotFound;
  if (setStatus != kRegSuccess) return setStatus;
  SetString(path, name, value);
  return kRegSuccess;
}

}  // namespace ost
