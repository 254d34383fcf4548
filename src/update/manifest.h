// The update manifest (server.txt), parsed from its bytes alone: versions, one entry
// row per component slot, and the lines of the detail block. What the rows mean for
// this machine is the evaluation's business, not the parser's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/catalogue.h"

namespace ost {

// How far an entry row could be read. A row is read in full here; the evaluation
// stops at an incomplete one only when its component is newer.
enum class RowEnd {
  kNoKey,       // no second TAB, so no key can be told
  kUnknownKey,  // the key names no component
  kNoLabelEnd,  // no TAB after the version label
  kNoLineFeed,  // no line feed after the description
  kComplete,
};

struct ManifestRow {
  int32_t version = 0;  // the first field, read like a standard integer conversion
  RowEnd end = RowEnd::kComplete;
  const Component* component = nullptr;  // from kNoLabelEnd on
  std::string versionLabel;              // UTF-8, bound to its 31 bytes; from kNoLineFeed on
  std::string description;               // UTF-8, bound to its 255 bytes; kComplete only
};

// Beyond these (Ostra 99.99, Velin 29.9) a version names no release. Velin stops
// below 30.0 because its script rows would otherwise carry the tags of Ostra scripts.
constexpr int32_t kMaxOstraVersion = 9999;
constexpr int32_t kMaxVelinVersion = 299;

struct Manifest {
  // The header's two numbers, in hundredths and tenths; not usable below 0, beyond
  // their limits or when not a number.
  bool ostraVersionUsable = false;
  int32_t ostraVersion = 0;
  bool velinVersionUsable = false;
  int32_t velinVersion = 0;
  bool hasEntryBlock = false;            // "--BEGIN--" was found
  std::vector<ManifestRow> rows;         // at most kServiceCount, in slot order
  std::vector<std::string> detailLines;  // as they stand (GBK), up to the first short one
};

// The text ends at its first zero byte.
Manifest ParseManifest(std::string_view bytes);

}  // namespace ost
