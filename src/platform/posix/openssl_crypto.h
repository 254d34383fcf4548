// The crypto port over OpenSSL's libcrypto.
#pragma once

#include "platform/crypto_port.h"

namespace ost {

class OpenSslCrypto : public CryptoPort {
 public:
  bool Sha256(ByteSpan data, Sha256Digest* digest) override;
  SignatureCheck VerifyP256(ByteSpan publicKey, const Sha256Digest& digest,
                            ByteSpan signature) override;
};

}  // namespace ost
