// The .reg reader on any text, and for every text it accepts: the written form reads
// back to the same document, and writing that again gives the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/posix/reg_file.h"

namespace {

bool SameDocument(const ost::RegDocument& a, const ost::RegDocument& b) {
  if (a.keys.size() != b.keys.size()) return false;
  for (size_t k = 0; k < a.keys.size(); ++k) {
    const ost::RegKeyData& x = a.keys[k];
    const ost::RegKeyData& y = b.keys[k];
    if (x.root != y.root || x.path != y.path || x.values.size() != y.values.size()) return false;
    for (size_t v = 0; v < x.values.size(); ++v) {
      if (x.values[v].name != y.values[v].name || x.values[v].type != y.values[v].type ||
          x.values[v].data != y.values[v].data) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // In a string of its own size, so that a read past the text is caught.
  const std::string text(reinterpret_cast<const char*>(data), size);
  ost::RegDocument doc;
  std::string error;
  if (!ost::ParseRegFile(std::string_view(text.data(), text.size()), "fuzz.reg", &doc, &error)) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(doc.keys.empty());  // untouched on failure
    return 0;
  }
  const std::string written = ost::WriteRegFile(doc);
  ost::RegDocument again;
  std::string againError;
  if (!ost::ParseRegFile(written, "written.reg", &again, &againError)) {
    std::fprintf(stderr, "written form does not read back: %s\n", againError.c_str());
    std::abort();
  }
  FUZZ_CHECK(SameDocument(doc, again));
  FUZZ_CHECK(ost::WriteRegFile(again) == written);
  return 0;
}
