#include "platform/posix/posix_registry.h"

#include <cstring>
#include <utility>

namespace ost {

PosixRegistry::PosixRegistry(std::string regFilePath) : path_(std::move(regFilePath)) {}

long PosixRegistry::Load(RegDocument* doc) {
  lastError_.clear();
  switch (LoadRegFile(path_, doc, &lastError_)) {
    case RegLoadStatus::kOk:
      return kRegSuccess;
    case RegLoadStatus::kNotFound:
      // A machine without the file has no keys of ours, as a Windows machine without
      // the product would answer.
      return kRegFileNotFound;
    case RegLoadStatus::kUnreadable:
      return kRegAccessDenied;
    case RegLoadStatus::kBadSyntax:
      break;
  }
  // Not kRegFileNotFound: a broken sandbox file must not pass for "product not
  // installed". Windows answers a damaged hive with this code too.
  return kRegCorrupt;
}

long PosixRegistry::OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) {
  if (!key) return kRegInvalidParameter;
  RegDocument doc;
  if (const long status = Load(&doc); status != kRegSuccess) return status;
  const RegKeyData* found = doc.FindKey(root, path);
  if (!found) {
    lastError_ = std::string(RegistryRootName(root)) + "\\" + std::string(TrimRegPath(path)) +
                 ": no such key in " + path_;
    return kRegFileNotFound;
  }
  RegistryKey handle = nextKey_++;
  open_.emplace(handle, *found);
  *key = handle;
  return kRegSuccess;
}

long PosixRegistry::QueryValue(RegistryKey key, const std::string& name, uint8_t* data,
                               uint32_t* size) {
  auto it = open_.find(key);
  if (it == open_.end()) return kRegInvalidHandle;
  const RegValue* value = it->second.FindValue(name);
  if (!value) return kRegFileNotFound;
  if (!size) return data ? kRegInvalidParameter : kRegSuccess;
  if (value->data.size() > UINT32_MAX) return kRegInvalidParameter;
  auto needed = static_cast<uint32_t>(value->data.size());
  if (!data) {
    *size = needed;
    return kRegSuccess;
  }
  if (needed > *size) {
    *size = needed;
    return kRegMoreData;
  }
  if (needed > 0) std::memcpy(data, value->data.data(), needed);
  *size = needed;
  return kRegSuccess;
}

long PosixRegistry::CloseKey(RegistryKey key) {
  return open_.erase(key) > 0 ? kRegSuccess : kRegInvalidHandle;
}

long PosixRegistry::SetStringValue(RegistryRoot root, const std::string& path,
                                   const std::string& name, const std::string& value) {
  RegDocument doc;
  if (const long status = Load(&doc); status != kRegSuccess) return status;
  RegKeyData* key = doc.FindKey(root, path);
  if (!key) return kRegFileNotFound;
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  key->SetValue(name, kRegSz, std::move(data));
  return SaveRegFile(path_, doc, &lastError_) ? kRegSuccess : kRegAccessDenied;
}

}  // namespace ost
