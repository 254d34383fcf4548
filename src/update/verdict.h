// The manifest compared with what is installed: what it offers this machine.
#pragma once

#include <cstdint>

#include "db/installation.h"
#include "update/manifest.h"
#include "update/service_table.h"

namespace ost {

struct ManifestVerdict {
  // What the manifest offers; a version that names no release offers the installed one.
  int32_t availableOstraVersion = 0;  // hundredths
  int32_t availableVelinVersion = 0;  // tenths
  bool usable = false;                // the manifest has its entry block
  bool updateFound = false;           // a newer component, or a newer Ostra version
  int32_t velinEntry = -1;            // the newer web DLL's service table index
  int32_t ostDataEntry = -1;          // the newer data interface's
};

// Fills each component's entry from its manifest row. A newer row is read in full; the
// first one that cannot be ends the scan, with what was read of it kept.
ManifestVerdict JudgeManifest(const Manifest& manifest, const InstallationFacts& facts,
                              ServiceTable& components);

}  // namespace ost
