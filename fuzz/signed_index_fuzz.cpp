// The body of server.sig, and the UpdateKey value. The index is read only once its
// signature is good, but a maker's key may sign whatever its tool wrote: whatever the
// parser accepts must be exactly what the writer would write for it, so that two
// readings of one text can never differ.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "signing/signed_index.h"

namespace {

// A path that stays below the update folder: relative, no empty, "." or ".." segment,
// no backslash that Windows would read as a separator.
bool StaysBelow(const std::string& path) {
  if (path.empty() || path.find('\\') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string segment = path.substr(start, slash - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text in a string of its own size, so that a read past it is caught.
  const std::string text(reinterpret_cast<const char*>(data), size);

  ost::ReleaseIndex index;
  std::string detail;
  if (ost::ParseIndexBody(std::string_view(text.data(), text.size()), &index, &detail)) {
    FUZZ_CHECK(ost::IndexBody(index) == text);
    for (const ost::IndexEntry& entry : index.files) {
      FUZZ_CHECK(entry.size > 0 && StaysBelow(entry.path));
      FUZZ_CHECK(index.Find(entry.path) == &entry);
    }
  } else {
    FUZZ_CHECK(!detail.empty());
  }

  std::vector<uint8_t> point;
  if (ost::ParsePublicKeyText(std::string_view(text.data(), text.size()), &point)) {
    FUZZ_CHECK(point.size() == ost::kP256PublicKeySize && point[0] == 0x04);
    // The same key printed again reads back to the same point.
    std::vector<uint8_t> again;
    FUZZ_CHECK(ost::ParsePublicKeyText(ost::PublicKeyText({point.data(), point.size()}), &again));
    FUZZ_CHECK(again == point);
  }
  return 0;
}
