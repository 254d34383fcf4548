#include "update/release_check.h"

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
  }
  return "?";
}

ReleaseCheck::ReleaseCheck(CryptoPort* crypto, const std::string& keyText) : crypto_(crypto) {
  if (!ParsePublicKeyText(keyText, &key_)) key_.clear();
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
  IndexRead read = ReadSignedIndex(*crypto_, {key_.data(), key_.size()}, indexBytes);
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

ReleaseVerification ReleaseCheck::CheckPackage(const std::string& requestPath, ByteSpan package) {
  const std::string prefix = kUpdatePath;
  std::string path = requestPath.compare(0, prefix.size(), prefix) == 0
                         ? requestPath.substr(prefix.size())
                         : requestPath;
  return CheckFile(path, package);
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
