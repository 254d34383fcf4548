// The crypto port's contract: the same answers from every provider (known answers of
// FIPS 180-2 and RFC 6979), a refusal for whatever is no key or no signature, and no
// state between calls, whichever thread makes them.
#include <string>
#include <thread>
#include <vector>

#include "contract/contract.h"
#include "crypto/test_helpers.h"
#include "crypto/vectors.h"
#include "signing/signed_index.h"

namespace ost::contract {
namespace {

using crypto_test::DigestOf;
using crypto_test::Hex;
using crypto_test::Span;

TEST_P(CryptoContract, Sha256GivesTheKnownAnswers) {
  for (const vectors::HashVector& vector : vectors::Sha256Vectors()) {
    EXPECT_EQ(HexOf({DigestOf(provider().crypto(), vector.message).bytes, kSha256Size}),
              vector.sha256)
        << vector.message.size() << " bytes";
  }
}

TEST_P(CryptoContract, ASignatureIsValidForItsKeyAndDigestAlone) {
  CryptoPort& crypto = provider().crypto();
  const std::vector<uint8_t> key = Hex(vectors::kRfcPublicKey);
  const std::vector<uint8_t> signature = Hex(vectors::kRfcSignature);
  const Sha256Digest digest = DigestOf(crypto, vectors::kRfcMessage);
  EXPECT_EQ(crypto.VerifyP256(Span(key), digest, Span(signature)), SignatureCheck::kValid);

  std::vector<uint8_t> flipped = signature;
  flipped[40] ^= 0x04;
  EXPECT_EQ(crypto.VerifyP256(Span(key), digest, Span(flipped)), SignatureCheck::kInvalid);
  Sha256Digest other = digest;
  other.bytes[0] ^= 0x01;
  EXPECT_EQ(crypto.VerifyP256(Span(key), other, Span(signature)), SignatureCheck::kInvalid);
  // No signature: of another size, or r and s zero.
  EXPECT_EQ(crypto.VerifyP256(Span(key), digest, {signature.data(), 63}), SignatureCheck::kInvalid);
  EXPECT_EQ(crypto.VerifyP256(Span(key), digest, ByteSpan()), SignatureCheck::kInvalid);
  const std::vector<uint8_t> zero(kP256SignatureSize, 0);
  EXPECT_EQ(crypto.VerifyP256(Span(key), digest, Span(zero)), SignatureCheck::kInvalid);
  // No key: of another size, compressed, off the curve.
  EXPECT_EQ(crypto.VerifyP256({key.data(), 64}, digest, Span(signature)), SignatureCheck::kBadKey);
  std::vector<uint8_t> bad = key;
  bad[0] = 0x03;
  EXPECT_EQ(crypto.VerifyP256(Span(bad), digest, Span(signature)), SignatureCheck::kBadKey);
  // Off the curve: refused, at the import or at the verification (Wine's CNG takes the
  // point in and finds no signature of it).
  bad = key;
  bad[64] ^= 0x01;
  const SignatureCheck offCurve = crypto.VerifyP256(Span(bad), digest, Span(signature));
  EXPECT_TRUE(offCurve == SignatureCheck::kBadKey || offCurve == SignatureCheck::kInvalid);
}

TEST_P(CryptoContract, CallsFromTwoThreadsAtOnceKeepTheirOwnAnswers) {
  CryptoPort& crypto = provider().crypto();
  const std::vector<uint8_t> key = Hex(vectors::kRfcPublicKey);
  const std::vector<uint8_t> signature = Hex(vectors::kRfcSignature);
  const std::string texts[2] = {std::string(1 << 20, 'a'), "abc"};
  const Sha256Digest expected[2] = {DigestOf(crypto, texts[0]), DigestOf(crypto, texts[1])};
  int wrong[2] = {0, 0};
  auto work = [&](int which) {
    for (int i = 0; i < 50; ++i) {
      Sha256Digest digest;
      if (!crypto.Sha256(ByteSpan::Of(texts[which]), &digest) || digest != expected[which]) {
        ++wrong[which];
      }
      const bool valid = crypto.VerifyP256(Span(key), DigestOf(crypto, vectors::kRfcMessage),
                                           Span(signature)) == SignatureCheck::kValid;
      if (!valid) ++wrong[which];
    }
  };
  std::thread other(work, 1);
  work(0);
  other.join();
  EXPECT_EQ(wrong[0] + wrong[1], 0);
}

}  // namespace
}  // namespace ost::contract
