// A release signed by its maker, through whole runs on the harness's machine: with
// UpdateKey set the index is fetched after the manifest, and nothing it does not vouch
// for is unpacked, run or written.
#include <gtest/gtest.h>

#include "app/texts.h"
#include "ost-release/signer.h"
#include "platform/posix/openssl_crypto.h"
#include "signing/signed_index.h"
#include "unit/fakes.h"
#include "util/md5.h"

namespace ost {
namespace {

using testing::Compress;
using testing::Harness;
using Beeps = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr char kPath[] = "/ostra/update1/";

// A registry text value as stored: the bytes and a terminating zero.
std::vector<uint8_t> Bytes(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

class Verifications : public RunObserver {
 public:
  void OnReleaseVerified(const ReleaseVerification& v) override {
    lines.push_back(v.file + " " + ReleaseFailureName(v.failure));
  }
  std::vector<std::string> lines;
};

class SignedReleaseTest : public ::testing::Test {
 protected:
  SignedReleaseTest() : key(release::SigningKey::Generate()) {
    h.platform.crypto = &crypto;
    const std::vector<uint8_t> point = key->PublicPoint();
    h.registry.SetString(kConfigKeyPath, "UpdateKey", PublicKeyText({point.data(), point.size()}));
    char digest[33];
    Md5Hex("new page", 8, digest);
    h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old page";
    Serve("server.txt",
          "3.81 7.0\n--BEGIN--\n12\tServer\tv12\tServer 12\n12\tAgent\tv12\tAgent 12\n"
          "10\n10\n10\n10\n--END--\n--FILE DETAIL--\r\na.htm.zip+8=" +
              std::string(digest) + "\r\n--FILE DETAIL END--\r\n");
    Serve("a.htm.zip", Compress("new page"));
    Serve("sql/update381.sql.zip", Compress("UPDATE x\r\nGO\r\n"));
    Serve("CSOstraServer.exe.zip", Compress("new server"));
    Serve("CSOstraAgent.exe.zip", Compress("new agent"));
  }

  void Serve(const std::string& name, const std::string& body) {
    h.host.bodies[kPath + name] = body;
  }
  std::string& Body(const std::string& name) { return h.host.bodies[kPath + name]; }

  // server.sig over what is served now, less `leftOut`, signed by `by` (the key).
  void Sign(const std::vector<std::string>& leftOut = {}, release::SigningKey* by = nullptr) {
    ReleaseIndex index;
    index.ostraVersion = 381;
    index.velinVersion = 70;
    index.serial = serial;
    index.expires = expires;
    for (const auto& [path, body] : h.host.bodies) {
      const std::string name = path.substr(sizeof kPath - 1);
      if (name == kIndexName || std::find(leftOut.begin(), leftOut.end(), name) != leftOut.end()) {
        continue;
      }
      IndexEntry& entry = index.files.emplace_back();
      entry.path = name;
      entry.size = body.size();
      crypto.Sha256(ByteSpan::Of(body), &entry.digest);
    }
    const std::string bodyText = IndexBody(index);
    Sha256Digest digest;
    crypto.Sha256(ByteSpan::Of(bodyText), &digest);
    const std::vector<uint8_t> signature = (by ? by : key.get())->Sign(digest);
    Serve(kIndexName, SignedIndexText(bodyText, {signature.data(), signature.size()}));
  }

  // The check to its end, then the update when a plan is offered.
  void Run() {
    // A run after another starts on an empty list, as a new window would.
    // The old dialog goes first: its colour list lets go of the list when it ends.
    if (h.dialog) {
      h.list.DeleteAllItems();
      h.dialog.reset();
    }
    h.dialog = std::make_unique<UpdateDialog>(h.platform, h.system.ProgramFolder(), &seen);
    h.dialog->OnInitDialog();
    h.Pump();
    if (h.dialog->phase() == RunPhase::kPlanOffered) h.Click();
  }
  std::vector<std::string> Requests() const {
    std::vector<std::string> paths;
    for (const std::string& request : h.host.requests) {
      paths.push_back(request.substr(request.find(kPath) + sizeof kPath - 1));
    }
    return paths;
  }
  bool Untouched() {
    return h.files.files["C:\\OSTRA\\CSOstraServer.exe"] == "old CSOstraServer" &&
           h.files.files["C:\\OSTRA\\CSOstraAgent.exe"] == "old CSOstraAgent" &&
           h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] == "old page" &&
           h.database.statements.end() ==
               std::find_if(h.database.statements.begin(), h.database.statements.end(),
                            [](const std::string& s) {
                              return s.find("UPDATE") == 0 || s.find("{CALL") == 0;
                            });
  }
  // The check ended on the manifest row, as a failed manifest download ends it.
  void ExpectCheckFailed(const std::string& status) {
    EXPECT_EQ(h.dialog->RowCount(), 3);
    EXPECT_EQ(h.Cell(2, 3), status);
    EXPECT_EQ(h.system.beeps, (Beeps{{500, 500}, {800, 500}}));
    EXPECT_EQ(h.dialog->phase(), RunPhase::kFailed);
    EXPECT_FALSE(h.controls.buttonEnabled());
    EXPECT_TRUE(h.services.calls.empty());
    EXPECT_TRUE(Untouched());
  }

  OpenSslCrypto crypto;
  std::unique_ptr<release::SigningKey> key;
  uint64_t serial = 1765000000;
  uint64_t expires = 1796819405 + 100 * 86400;  // 100 days after the harness's clock
  Harness h;
  Verifications seen;
};

TEST_F(SignedReleaseTest, ASignedReleaseIsAppliedWhole) {
  Sign();
  Run();
  EXPECT_EQ(Requests(), (std::vector<std::string>{"server.txt", "server.sig", "a.htm.zip",
                                                  "sql/update381.sql.zip", "CSOstraServer.exe.zip",
                                                  "CSOstraAgent.exe.zip"}));
  EXPECT_EQ(h.controls.statusText(), text::kUpdateComplete);
  EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraServer.exe"], "new server");
  EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraAgent.exe"], "new agent");
  EXPECT_EQ(h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"], "new page");
  // Every package checked as it arrives, and again as it is read back from the staging
  // folder to be applied.
  const std::vector<std::string> packages = {"a.htm.zip verified", "sql/update381.sql.zip verified",
                                             "CSOstraServer.exe.zip verified",
                                             "CSOstraAgent.exe.zip verified"};
  std::vector<std::string> expected = {"server.sig verified", "server.txt verified"};
  for (int round = 0; round < 2; ++round) {
    expected.insert(expected.end(), packages.begin(), packages.end());
  }
  EXPECT_EQ(seen.lines, expected);
  // The serial of the release is kept as the newest applied here.
  EXPECT_EQ(h.registry.keys[kConfigKeyPath]["UpdateSerial"], Bytes("1765000000"));
}

TEST_F(SignedReleaseTest, WithoutTheKeyNothingMoreIsAsked) {
  h.registry.keys[kConfigKeyPath].erase("UpdateKey");
  Run();
  EXPECT_EQ(Requests(),
            (std::vector<std::string>{"server.txt", "a.htm.zip", "sql/update381.sql.zip",
                                      "CSOstraServer.exe.zip", "CSOstraAgent.exe.zip"}));
  EXPECT_EQ(h.controls.statusText(), text::kUpdateComplete);
  EXPECT_TRUE(seen.lines.empty());
}

TEST_F(SignedReleaseTest, AMissingIndexEndsTheCheck) {
  Run();
  ExpectCheckFailed("签名文件下载失败(8)...");
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"server.sig index not fetched"}));
}

