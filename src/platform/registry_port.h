// Read-only registry access, shaped after the Windows "A" functions so that their
// status codes stay exact. Value bytes are in the system code page (GBK).
#pragma once

#include <cstdint>
#include <string>

namespace ost {

enum class RegistryRoot { kLocalMachine, kCurrentUser, kClassesRoot, kUsers, kCurrentConfig };

using RegistryKey = uintptr_t;  // 0 means no key

// Status codes as the Windows registry functions return them.
constexpr long kRegSuccess = 0;
constexpr long kRegFileNotFound = 2;
constexpr long kRegAccessDenied = 5;
constexpr long kRegInvalidHandle = 6;
constexpr long kRegMoreData = 234;

class RegistryPort {
 public:
  virtual ~RegistryPort() = default;

  // Opens an existing key for reading into *key. Returns kRegSuccess or an error code;
  // *key is untouched on failure.
  virtual long OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) = 0;

  // Reads a value's bytes (strings include their terminating zero, as stored).
  // On entry *size is the buffer size; on success it is the number of bytes stored.
  // A value larger than the buffer fails with kRegMoreData and sets *size to the
  // value's size, leaving data unspecified.
  virtual long QueryValue(RegistryKey key, const std::string& name, uint8_t* data,
                          uint32_t* size) = 0;

  virtual long CloseKey(RegistryKey key) = 0;

  // Sets a REG_SZ value (the bytes and a terminating zero) of an existing key. The
  // tool's one write: the serial of the newest signed release it applied, kept where
  // only administrators can write.
  virtual long SetStringValue(RegistryRoot root, const std::string& path, const std::string& name,
                              const std::string& value) = 0;
};

}  // namespace ost
