// Cryptography from the platform: SHA-256 and the verification of ECDSA P-256
// signatures, for releases signed by their maker. The tool only verifies; keys and
// signatures are made by the release tool. No call keeps state between calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/bytes.h"

namespace ost {

constexpr size_t kSha256Size = 32;
// A public key as the uncompressed point of the curve: 0x04, X, Y (32 bytes each).
constexpr size_t kP256PublicKeySize = 65;
// A signature as r and s, 32 big-endian bytes each.
constexpr size_t kP256SignatureSize = 64;

struct Sha256Digest {
  uint8_t bytes[kSha256Size] = {};
  bool operator==(const Sha256Digest& other) const;
  bool operator!=(const Sha256Digest& other) const { return !(*this == other); }
};

enum class SignatureCheck {
  kValid,        // the key signed this digest
  kInvalid,      // it did not, or the signature is no signature of the curve
  kBadKey,       // the key is no point of the curve, or not of the sizes above
  kUnavailable,  // the system's provider could not be had
};

class CryptoPort {
 public:
  virtual ~CryptoPort() = default;

  // The SHA-256 digest of data into *digest. False when the system's provider cannot
  // be had; *digest is unspecified then. Any thread.
  virtual bool Sha256(ByteSpan data, Sha256Digest* digest) = 0;

  // Whether signature is an ECDSA P-256 signature of digest by publicKey. A key of
  // another size or form gives kBadKey, a signature of another size kInvalid; a point
  // off the curve gives kBadKey where the system's provider checks it at the import,
  // kInvalid where it finds it only at the verification. Never kValid for either. Any
  // thread; no call keeps state between calls.
  virtual SignatureCheck VerifyP256(ByteSpan publicKey, const Sha256Digest& digest,
                                    ByteSpan signature) = 0;
};

inline bool Sha256Digest::operator==(const Sha256Digest& other) const {
  for (size_t i = 0; i < kSha256Size; ++i) {
    if (bytes[i] != other.bytes[i]) return false;
  }
  return true;
}

}  // namespace ost
