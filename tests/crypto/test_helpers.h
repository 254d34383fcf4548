// What the crypto tests share: hex in, spans out, a digest of a text through a provider.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/crypto_port.h"
#include "signing/signed_index.h"

namespace ost::crypto_test {

inline std::vector<uint8_t> Hex(const char* hex) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ParseHex(hex, &bytes)) << hex;
  return bytes;
}

inline ByteSpan Span(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

inline Sha256Digest DigestOf(CryptoPort& crypto, const std::string& text) {
  Sha256Digest digest;
  EXPECT_TRUE(crypto.Sha256(ByteSpan::Of(text), &digest));
  return digest;
}

}  // namespace ost::crypto_test
