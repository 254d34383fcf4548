// Registry contents in regedit's text format ("REGEDIT4"), the Linux stand-in for the
// registry of the server machine. The same file imports into Windows with `regedit /s`.
//
// Bytes are kept as they are: names and strings are in the system code page (GBK),
// and a GBK double-byte character is never split, so a trail byte 0x5C is not taken
// for a backslash, just as regedit reads the file on a Chinese Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_port.h"

namespace ost {

enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

struct RegValue {
  std::string name;  // empty for the default value ("@")
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;  // as stored: a REG_SZ includes its terminating zero
};

struct RegKeyData {
  RegistryRoot root = RegistryRoot::kLocalMachine;
  std::string path;  // below the root, without leading or trailing backslashes
  std::vector<RegValue> values;

  // Names compare as the registry does (RegNamesEqual).
  const RegValue* FindValue(std::string_view name) const;
  RegValue* FindValue(std::string_view name);
  // Replaces the type and data of an existing value (keeping its spelling and place)
  // or appends a new one.
  void SetValue(std::string_view name, uint32_t type, std::vector<uint8_t> data);
  bool DeleteValue(std::string_view name);
};

struct RegDocument {
  std::vector<RegKeyData> keys;  // in file order

  // Only the key of exactly this path (RegPathsEqual); subkeys do not imply parents.
  const RegKeyData* FindKey(RegistryRoot root, std::string_view path) const;
  RegKeyData* FindKey(RegistryRoot root, std::string_view path);
  // The existing key of this path, or a new one appended. The reference is valid until
  // the next change to `keys`.
  RegKeyData& AddKey(RegistryRoot root, std::string_view path);
  // Removes the key and every key below it; returns how many keys went.
  size_t DeleteKeyTree(RegistryRoot root, std::string_view path);

  // Create the key as needed and set one value.
  void SetValue(RegistryRoot root, std::string_view path, std::string_view name, uint32_t type,
                std::vector<uint8_t> data);
  // A REG_SZ of these bytes plus a terminating zero.
  void SetString(RegistryRoot root, std::string_view path, std::string_view name,
                 std::string_view text);
  void SetDword(RegistryRoot root, std::string_view path, std::string_view name, uint32_t value);
  void SetBinary(RegistryRoot root, std::string_view path, std::string_view name,
                 std::vector<uint8_t> bytes);
};

// "HKEY_LOCAL_MACHINE" and so on.
const char* RegistryRootName(RegistryRoot root);
// Accepts the long names and HKLM, HKCU, HKCR, HKU, HKCC, in any letter case.
bool ParseRegistryRootName(std::string_view name, RegistryRoot* root);

// Case-insensitive for ASCII letters; bytes of GBK double-byte characters compare
// exactly.
bool RegNamesEqual(std::string_view a, std::string_view b);
// The same for key paths, ignoring leading and trailing backslashes.
bool RegPathsEqual(std::string_view a, std::string_view b);
// The path without leading and trailing backslashes.
std::string_view TrimRegPath(std::string_view path);

// Parses regedit text (LF or CR LF line ends, optional UTF-8 BOM). On failure returns
// false, leaves *out untouched and sets *error to "fileName:line: what is wrong".
bool ParseRegFile(std::string_view text, std::string_view fileName, RegDocument* out,
                  std::string* error);

// REGEDIT4 text with CR LF line ends that ParseRegFile reads back to the same data.
// Value names must be ones the format can carry: no CR or LF, and no GBK lead byte
// right before a quote (no name that ParseRegFile produces breaks these).
std::string WriteRegFile(const RegDocument& doc);

enum class RegLoadStatus { kOk, kNotFound, kUnreadable, kBadSyntax };

// Reads and parses a file; *error says why when the result is not kOk.
RegLoadStatus LoadRegFile(const std::string& path, RegDocument* out, std::string* error);
// Writes the file through a temporary file and a rename, so readers never see half of it.
bool SaveRegFile(const std::string& path, const RegDocument& doc, std::string* error);

}  // namespace ost
