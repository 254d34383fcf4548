// The signed index: its text, its parsing, and the check of its signature.
#include <gtest/gtest.h>

#include "platform/posix/openssl_crypto.h"
#include "release/signed_index.h"
#include "release/signer.h"

namespace ost {
namespace {

ByteSpan Span(const std::vector<uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

IndexEntry Entry(CryptoPort& crypto, const std::string& path, const std::string& content) {
  IndexEntry entry;
  entry.path = path;
  entry.size = content.size();
  crypto.Sha256(ByteSpan::Of(content), &entry.digest);
  return entry;
}

struct Signed {
  Signed() : key(release::SigningKey::Generate()), point(key->PublicPoint()) {
    index.ostraVersion = 382;
    index.velinVersion = 71;
    index.files = {Entry(crypto, "server.txt", "3.82 7.1\n"),
                   Entry(crypto, "CSOstraServer.exe.zip", "packed"),
                   Entry(crypto, "sql/update382.sql.zip", "script"),
                   Entry(crypto, "\xCA\xD7\xD2\xB3.htm.zip", "detail")};
  }
  std::string Text(const release::SigningKey& by, const std::string& body) {
    Sha256Digest digest;
    crypto.Sha256(ByteSpan::Of(body), &digest);
    const std::vector<uint8_t> signature = by.Sign(digest);
    return SignedIndexText(body, Span(signature));
  }
  std::string Text() { return Text(*key, IndexBody(index)); }
  IndexRead Read(const std::string& text) {
    return ReadSignedIndex(crypto, Span(point), ByteSpan::Of(text));
  }

  OpenSslCrypto crypto;
  std::unique_ptr<release::SigningKey> key;
  std::vector<uint8_t> point;
  ReleaseIndex index;
};

TEST(SignedIndex, ReadsBackWhatWasSigned) {
  Signed s;
  const std::string text = s.Text();
  EXPECT_EQ(text.substr(0, 22), "OSTRA-RELEASE-INDEX 1\n");
  IndexRead read = s.Read(text);
  ASSERT_EQ(read.problem, IndexProblem::kNone) << read.detail;
  EXPECT_EQ(read.index.ostraVersion, 382);
  EXPECT_EQ(read.index.velinVersion, 71);
  ASSERT_EQ(read.index.files.size(), 4u);
  for (const IndexEntry& entry : s.index.files) {
    const IndexEntry* found = read.index.Find(entry.path);
    ASSERT_NE(found, nullptr) << entry.path;
    EXPECT_EQ(found->size, entry.size);
    EXPECT_EQ(found->digest, entry.digest);
  }
  EXPECT_EQ(read.index.Find("CSOstraAgent.exe.zip"), nullptr);
}

TEST(SignedIndex, AnyChangedByteOrAnotherKeyBreaksTheSignature) {
  Signed s;
  const std::string text = s.Text();
  const size_t signatureAt = text.rfind("signature ");
  // Every byte of the body, one at a time (a digit that stays a digit included).
  for (size_t at = 0; at < signatureAt; ++at) {
    std::string changed = text;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    IndexRead read = s.Read(changed);
    EXPECT_NE(read.problem, IndexProblem::kNone) << "byte " << at;
  }
  std::string changed = text;
  changed[signatureAt + 20] = changed[signatureAt + 20] == '0' ? '1' : '0';
  EXPECT_EQ(s.Read(changed).problem, IndexProblem::kBadSignature);

  auto other = release::SigningKey::Generate();
  EXPECT_EQ(s.Read(s.Text(*other, IndexBody(s.index))).problem, IndexProblem::kBadSignature);
}

TEST(SignedIndex, MalformedTextsAreRefusedBeforeAnyUse) {
  Signed s;
  const std::string text = s.Text();
  EXPECT_EQ(s.Read("").problem, IndexProblem::kMalformed);
  EXPECT_EQ(s.Read(text + "x\n").problem, IndexProblem::kMalformed);  // after the signature
  EXPECT_EQ(s.Read(text.substr(0, text.size() - 1)).problem, IndexProblem::kMalformed);
  EXPECT_EQ(s.Read(text.substr(0, text.rfind("signature "))).problem, IndexProblem::kMalformed);
  EXPECT_EQ(s.Read("<html>404</html>\n").problem, IndexProblem::kMalformed);

  // Bodies that are signed but are no index: the signature alone does not make one.
  for (const std::string& body : {
           std::string("OSTRA-RELEASE-INDEX 2\nostra 382\nvelin 71\n"),
           std::string("OSTRA-RELEASE-INDEX 1\nvelin 71\nostra 382\n"),
           std::string("OSTRA-RELEASE-INDEX 1\nostra 382\n"),
           std::string("OSTRA-RELEASE-INDEX 1\r\nostra 382\r\nvelin 71\r\n"),
           std::string("OSTRA-RELEASE-INDEX 1\nostra 0382\nvelin 71\n"),
       }) {
    EXPECT_EQ(s.Read(s.Text(*s.key, body)).problem, IndexProblem::kMalformed) << body;
  }
  const std::string head = "OSTRA-RELEASE-INDEX 1\nostra 382\nvelin 71\n";
  const std::string digest(64, 'a');
  for (const std::string& line : {
           "file 5 " + digest + " ../server.txt", "file 5 " + digest + " /server.txt",
           "file 5 " + digest + " sql//x.zip", "file 5 " + digest + " a\\b.zip",
           "file 5 " + digest + " a b.zip", "file 0 " + digest + " a.zip",
           "file 05 " + digest + " a.zip", "file -5 " + digest + " a.zip",
           "file 5 " + std::string(64, 'A') + " a.zip", "file 5 " + digest.substr(1) + " a.zip",
           "file 5 " + digest, "data 5 " + digest + " a.zip",
           "file 5 " + digest + " a.zip\nfile 6 " + digest + " a.zip",  // twice
       }) {
    IndexRead read = s.Read(s.Text(*s.key, head + line + "\n"));
    EXPECT_EQ(read.problem, IndexProblem::kMalformed) << line;
  }
  IndexRead good = s.Read(s.Text(*s.key, head + "file 5 " + digest + " sql/a.zip\n"));
  EXPECT_EQ(good.problem, IndexProblem::kNone) << good.detail;
}

TEST(SignedIndex, PublicKeyText) {
  Signed s;
  const std::string text = PublicKeyText(Span(s.point));
  EXPECT_EQ(text.size(), 11u + 130u);
  std::vector<uint8_t> point;
  ASSERT_TRUE(ParsePublicKeyText(text, &point));
  EXPECT_EQ(point, s.point);
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(ParsePublicKeyText("  " + upper + " ", &point));
  EXPECT_EQ(point, s.point);
  EXPECT_FALSE(ParsePublicKeyText(text.substr(0, text.size() - 2), &point));
  EXPECT_FALSE(ParsePublicKeyText("ecdsa-p384:" + text.substr(11), &point));
  EXPECT_FALSE(ParsePublicKeyText(text.substr(11), &point));
  std::string compressed = text;
  compressed[12] = '2';  // 02...: not the uncompressed form
  EXPECT_FALSE(ParsePublicKeyText(compressed, &point));
  std::string notHex = text;
  notHex[40] = 'g';
  EXPECT_FALSE(ParsePublicKeyText(notHex, &point));
}

}  // namespace
}  // namespace ost
