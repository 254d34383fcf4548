#include "platform/posix/openssl_crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace ost {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using BuildPtr = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;

// The public key from its point; null when the point is not on the curve.
PkeyPtr ImportPublicKey(ByteSpan point) {
  BuildPtr build(OSSL_PARAM_BLD_new());
  if (!build ||
      !OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data,
                                        point.size)) {
    return nullptr;
  }
  ParamPtr params(OSSL_PARAM_BLD_to_param(build.get()));
  PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) <= 0) return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0) {
    return nullptr;
  }
  PkeyPtr owned(key);
  // The import takes the bytes; that they name a point of the curve is checked here.
  PkeyCtxPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return owned;
}

}  // namespace

bool OpenSslCrypto::Sha256(ByteSpan data, Sha256Digest* digest) {
  unsigned int size = 0;
  return EVP_Digest(data.data, data.size, digest->bytes, &size, EVP_sha256(), nullptr) == 1 &&
         size == kSha256Size;
}

SignatureCheck OpenSslCrypto::VerifyP256(ByteSpan publicKey, const Sha256Digest& digest,
                                         ByteSpan signature) {
  if (publicKey.size != kP256PublicKeySize || publicKey.data[0] != 0x04) {
    return SignatureCheck::kBadKey;
  }
  if (signature.size != kP256SignatureSize) return SignatureCheck::kInvalid;
  PkeyPtr key = ImportPublicKey(publicKey);
  if (!key) return SignatureCheck::kBadKey;

  // OpenSSL takes the signature in its DER form.
  SigPtr sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data, 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data + 32, 32, nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return SignatureCheck::kUnavailable;
  }
  unsigned char* der = nullptr;
  int derSize = i2d_ECDSA_SIG(sig.get(), &der);
  if (derSize <= 0) return SignatureCheck::kUnavailable;
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwned(
      der, [](unsigned char* p) { OPENSSL_free(p); });

  PkeyCtxPtr context(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!context || EVP_PKEY_verify_init(context.get()) <= 0) return SignatureCheck::kUnavailable;
  int verified =
      EVP_PKEY_verify(context.get(), der, static_cast<size_t>(derSize), digest.bytes, kSha256Size);
  return verified == 1 ? SignatureCheck::kValid : SignatureCheck::kInvalid;
}

}  // namespace ost