TEST_F(SignedReleaseTest, AnIndexThatIsNoIndexEndsTheCheck) {
  Serve(kIndexName, "<html>not here</html>\n");
  Run();
  ExpectCheckFailed(text::kIndexMalformed);
}

TEST_F(SignedReleaseTest, AnIndexSignedByAnotherKeyEndsTheCheck) {
  auto other = release::SigningKey::Generate();
  Sign({}, other.get());
  Run();
  ExpectCheckFailed(text::kIndexBadSignature);
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"server.sig bad signature"}));
}

TEST_F(SignedReleaseTest, AChangedIndexEndsTheCheck) {
  Sign();
  std::string& index = Body(kIndexName);
  index[index.find("file ") + 5] ^= 0x01;  // a size digit
  Run();
  ExpectCheckFailed(text::kIndexBadSignature);
}

TEST_F(SignedReleaseTest, AChangedManifestEndsTheCheck) {
  Sign();
  Body("server.txt").replace(Body("server.txt").find("12\tAgent"), 2, "13");
  Run();
  ExpectCheckFailed(text::kManifestNotSigned);
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"server.sig verified",
                                                  "server.txt manifest differs from the index"}));
}

TEST_F(SignedReleaseTest, AKeyThatCannotBeUsedFetchesNoIndex) {
  h.registry.SetString(kConfigKeyPath, "UpdateKey", "ecdsa-p256:0400");
  Sign();
  Run();
  ExpectCheckFailed(text::kUpdateKeyUnusable);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"server.txt"}));
}

