// The update host's tree of a release (HOSTDIR/ostra/update1/): built from a release
// folder, signed, and checked the way the update tool will check it.
#pragma once

#include <string>
#include <vector>

#include "ost-release/release_folder.h"
#include "ost-release/signer.h"
#include "util/bytes.h"

namespace ost::release {

struct Report {
  std::vector<std::string> errors;
  std::vector<std::string> warnings;  // sound, but the maker should know
  std::vector<std::string> lines;     // what was done or found, for the maker
};

// How server.sig is signed: by one to kMaxUpdateKeys keys, with a serial and an expiry.
struct Signing {
  std::vector<const SigningKey*> keys;
  uint64_t serial = 0;         // 0: the signing time in UTC seconds
  uint64_t expiresDays = 180;  // the index expires this many days after signing
  int64_t now = 0;             // the signing time, UTC seconds
};

// verify warns this many days before an index expires.
constexpr int64_t kExpiryWarningDays = 30;

// Writes the release into hostDir/ostra/update1/ (which must be empty or absent), reads
// it back through the tool's parsers and, with a key, writes server.sig and verifies
// the tree. False when anything failed.
bool BuildRelease(const ReleaseSource& source, const std::string& hostDir, const Signing* signing,
                  Report* report);

// Writes server.sig for the tree as it stands: the manifest's versions and every file.
bool SignHostTree(const std::string& hostDir, const Signing& signing, Report* report);

// Checks a published tree as the tool will, with the platform's cryptography: the index
// signed by one of the keys of keyText (UpdateKey's form), not expired at `now`, the
// manifest it names, every file it lists, and that every file of the tree and every
// package the manifest names is listed. Warns when the index expires within
// kExpiryWarningDays.
bool VerifyHostTree(const std::string& hostDir, const std::string& keyText, int64_t now,
                    Report* report);

}  // namespace ost::release
