// The update host's tree of a release (HOSTDIR/ostra/update1/): built from a release
// folder, signed, and checked the way the update tool will check it.
#pragma once

#include <string>
#include <vector>

#include "release/release_folder.h"
#include "release/signer.h"
#include "util/bytes.h"

namespace ost::release {

struct Report {
  std::vector<std::string> errors;
  std::vector<std::string> lines;  // what was done or found, for the maker
};

// Writes the release into hostDir/ostra/update1/ (which must be empty or absent), reads
// it back through the tool's parsers and, with a key, writes server.sig and verifies
// the tree. False when anything failed.
bool BuildRelease(const ReleaseSource& source, const std::string& hostDir, const SigningKey* key,
                  Report* report);

// Writes server.sig for the tree as it stands: the manifest's versions and every file.
bool SignHostTree(const std::string& hostDir, const SigningKey& key, Report* report);

// Checks a published tree as the tool will, with the platform's cryptography: the index
// signed by publicKey, the manifest it names, every file it lists, and that every file
// of the tree and every package the manifest names is listed.
bool VerifyHostTree(const std::string& hostDir, ByteSpan publicKey, Report* report);

}  // namespace ost::release