// An empty value is a key too: it never lets an unsigned release through.
TEST_F(SignedReleaseTest, AnEmptyKeyIsNoAbsentKey) {
  h.registry.SetString(kConfigKeyPath, "UpdateKey", "");
  Sign();
  Run();
  ExpectCheckFailed(text::kUpdateKeyUnusable);
}

TEST_F(SignedReleaseTest, AKeyTooLongForItsBufferIsRefused) {
  h.registry.SetString(kConfigKeyPath, "UpdateKey", std::string(300, 'a'));
  Sign();
  Run();
  ExpectCheckFailed(text::kUpdateKeyUnusable);
}

TEST_F(SignedReleaseTest, WithoutCryptographyNothingIsTrusted) {
  h.platform.crypto = nullptr;
  Sign();
  Run();
  ExpectCheckFailed(text::kNoCrypto);
}

TEST_F(SignedReleaseTest, AChangedPackageRefusesTheReleaseBeforeAnythingIsStopped) {
  // Whatever StageFirst says: every package is fetched and checked first.
  for (int stageFirst : {0, 1}) {
    SCOPED_TRACE(stageFirst);
    h.registry.SetDword(kConfigKeyPath, "StageFirst", static_cast<uint32_t>(stageFirst));
    h.host.requests.clear();
    h.system.beeps.clear();
    seen.lines.clear();
    Sign();
    std::string& package = Body("CSOstraServer.exe.zip");
    package[package.size() / 2] ^= 0x01;
    Run();
    EXPECT_EQ(h.Cell(5, 3), text::kPackageMismatch);
    // Nothing before it was applied either: no detail file, no script, no service.
    EXPECT_TRUE(Untouched());
    EXPECT_TRUE(h.services.calls.empty());
    EXPECT_EQ(Requests().back(), "CSOstraServer.exe.zip");
    EXPECT_EQ(h.dialog->phase(), RunPhase::kFailed);
    EXPECT_EQ(h.system.beeps, (Beeps{{500, 500}, {800, 500}}));
    EXPECT_EQ(seen.lines.back(), "CSOstraServer.exe.zip SHA-256 differs from the index");
    // Not applied: its serial is not kept.
    EXPECT_EQ(h.registry.keys[kConfigKeyPath].count("UpdateSerial"), 0u);
    Body("CSOstraServer.exe.zip") = Compress("new server");
  }
}

TEST_F(SignedReleaseTest, APackageOfAnotherSizeIsRefused) {
  Sign();
  Body("CSOstraAgent.exe.zip") += "x";
  Run();
  EXPECT_EQ(h.Cell(6, 3), text::kPackageMismatch);
  EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraAgent.exe"], "old CSOstraAgent");
  EXPECT_EQ(seen.lines.back(), "CSOstraAgent.exe.zip size differs from the index");
}

TEST_F(SignedReleaseTest, AScriptTheIndexLeavesOutIsNotRun) {
  Sign({"sql/update381.sql.zip"});
  Run();
  EXPECT_EQ(h.Cell(4, 3), text::kPackageNotSigned);
  // Refused with the plan, before it is offered: nothing is fetched after the index.
  EXPECT_EQ(Requests(), (std::vector<std::string>{"server.txt", "server.sig"}));
  EXPECT_FALSE(h.controls.buttonEnabled());
  EXPECT_TRUE(Untouched());
  EXPECT_TRUE(h.database.statements.end() == std::find(h.database.statements.begin(),
                                                       h.database.statements.end(),
                                                       "UPDATE x\r\n"));
  EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraServer.exe"], "old CSOstraServer");
  EXPECT_EQ(seen.lines.back(), "sql/update381.sql.zip not in the index");
}

TEST_F(SignedReleaseTest, ADetailFileTheIndexLeavesOutIsNotWritten) {
  Sign({"a.htm.zip"});
  Run();
  EXPECT_EQ(h.Cell(3, 3), text::kPackageNotSigned);  // the header row, as for its download
  EXPECT_TRUE(Untouched());
}

