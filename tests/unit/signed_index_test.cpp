// The signed index: its text, its parsing, and the check of its signature.
#include <gtest/gtest.h>

#include <algorithm>

#include "ost-release/signer.h"
#include "platform/posix/openssl_crypto.h"
#include "signing/signed_index.h"

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
    index.serial = 1765000000;
    index.expires = 1780552000;
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
  EXPECT_EQ(text.substr(0, 78),
            "OSTRA-RELEASE-INDEX 2\nostra 382\nvelin 71\nserial 1765000000\nexpires 1780552000\n");
  IndexRead read = s.Read(text);
  ASSERT_EQ(read.problem, IndexProblem::kNone) << read.detail;
  EXPECT_EQ(read.index.format, 2);
  EXPECT_EQ(read.index.ostraVersion, 382);
  EXPECT_EQ(read.index.velinVersion, 71);
  EXPECT_EQ(read.index.serial, 1765000000u);
  EXPECT_EQ(read.index.expires, 1780552000u);
  ASSERT_EQ(read.index.files.size(), 4u);
  for (const IndexEntry& entry : s.index.files) {
    const IndexEntry* found = read.index.Find(entry.path);
    ASSERT_NE(found, nullptr) << entry.path;
    EXPECT_EQ(found->size, entry.size);
    EXPECT_EQ(found->digest, entry.digest);
  }
  EXPECT_EQ(read.index.Find("CSOstraAgent.exe.zip"), nullptr);

  // The first format, without serial and expiry, still reads: as serial 0, no expiry.
  s.index.format = 1;
  const std::string first = s.Text();
  EXPECT_EQ(first.substr(0, 22), "OSTRA-RELEASE-INDEX 1\n");
  read = s.Read(first);
  ASSERT_EQ(read.problem, IndexProblem::kNone) << read.detail;
  EXPECT_EQ(read.index.format, 1);
  EXPECT_EQ(read.index.serial, 0u);
  EXPECT_EQ(read.index.expires, 0u);
  EXPECT_EQ(read.index.files.size(), 4u);
}

TEST(SignedIndex, AnyOfUpToThreeKeysMaySignAndAnyOfThemIsAccepted) {
  Signed s;
  auto next = release::SigningKey::Generate();
  auto third = release::SigningKey::Generate();
  auto stranger = release::SigningKey::Generate();
  const std::vector<uint8_t> nextPoint = next->PublicPoint();
  const std::vector<uint8_t> thirdPoint = third->PublicPoint();
  const std::string body = IndexBody(s.index);
  Sha256Digest digest;
  s.crypto.Sha256(ByteSpan::Of(body), &digest);
  auto signedBy = [&](std::initializer_list<const release::SigningKey*> keys) {
    std::vector<std::vector<uint8_t>> signatures;
    for (const release::SigningKey* key : keys) signatures.push_back(key->Sign(digest));
    return SignedIndexText(body, signatures);
  };
  auto read = [&](const std::vector<std::vector<uint8_t>>& keys, const std::string& text) {
    return ReadSignedIndex(s.crypto, keys, ByteSpan::Of(text)).problem;
  };
  // A rotation: the old key alone, then both, then the new one alone; servers that know
  // the old key, both, or only the new one.
  const std::string oldOnly = signedBy({s.key.get()});
  const std::string both = signedBy({s.key.get(), next.get()});
  const std::string newOnly = signedBy({next.get()});
  EXPECT_EQ(std::count(both.begin(), both.end(), '\n'), 11);
  const std::vector<std::vector<uint8_t>> oldServer = {s.point};
  const std::vector<std::vector<uint8_t>> threeKeys = {thirdPoint, s.point, nextPoint};
  const std::vector<std::vector<uint8_t>> newServer = {nextPoint};
  EXPECT_EQ(read(oldServer, oldOnly), IndexProblem::kNone);
  EXPECT_EQ(read(oldServer, both), IndexProblem::kNone);
  EXPECT_EQ(read(oldServer, newOnly), IndexProblem::kBadSignature);
  for (const std::string& text : {oldOnly, both, newOnly}) {
    EXPECT_EQ(read(threeKeys, text), IndexProblem::kNone);
  }
  EXPECT_EQ(read(newServer, oldOnly), IndexProblem::kBadSignature);
  EXPECT_EQ(read(newServer, both), IndexProblem::kNone);
  EXPECT_EQ(read(newServer, signedBy({s.key.get(), next.get(), third.get()})), IndexProblem::kNone);
  EXPECT_EQ(read(threeKeys, signedBy({stranger.get(), stranger.get()})),
            IndexProblem::kBadSignature);
  // Four signature lines are more than a server may hold keys.
  EXPECT_EQ(read(threeKeys, signedBy({stranger.get(), s.key.get(), next.get(), third.get()})),
            IndexProblem::kMalformed);
  // A changed body breaks every signature.
  std::string changed = both;
  changed[changed.find("ostra 382") + 8] = '3';
  EXPECT_EQ(read(threeKeys, changed), IndexProblem::kBadSignature);

  // The registry value: up to three keys separated by ';', blanks around each aside.
  const std::string a = PublicKeyText(Span(s.point));
  const std::string b = PublicKeyText(Span(nextPoint));
  std::vector<std::vector<uint8_t>> points;
  ASSERT_TRUE(ParsePublicKeyList(a, &points));
  EXPECT_EQ(points, oldServer);
  ASSERT_TRUE(ParsePublicKeyList(" " + a + " ; " + b + ";" + a, &points));
  EXPECT_EQ(points.size(), 3u);
  EXPECT_EQ(points[1], nextPoint);
  for (const std::string& bad : {a + ";" + b + ";" + a + ";" + b, a + ";", ";" + a, a + ";;" + b,
                                 a + "," + b, std::string()}) {
    EXPECT_FALSE(ParsePublicKeyList(bad, &points)) << bad;
  }
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

  // The second format's serial and expiry: both there, in their places, from 1.
  const std::string versions = "OSTRA-RELEASE-INDEX 2\nostra 382\nvelin 71\n";
  for (const std::string& lines : {
           std::string("serial 5\n"),
           std::string("expires 9\nserial 5\n"),
           std::string("serial 0\nexpires 9\n"),
           std::string("serial 05\nexpires 9\n"),
           std::string("serial 5\nexpires 0\n"),
           std::string("serial 12345678901\nexpires 9\n"),
           std::string("serial 5\nfile 5 ") + digest + " a.zip\nexpires 9\n",
           std::string("file 5 ") + digest + " a.zip\n",
       }) {
    EXPECT_EQ(s.Read(s.Text(*s.key, versions + lines)).problem, IndexProblem::kMalformed) << lines;
  }
  good = s.Read(s.Text(*s.key, versions + "serial 5\nexpires 9999999999\n"));
  ASSERT_EQ(good.problem, IndexProblem::kNone) << good.detail;
  EXPECT_EQ(good.index.expires, 9999999999u);
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
