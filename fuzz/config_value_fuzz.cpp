// The scrambled configuration values: unscrambling any registry bytes, and the round
// trip of every text the product's setup can store.
//
// The input is used three ways: as a 128-byte registry value (cut or zero-padded), as
// a value of exactly its own length (up to 128 bytes), and as a text to store: byte 0
// picks the step, byte 1 the key position, byte 2 the seed, the rest is the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "system/config_store.h"

namespace {

// What a caller relies on: on success a terminated text at the start, inside len.
void CheckUnscrambled(const uint8_t* buffer, int len, int result) {
  FUZZ_CHECK(result >= 0 && result <= 3);
  if (result != 0) return;
  FUZZ_CHECK(len > 0);
  size_t text = strnlen(reinterpret_cast<const char*>(buffer), static_cast<size_t>(len));
  FUZZ_CHECK(text < static_cast<size_t>(len));
}

void UnscrambleValue(const uint8_t* data, size_t size) {
  uint8_t value[ost::kScrambledSize] = {};
  std::memcpy(value, data, std::min<size_t>(size, sizeof value));
  CheckUnscrambled(value, ost::kScrambledSize,
                   ost::UnscrambleConfigValue(value, ost::kScrambledSize));
}

void UnscrambleExactLength(const uint8_t* data, size_t size) {
  const int len = static_cast<int>(std::min<size_t>(size, ost::kScrambledSize));
  // On the heap at its exact size, so that any access beyond len is caught.
  std::unique_ptr<uint8_t[]> value(new uint8_t[static_cast<size_t>(len)]);
  if (len > 0) std::memcpy(value.get(), data, static_cast<size_t>(len));
  CheckUnscrambled(value.get(), len, ost::UnscrambleConfigValue(value.get(), len));
}

void RoundTrip(const uint8_t* data, size_t size) {
  if (size < 3) return;
  ost::ScrambleChoice choice;
  choice.step = 3 + data[0] % 23;                             // 3..25
  choice.position = 5 + data[1] % (ost::kScrambledSize - 6);  // 5..126
  choice.seed = data[2];
  std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
  std::vector<uint8_t> stored = ost::ScrambleConfigValue(text, choice);
  const bool storable = !text.empty() && text.size() <= ost::kScrambledSize / 2 &&
                        text.find('\0') == std::string_view::npos;
  FUZZ_CHECK(stored.empty() != storable);
  if (!storable) return;
  FUZZ_CHECK(stored.size() == static_cast<size_t>(ost::kScrambledSize));
  FUZZ_CHECK(ost::UnscrambleConfigValue(stored.data(), ost::kScrambledSize) == 0);
  FUZZ_CHECK(strnlen(reinterpret_cast<const char*>(stored.data()), stored.size()) == text.size());
  FUZZ_CHECK(std::memcmp(stored.data(), text.data(), text.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  UnscrambleValue(data, size);
  UnscrambleExactLength(data, size);
  RoundTrip(data, size);
  return 0;
}
