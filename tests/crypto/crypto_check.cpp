// ost-cryptocheck: the platform's crypto provider from the command line, built for
// Linux (OpenSSL) and for Windows (CNG, run under Wine), so that each side verifies
// what the other signed.
//   kat                       the known answers of tests/crypto/vectors.h against this
//                             build's provider; ends with "N passed, N failed"
//   sign FILE                 a new P-256 key signs SHA-256 of FILE (OpenSSL, or CNG's
//                             own key generation and signing); prints the public key and
//                             the signature (r, s) in hex, one line each
//   verify KEYHEX SIGHEX FILE this build's provider checks the signature of FILE; prints
//                             valid, invalid, bad key or unavailable (status 0 for valid)
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crypto/vectors.h"
#include "signing/signed_index.h"

#ifdef _WIN32
// clang-format off
#include "platform/win32/windows_headers.h"
#include <bcrypt.h>
// clang-format on
#include "platform/win32/cng_crypto.h"
using Provider = ost::CngCrypto;
#else
#include "ost-release/signer.h"
#include "platform/posix/openssl_crypto.h"
using Provider = ost::OpenSslCrypto;
#endif

namespace {

bool ReadFile(const char* path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

ost::ByteSpan Span(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

#ifdef _WIN32
// CNG's side of the test: its own key and signature, made by the system's bcrypt.
bool SignWithPlatform(const ost::Sha256Digest& digest, std::vector<uint8_t>* point,
                      std::vector<uint8_t>* signature) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  bool ok = BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
            BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm, &key, 256, 0)) &&
            BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key, 0));
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  ULONG size = 0;
  ok = ok && BCRYPT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob.data(),
                                            static_cast<ULONG>(blob.size()), &size, 0));
  signature->assign(64, 0);
  ok = ok &&
       BCRYPT_SUCCESS(BCryptSignHash(key, nullptr, const_cast<PUCHAR>(digest.bytes), 32,
                                     signature->data(), 64, &size, 0)) &&
       size == 64;
  if (key) BCryptDestroyKey(key);
  if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  point->assign(1, 0x04);
  point->insert(point->end(), blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB), blob.end());
  return ok;
}
#else
bool SignWithPlatform(const ost::Sha256Digest& digest, std::vector<uint8_t>* point,
                      std::vector<uint8_t>* signature) {
  auto key = ost::release::SigningKey::Generate();
  if (!key) return false;
  *point = key->PublicPoint();
  *signature = key->Sign(digest);
  return point->size() == 65 && signature->size() == 64;
}
#endif

int KnownAnswers(Provider& crypto) {
  int passed = 0;
  int failed = 0;
  auto check = [&](bool ok, const std::string& what) {
    if (ok) {
      ++passed;
    } else {
      ++failed;
      std::printf("FAIL: %s\n", what.c_str());
    }
  };
  for (const ost::vectors::HashVector& vector : ost::vectors::Sha256Vectors()) {
    ost::Sha256Digest digest;
    check(crypto.Sha256(ost::ByteSpan::Of(vector.message), &digest) &&
              ost::HexOf({digest.bytes, 32}) == vector.sha256,
          "SHA-256 of " + std::to_string(vector.message.size()) + " bytes");
  }
  std::vector<uint8_t> key;
  std::vector<uint8_t> signature;
  ost::ParseHex(ost::vectors::kRfcPublicKey, &key);
  ost::ParseHex(ost::vectors::kRfcSignature, &signature);
  ost::Sha256Digest digest;
  crypto.Sha256(ost::ByteSpan::Of(ost::vectors::kRfcMessage), &digest);
  check(crypto.VerifyP256(Span(key), digest, Span(signature)) == ost::SignatureCheck::kValid,
        "the RFC 6979 signature verifies");
  for (size_t at : {0u, 40u, 63u}) {
    std::vector<uint8_t> flipped = signature;
    flipped[at] ^= 0x01;
    check(crypto.VerifyP256(Span(key), digest, Span(flipped)) == ost::SignatureCheck::kInvalid,
          "a flipped signature byte " + std::to_string(at) + " is refused");
  }
  ost::Sha256Digest other = digest;
  other.bytes[0] ^= 0x01;
  check(crypto.VerifyP256(Span(key), other, Span(signature)) == ost::SignatureCheck::kInvalid,
        "another digest is refused");
  std::vector<uint8_t> offCurve = key;
  offCurve[64] ^= 0x01;
  check(crypto.VerifyP256(Span(offCurve), digest, Span(signature)) != ost::SignatureCheck::kValid,
        "a key off the curve verifies nothing");
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Provider crypto;
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "kat" && argc == 2) return KnownAnswers(crypto);
  std::string content;
  if (command == "sign" && argc == 3 && ReadFile(argv[2], &content)) {
    ost::Sha256Digest digest;
    std::vector<uint8_t> point;
    std::vector<uint8_t> signature;
    if (!crypto.Sha256(ost::ByteSpan::Of(content), &digest) ||
        !SignWithPlatform(digest, &point, &signature)) {
      std::printf("cannot sign\n");
      return 1;
    }
    std::printf("%s\n%s\n", ost::HexOf(Span(point)).c_str(), ost::HexOf(Span(signature)).c_str());
    return 0;
  }
  if (command == "verify" && argc == 5 && ReadFile(argv[4], &content)) {
    std::vector<uint8_t> key;
    std::vector<uint8_t> signature;
    ost::Sha256Digest digest;
    if (!ost::ParseHex(argv[2], &key) || !ost::ParseHex(argv[3], &signature) ||
        !crypto.Sha256(ost::ByteSpan::Of(content), &digest)) {
      std::printf("unavailable\n");
      return 1;
    }
    switch (crypto.VerifyP256(Span(key), digest, Span(signature))) {
      case ost::SignatureCheck::kValid:
        std::printf("valid\n");
        return 0;
      case ost::SignatureCheck::kInvalid:
        std::printf("invalid\n");
        return 1;
      case ost::SignatureCheck::kBadKey:
        std::printf("bad key\n");
        return 1;
      case ost::SignatureCheck::kUnavailable:
        std::printf("unavailable\n");
        return 1;
    }
  }
  std::fprintf(stderr, "usage: ost-cryptocheck kat | sign FILE | verify KEYHEX SIGHEX FILE\n");
  return 64;
}
