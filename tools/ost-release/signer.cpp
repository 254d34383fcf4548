#include "ost-release/signer.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace ost::release {
namespace {

EVP_PKEY* Key(void* key) { return static_cast<EVP_PKEY*>(key); }

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        &length) == 1 &&
         std::string(group, length) == "prime256v1";
}

}  // namespace

SigningKey::~SigningKey() { EVP_PKEY_free(Key(key_)); }

std::unique_ptr<SigningKey> SigningKey::Generate() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) return nullptr;
  return std::unique_ptr<SigningKey>(new SigningKey(key));
}

std::unique_ptr<SigningKey> SigningKey::FromPem(const std::string& pem, std::string* error) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  if (!key) {
    *error = "no PEM private key";
    return nullptr;
  }
  if (!IsP256(key)) {
    EVP_PKEY_free(key);
    *error = "not an ECDSA P-256 key";
    return nullptr;
  }
  return std::unique_ptr<SigningKey>(new SigningKey(key));
}

std::string SigningKey::Pem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  std::string pem;
  if (bio && PEM_write_bio_PrivateKey(bio, Key(key_), nullptr, nullptr, 0, nullptr, nullptr) == 1) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    pem.assign(data, static_cast<size_t>(size));
  }
  BIO_free(bio);
  return pem;
}

std::vector<uint8_t> SigningKey::PublicPoint() const {
  std::vector<uint8_t> point(kP256PublicKeySize);
  size_t size = 0;
  if (EVP_PKEY_get_octet_string_param(Key(key_), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(),
                                      point.size(), &size) != 1 ||
      size != kP256PublicKeySize) {
    return {};
  }
  return point;
}

std::vector<uint8_t> SigningKey::Sign(const Sha256Digest& digest) const {
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(Key(key_), nullptr);
  std::vector<uint8_t> der(128);
  size_t derSize = der.size();
  const bool signedOk =
      context && EVP_PKEY_sign_init(context) == 1 &&
      EVP_PKEY_sign(context, der.data(), &derSize, digest.bytes, kSha256Size) == 1;
  EVP_PKEY_CTX_free(context);
  if (!signedOk) return {};
  // The DER form to r and s, each 32 bytes big-endian.
  const unsigned char* at = der.data();
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(derSize));
  if (!sig) return {};
  std::vector<uint8_t> raw(kP256SignatureSize);
  const bool ok = BN_bn2binpad(ECDSA_SIG_get0_r(sig), raw.data(), 32) == 32 &&
                  BN_bn2binpad(ECDSA_SIG_get0_s(sig), raw.data() + 32, 32) == 32;
  ECDSA_SIG_free(sig);
  return ok ? raw : std::vector<uint8_t>{};
}

}  // namespace ost::release
