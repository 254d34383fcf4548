// The check of a signed release within one run: with the registry value UpdateKey set,
// the manifest must be the one the maker's signed index names, and every package must
// be listed there with its size and SHA-256 before it is unpacked, run or written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/crypto_port.h"
#include "signing/signed_index.h"
#include "update/manifest.h"
#include "util/bytes.h"

namespace ost {

enum class ReleaseFailure {
  kNone,
  kKeyUnusable,       // UpdateKey holds no key of the printed form
  kNoCrypto,          // the platform's cryptography could not be had
  kIndexMissing,      // server.sig could not be fetched
  kIndexMalformed,    // server.sig is not an index of its format
  kBadSignature,      // server.sig is not signed by the key
  kManifestMismatch,  // server.txt, or its versions, differ from the index
  kNotListed,         // the index does not list the package
  kSizeMismatch,      // the package's size differs from the index
  kDigestMismatch,    // its SHA-256 differs
  kIndexOlder,        // its serial is below the one of a release applied here
  kIndexExpired,      // its expiry has passed
};

const char* ReleaseFailureName(ReleaseFailure failure);

// One verification, for the record of the run.
struct ReleaseVerification {
  std::string file;  // below the update folder: server.sig, server.txt, a package
  ReleaseFailure failure = ReleaseFailure::kNone;
  std::string detail;  // what differed, in English
};

class ReleaseCheck {
 public:
  // keyText: the registry value as read (the system code page's bytes), one to three
  // keys; appliedSerial: the serial of the newest release applied here (0: none);
  // nowUtc: the time of day in UTC seconds, for the index's expiry.
  ReleaseCheck(CryptoPort* crypto, const std::string& keyText, uint64_t appliedSerial,
               int64_t nowUtc);

  // False when the key cannot be used; nothing should be fetched then.
  bool KeyUsable() const { return !keys_.empty(); }

  // Keeps the manifest's bytes until the index has come.
  void KeepManifest(ByteSpan manifest) {
    manifest_.assign(manifest.data, manifest.data + manifest.size);
  }
  ByteSpan manifest() const { return {manifest_.data(), manifest_.size()}; }

  // The index's bytes: signature, then the kept manifest against it (size, SHA-256 and
  // the two versions). Fills *verification for server.sig and, when the index is
  // sound, for server.txt.
  ReleaseFailure CheckIndex(ByteSpan indexBytes, std::vector<ReleaseVerification>* verifications);

  // A package fetched from requestPath (beginning with the update folder).
  ReleaseVerification CheckPackage(const std::string& requestPath, ByteSpan package);
  // Whether the index lists requestPath at all (kNone or kNotListed), before its download.
  ReleaseVerification CheckListed(const std::string& requestPath) const;

  // The text of a moment in UTC seconds ("2026-12-09 10:30:05 UTC").
  static std::string UtcText(int64_t seconds);

  // The verified index; null until CheckIndex accepted one.
  const ReleaseIndex* index() const { return index_ ? &*index_ : nullptr; }

 private:
  ReleaseVerification CheckFile(const std::string& path, ByteSpan bytes);

  CryptoPort* crypto_;
  std::vector<std::vector<uint8_t>> keys_;
  uint64_t appliedSerial_ = 0;
  int64_t now_ = 0;
  std::vector<uint8_t> manifest_;
  std::optional<ReleaseIndex> index_;
};

}  // namespace ost
