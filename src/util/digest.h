// A digest of bytes, as records show it, from whatever provides one.
#pragma once

#include <functional>
#include <string>

#include "util/bytes.h"

namespace ost {

// The SHA-256 of bytes as 64 lower-case hex digits; empty when none can be had.
using Sha256Hex = std::function<std::string(ByteSpan)>;

}  // namespace ost
