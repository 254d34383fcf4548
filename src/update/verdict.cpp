#include "update/verdict.h"

namespace ost {

ManifestVerdict JudgeManifest(const Manifest& manifest, const InstallationFacts& facts,
                              ServiceTable& components) {
  ManifestVerdict verdict;
  // A version that names no release offers nothing newer: its script rows are left
  // out, the rest of the manifest still counts.
  verdict.availableOstraVersion =
      manifest.ostraVersionUsable ? manifest.ostraVersion : facts.installedOstraVersion;
  verdict.availableVelinVersion =
      manifest.velinVersionUsable ? manifest.velinVersion : facts.installedVelinVersion;
  if (!manifest.hasEntryBlock) return verdict;
  verdict.usable = true;

  for (size_t n = 0; n < manifest.rows.size(); ++n) {
    const ManifestRow& row = manifest.rows[n];
    ServiceEntry& entry = components[n];
    entry.availableVersion = row.version;
    if (entry.availableVersion <= entry.installedVersion) continue;

    entry.needsUpdate = 1;
    verdict.updateFound = true;
    if (row.end == RowEnd::kNoKey || row.end == RowEnd::kUnknownKey) break;
    const Component& component = *row.component;
    entry.kind = component.kind;
    entry.displayName = component.displayName;
    entry.fileName = component.fileName;
    entry.serviceName = component.serviceName;
    entry.estimatedSeconds = component.estimatedSeconds;
    if (component.inWebFolder) entry.installDir = facts.cgiBinDir;
    if (component.kind == kVelinKind) verdict.velinEntry = static_cast<int32_t>(n);
    if (component.kind == kOstDataKind) verdict.ostDataEntry = static_cast<int32_t>(n);
    if (row.end == RowEnd::kNoLabelEnd) break;
    entry.versionLabel = row.versionLabel;
    if (row.end == RowEnd::kNoLineFeed) break;  // no line feed after the description
    entry.description = row.description;
  }
  if (facts.installedOstraVersion < verdict.availableOstraVersion) verdict.updateFound = true;
  return verdict;
}

}  // namespace ost
