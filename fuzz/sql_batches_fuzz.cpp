// Cutting an unpacked database script into its batches, checked against a plain
// reference: the text ends at its first zero byte; split at every "GO\r\n", drop the
// leading CR, LF, space and tab bytes, never send what follows the last separator.
// Byte 0 also says after how many batches the sender refuses (0-15; 0: never).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "update/sql_runner.h"

namespace {

std::vector<std::string> ReferenceBatches(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> batches;
  size_t at = 0;
  for (size_t found; (found = text.find("GO\r\n", at)) != std::string_view::npos; at = found + 3) {
    size_t start = text.find_first_not_of("\r\n \t", at);
    if (start == std::string_view::npos || start > found) start = found;
    std::string_view batch = text.substr(start, found - start);
    batches.emplace_back(batch);
  }
  return batches;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t refuseAfter = size == 0 ? 0 : data[0] % 16;
  // The script and the one byte for its terminator, and nothing more.
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (size > 0) std::memcpy(text.get(), data, size);
  text[size] = '#';

  std::vector<std::string> batches;
  int sent = ost::CutSqlBatches(text.get(), size, [&](const char* batch) {
    FUZZ_CHECK(batch >= text.get() && batch <= text.get() + size);
    batches.emplace_back(batch);
    return refuseAfter == 0 || batches.size() < refuseAfter;
  });

  FUZZ_CHECK(text[size] == '\0');
  std::vector<std::string> expected =
      ReferenceBatches(std::string_view(reinterpret_cast<const char*>(data), size));
  if (refuseAfter != 0 && expected.size() > refuseAfter) expected.resize(refuseAfter);
  FUZZ_CHECK(batches == expected);
  const size_t accepted =
      refuseAfter != 0 && batches.size() == refuseAfter ? batches.size() - 1 : batches.size();
  FUZZ_CHECK(sent == static_cast<int>(accepted));
  return 0;
}
