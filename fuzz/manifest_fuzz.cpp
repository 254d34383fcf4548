// The manifest parser on any bytes the update host might send.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fuzz_check.h"
#include "update/manifest.h"
#include "update/service_table.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The bytes in a buffer of their own size, so that a read past them is caught.
  const ost::Manifest manifest =
      ost::ParseManifest(std::string_view(reinterpret_cast<const char*>(data), size));

  FUZZ_CHECK(manifest.rows.size() <= static_cast<size_t>(ost::kServiceCount));
  FUZZ_CHECK(!manifest.ostraVersionUsable || (manifest.ostraVersion >= -ost::kMaxOstraVersion &&
                                              manifest.ostraVersion <= ost::kMaxOstraVersion));
  FUZZ_CHECK(!manifest.velinVersionUsable || (manifest.velinVersion >= -ost::kMaxVelinVersion &&
                                              manifest.velinVersion <= ost::kMaxVelinVersion));
  if (!manifest.hasEntryBlock) FUZZ_CHECK(manifest.rows.empty());
  for (const ost::ManifestRow& row : manifest.rows) {
    // Fields fit their widths once back in the manifest's encoding.
    FUZZ_CHECK(ost::Utf8ToGbk(row.versionLabel).size() <= ost::kNameWidth - 1);
    FUZZ_CHECK(ost::Utf8ToGbk(row.description).size() <= ost::kDescriptionWidth - 1);
    FUZZ_CHECK((row.component != nullptr) == (row.end >= ost::RowEnd::kNoLabelEnd));
    if (row.end < ost::RowEnd::kNoLineFeed) FUZZ_CHECK(row.versionLabel.empty());
    if (row.end < ost::RowEnd::kComplete) FUZZ_CHECK(row.description.empty());
  }
  for (const std::string& line : manifest.detailLines) {
    FUZZ_CHECK(line.size() >= 10);
    FUZZ_CHECK(line.find('\n') == std::string::npos && line.find('\0') == std::string::npos);
  }
  return 0;
}
