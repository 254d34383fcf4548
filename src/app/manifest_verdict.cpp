// The end of the check: the manifest compared with what is installed, and the verdict
// shown on the manifest row.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "update/catalogue.h"
#include "update/detail_file.h"
#include "util/text.h"

namespace ost {

void UpdateDialog::EvaluateManifest(ByteSpan bytes) {
  const Manifest manifest = ParseManifest(bytes.AsText());
  const int manifestRow = currentRow_;

  updateFound_ = 0;
  // A version that names no release offers nothing newer: its script rows are left
  // out, the rest of the manifest still counts.
  availableOstraVersion_ =
      manifest.ostraVersionUsable ? manifest.ostraVersion : facts_.installedOstraVersion;
  availableVelinVersion_ =
      manifest.velinVersionUsable ? manifest.velinVersion : facts_.installedVelinVersion;
  if (!manifest.hasEntryBlock) {
    SetPhase(RunPhase::kFailed, "the manifest has no entry block");
    return;
  }

  // A newer row is read in full; the first one that cannot be ends the scan.
  for (size_t n = 0; n < manifest.rows.size(); ++n) {
    const ManifestRow& row = manifest.rows[n];
    ServiceEntry& entry = serviceTable_[n];
    entry.availableVersion = row.version;
    if (entry.availableVersion <= entry.installedVersion) continue;

    entry.needsUpdate = 1;
    updateFound_ = 1;
    if (row.end == RowEnd::kNoKey || row.end == RowEnd::kUnknownKey) break;
    const Component& component = *row.component;
    entry.kind = component.kind;
    entry.displayName = component.displayName;
    entry.fileName = component.fileName;
    entry.serviceName = component.serviceName;
    entry.estimatedSeconds = component.estimatedSeconds;
    if (component.inWebFolder) entry.installDir = facts_.cgiBinDir;
    if (component.kind == kVelinKind) velinEntry_ = static_cast<int32_t>(n);
    if (component.kind == kOstDataKind) ostDataEntry_ = static_cast<int32_t>(n);
    if (row.end == RowEnd::kNoLabelEnd) break;
    entry.versionLabel = row.versionLabel;
    if (row.end == RowEnd::kNoLineFeed) break;  // no line feed after the description
    entry.description = row.description;
  }

  // Without the web platform there is no folder to compare detail files in.
  if (!facts_.cgiBinDir.empty()) {
    for (const std::string& line : manifest.detailLines) CompareDetailFile(line);
  }
  observer_->OnManifestEvaluated(bytes, manifest, serviceTable_);

  SetStepStatus(text::kManifestDone, true);
  if (facts_.installedOstraVersion < availableOstraVersion_) {
    SetCell(manifestRow, 2,
            Format(text::kVersionUpgrade, facts_.installedOstraVersion / 100.0,
                   availableOstraVersion_ / 100.0));
    updateFound_ = 1;
  } else {
    SetCell(manifestRow, 2, Format(text::kVersionLatest, facts_.installedOstraVersion / 100.0));
  }
  currentRow_ = manifestRow + 1;

  if (updateFound_) {
    BuildPlan();
    if (plan_.rowCount > 0) {
      // A signed release is refused whole: nothing is offered that the index leaves out.
      if (release_ && !PlanVouchedFor()) return;
      SetPhase(RunPhase::kPlanOffered);
      return;
    }
  }
  InsertRow(currentRow_, text::kNothingStep);
  SetCell(currentRow_, 1, text::kCheckResult);
  SetCell(currentRow_, 2, text::kNothingToUpdate);
  SetRowColors(currentRow_, kAlertRed, kWhite);
  SetPhase(RunPhase::kFinished, "nothing to update");
  FinishedBeeps();
  EndOfRun();
}

int UpdateDialog::CompareDetailFile(std::string_view line) {
  DetailLine parsed;
  int result = ParseDetailLine(line, &parsed);
  if (result == 0) {
    result = CompareWithLocalFile(*platform_.files, facts_.cgiBinDir, parsed);
    if (result == 1) {
      detailFiles_.push_back(parsed.name);
      result = parsed.size;
    }
  }
  observer_->OnDetailFileCompared(std::string(line), result);
  return result;
}

void UpdateDialog::FinishedBeeps() {
  Beep(462, 300);
  Beep(494, 300);
  Beep(530, 300);
}

}  // namespace ost
