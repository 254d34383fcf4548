// A read-only view of bytes that someone else owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ost {

struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;

  std::string_view AsText() const {
    return std::string_view(reinterpret_cast<const char*>(data), size);
  }
  static ByteSpan Of(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
  }
};

}  // namespace ost
