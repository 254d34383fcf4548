#include "platform/win32/win32_registry.h"

#include "platform/win32/windows_headers.h"

namespace ost {

namespace {

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRoot::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryRoot::kUsers:
      return HKEY_USERS;
    case RegistryRoot::kCurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

long Win32Registry::OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) {
  HKEY parent = RootKey(root);
  if (parent == nullptr) return kRegInvalidHandle;
  HKEY opened = nullptr;
  LONG status = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &opened);
  if (status == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
  return status;
}

long Win32Registry::QueryValue(RegistryKey key, const std::string& name, uint8_t* data,
                               uint32_t* size) {
  DWORD bytes = *size;
  LONG status = RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, nullptr, data, &bytes);
  // ERROR_MORE_DATA also reports the size the caller needs.
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) *size = bytes;
  return status;
}

long Win32Registry::CloseKey(RegistryKey key) { return RegCloseKey(ToHkey(key)); }

long Win32Registry::SetStringValue(RegistryRoot root, const std::string& path,
                                   const std::string& name, const std::string& value) {
  HKEY parent = RootKey(root);
  if (parent == nullptr) return kRegInvalidHandle;
  HKEY opened = nullptr;
  LONG status = RegOpenKeyExA(parent, path.c_str(), 0, KEY_SET_VALUE, &opened);
  if (status != ERROR_SUCCESS) return status;
  status =
      RegSetValueExA(opened, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(opened);
  return status;
}

}  // namespace ost
