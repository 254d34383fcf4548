#include "update/release_check.h"

#include <cstdio>

#include "update/catalogue.h"

namespace ost {

const char* ReleaseFailureName(ReleaseFailure failure) {
  switch (failure) {
    case ReleaseFailure::kNone:
      return "verified";
    case ReleaseFailure::kKeyUnusable:
      return "the update key is unusable";
    case ReleaseFailure::kNoCrypto:
      return "no cryptography";
    case ReleaseFailure::kIndexMissing:
      return "index not fetched";
    case ReleaseFailure::kIndexMalformed:
      return "malformed index";
    case ReleaseFailure::kBadSignature:
      return "bad signature";
    case ReleaseFailure::kManifestMismatch:
      return "manifest differs from the index";
    case ReleaseFailure::kNotListed:
      return "not in the index";
    case ReleaseFailure::kSizeMismatch:
      return "size differs from the index";
    case ReleaseFailure::kDigestMismatch:
      return "SHA-256 differs from the index";
    case ReleaseFailure::kIndexOlder:
      return "older than the release applied here";
    case ReleaseFailure::kIndexExpired:
      return "expired";
  }
  return "?";
}

ReleaseCheck::ReleaseCheck(CryptoPort* crypto, const std::string& keyText, uint64_t appliedSerial,
                           int64_t nowUtc)
    : crypto_(crypto), appliedSerial_(appliedSerial), now_(nowUtc) {
  if (!ParsePublicKeyList(keyText, &keys_)) keys_.clear();
}

std::string ReleaseCheck::UtcText(int64_t seconds) {
  // Days to a civil date (the proleptic Gregorian calendar), without the C library's
  // time zone state.
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

ReleaseFailure ReleaseCheck::CheckIndex(ByteSpan indexBytes,
                                        std::vector<ReleaseVerification>* verifications) {
  ReleaseVerification& signature = verifications->emplace_back();
  signature.file = kIndexName;
  if (!crypto_) {
    signature.failure = ReleaseFailure::kNoCrypto;
    signature.detail = "this build has no cryptography";
    return signature.failure;
  }
  IndexRead read = ReadSignedIndex(*crypto_, keys_, indexBytes);
  signature.detail = read.detail;
  switch (read.problem) {
    case IndexProblem::kNone:
      break;
    case IndexProblem::kMalformed:
      signature.failure = ReleaseFailure::kIndexMalformed;
      return signature.failure;
    case IndexProblem::kBadSignature:
      signature.failure = ReleaseFailure::kBadSignature;
      return signature.failure;
    case IndexProblem::kBadKey:
      signature.failure = ReleaseFailure::kKeyUnusable;
      return signature.failure;
    case IndexProblem::kNoCrypto:
      signature.failure = ReleaseFailure::kNoCrypto;
      return signature.failure;
  }
  // A replayed older release, or one kept from the server past its time, is refused
  // whole however well signed.
  if (read.index.serial < appliedSerial_) {
    signature.failure = ReleaseFailure::kIndexOlder;
    signature.detail = "serial " + std::to_string(read.index.serial) +
                       (read.index.format == 1 ? " (an index without serial)" : "") +
                       ", the release applied here has " + std::to_string(appliedSerial_);
    return signature.failure;
  }
  if (read.index.expires != 0 && static_cast<int64_t>(read.index.expires) <= now_) {
    signature.failure = ReleaseFailure::kIndexExpired;
    signature.detail =
        "expired " + UtcText(static_cast<int64_t>(read.index.expires)) + ", now " + UtcText(now_);
    return signature.failure;
  }
  index_ = std::move(read.index);

  ReleaseVerification manifest = CheckFile(kManifestName, this->manifest());
  if (manifest.failure != ReleaseFailure::kNone) {
    manifest.failure = ReleaseFailure::kManifestMismatch;
  } else {
    // The versions the index names are the ones the manifest announces.
    const Manifest parsed = ParseManifest(this->manifest().AsText());
    if (!parsed.ostraVersionUsable || parsed.ostraVersion != index_->ostraVersion ||
        !parsed.velinVersionUsable || parsed.velinVersion != index_->velinVersion) {
      manifest.failure = ReleaseFailure::kManifestMismatch;
      manifest.detail = "its versions are not the index's";
    }
  }
  verifications->push_back(manifest);
  if (manifest.failure != ReleaseFailure::kNone) index_.reset();
  return manifest.failure;
}

namespace {

std::string BelowUpdateFolder(const std::string& requestPath) {
  const std::string prefix = kUpdatePath;
  return requestPath.compare(0, prefix.size(), prefix) == 0 ? requestPath.substr(prefix.size())
                                                            : requestPath;
}

}  // namespace

ReleaseVerification ReleaseCheck::CheckPackage(const std::string& requestPath, ByteSpan package) {
  return CheckFile(BelowUpdateFolder(requestPath), package);
}

ReleaseVerification ReleaseCheck::CheckListed(const std::string& requestPath) const {
  ReleaseVerification verification;
  verification.file = BelowUpdateFolder(requestPath);
  if (!index_ || !index_->Find(verification.file)) {
    verification.failure = ReleaseFailure::kNotListed;
    verification.detail =
        index_ ? "the plan needs it, the index does not list it" : "no verified index";
  }
  return verification;
}

ReleaseVerification ReleaseCheck::CheckFile(const std::string& path, ByteSpan bytes) {
  ReleaseVerification verification;
  verification.file = path;
  const IndexEntry* entry = index_ ? index_->Find(path) : nullptr;
  if (!entry) {
    verification.failure = ReleaseFailure::kNotListed;
    verification.detail = index_ ? "the index does not list it" : "no verified index";
    return verification;
  }
  if (entry->size != bytes.size) {
    verification.failure = ReleaseFailure::kSizeMismatch;
    verification.detail =
        std::to_string(bytes.size) + " bytes, the index says " + std::to_string(entry->size);
    return verification;
  }
  Sha256Digest digest;
  if (!crypto_ || !crypto_->Sha256(bytes, &digest)) {
    verification.failure = ReleaseFailure::kNoCrypto;
    verification.detail = "SHA-256 could not be computed";
    return verification;
  }
  if (digest != entry->digest) {
    verification.failure = ReleaseFailure::kDigestMismatch;
    verification.detail = "SHA-256 " + HexOf({digest.bytes, kSha256Size}) + ", the index says " +
                          HexOf({entry->digest.bytes, kSha256Size});
  }
  return verification;
}

}  // namespace ost
