// The maker's key: made, stored as PEM, and used to sign, with OpenSSL's libcrypto.
// The update tool never signs; this is the release tool's side.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/crypto_port.h"

namespace ost::release {

class SigningKey {
 public:
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // A new P-256 key; null when none could be made.
  static std::unique_ptr<SigningKey> Generate();
  // The key of a PEM text (PKCS#8 or SEC 1); null with *error when it is none, or not
  // a P-256 private key.
  static std::unique_ptr<SigningKey> FromPem(const std::string& pem, std::string* error);

  // The private key as PKCS#8 PEM.
  std::string Pem() const;
  // The public key as the curve's uncompressed point (65 bytes).
  std::vector<uint8_t> PublicPoint() const;
  // The signature of a SHA-256 digest as r and s (64 bytes); empty on failure.
  std::vector<uint8_t> Sign(const Sha256Digest& digest) const;

 private:
  explicit SigningKey(void* key) : key_(key) {}
  void* key_;  // EVP_PKEY
};

}  // namespace ost::release