TEST_F(SignedReleaseTest, AnOlderReleaseThanTheOneAppliedIsRefusedWhole) {
  // Release 2 applied: its serial kept.
  serial = 2000000000;
  Sign();
  Run();
  EXPECT_EQ(h.controls.statusText(), text::kUpdateComplete);
  EXPECT_EQ(h.registry.keys[kConfigKeyPath]["UpdateSerial"], Bytes("2000000000"));

  // A new run (the serial read back from the registry) is served release 1, validly
  // signed, with an older server program; the machine is as release 2 left it.
  h.files.files["C:\\OSTRA\\CSOstraServer.exe"] = "old CSOstraServer";
  h.files.files["C:\\OSTRA\\CSOstraAgent.exe"] = "old CSOstraAgent";
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old page";
  h.database.statements.clear();
  h.services.calls.clear();
  h.system.beeps.clear();
  serial = 1999999999;
  Body("CSOstraServer.exe.zip") = Compress("release 1 server");
  Sign();
  Run();
  ExpectCheckFailed(text::kIndexOlder);
  EXPECT_EQ(seen.lines.back(), "server.sig older than the release applied here");
  EXPECT_EQ(h.registry.keys[kConfigKeyPath]["UpdateSerial"], Bytes("2000000000"));

  // An index of the first format has no serial: refused once one was applied.
  Sign();
  std::string& index = Body(kIndexName);
  index.clear();
  {
    ReleaseIndex first;
    first.format = 1;
    first.ostraVersion = 381;
    first.velinVersion = 70;
    for (const auto& [path, body] : h.host.bodies) {
      const std::string name = path.substr(sizeof kPath - 1);
      if (name == kIndexName) continue;
      IndexEntry& entry = first.files.emplace_back();
      entry.path = name;
      entry.size = body.size();
      crypto.Sha256(ByteSpan::Of(body), &entry.digest);
    }
    const std::string text = IndexBody(first);
    Sha256Digest digest;
    crypto.Sha256(ByteSpan::Of(text), &digest);
    const std::vector<uint8_t> signature = key->Sign(digest);
    index = SignedIndexText(text, {signature.data(), signature.size()});
  }
  h.system.beeps.clear();
  Run();
  ExpectCheckFailed(text::kIndexOlder);
}

TEST_F(SignedReleaseTest, AnExpiredIndexIsRefusedWhole) {
  expires = static_cast<uint64_t>(h.system.utcSeconds);  // expires at this very second
  Sign();
  Run();
  ExpectCheckFailed(text::kIndexExpired);
  EXPECT_EQ(seen.lines.back(), "server.sig expired");
  EXPECT_EQ(h.registry.keys[kConfigKeyPath].count("UpdateSerial"), 0u);
}

TEST_F(SignedReleaseTest, ASerialThatCannotBeKeptStopsTheRunBeforeAnythingIsTouched) {
  h.registry.setStatus = kRegAccessDenied;
  Sign();
  Run();
  EXPECT_EQ(h.Cell(3, 3), text::kSerialNotRecorded);
  EXPECT_EQ(h.dialog->phase(), RunPhase::kFailed);
  EXPECT_TRUE(h.services.calls.empty());
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(h.registry.keys[kConfigKeyPath].count("UpdateSerial"), 0u);
}

TEST_F(SignedReleaseTest, AKeyRotationNeverLeavesAWindowOfRefusal) {
  auto next = release::SigningKey::Generate();
  auto spare = release::SigningKey::Generate();
  auto text = [](const release::SigningKey& k) {
    const std::vector<uint8_t> point = k.PublicPoint();
    return PublicKeyText({point.data(), point.size()});
  };
  // The server learns the new key beside the old one (and a spare): releases signed by
  // the old key alone still pass, and so do those by the new one alone.
  h.registry.SetString(kConfigKeyPath, "UpdateKey",
                       text(*key) + ";" + text(*next) + " ; " + text(*spare));
  for (release::SigningKey* by : {key.get(), next.get()}) {
    seen.lines.clear();
    Sign({}, by);
    Run();
    ASSERT_FALSE(seen.lines.empty());
    EXPECT_EQ(seen.lines.front(), "server.sig verified");
  }
  // The old key dropped: what it alone signed is refused.
  h.registry.SetString(kConfigKeyPath, "UpdateKey", text(*next));
  h.system.beeps.clear();
  h.services.calls.clear();
  h.database.statements.clear();
  h.files.files["C:\\OSTRA\\CSOstraServer.exe"] = "old CSOstraServer";
  h.files.files["C:\\OSTRA\\CSOstraAgent.exe"] = "old CSOstraAgent";
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old page";
  Sign();
  Run();
  ExpectCheckFailed(text::kIndexBadSignature);
  // Four keys are more than the value may hold.
  h.registry.SetString(kConfigKeyPath, "UpdateKey",
                       text(*key) + ";" + text(*next) + ";" + text(*spare) + ";" + text(*key));
  h.system.beeps.clear();
  Run();
  ExpectCheckFailed(text::kUpdateKeyUnusable);
}

}  // namespace
}  // namespace ost
