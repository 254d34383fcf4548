// The crypto port over Windows' CNG (bcrypt.dll), taken from the system folder only.
#pragma once

#include "platform/crypto_port.h"

namespace ost {

class CngCrypto : public CryptoPort {
 public:
  bool Sha256(ByteSpan data, Sha256Digest* digest) override;
  SignatureCheck VerifyP256(ByteSpan publicKey, const Sha256Digest& digest,
                            ByteSpan signature) override;
};

}  // namespace ost
