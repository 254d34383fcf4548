// The end of the check: the manifest's verdict shown on the manifest row, and the plan
// offered from it.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "update/catalogue.h"
#include "update/detail_file.h"
#include "update/verdict.h"
#include "util/text.h"

namespace ost {

void UpdateDialog::EvaluateManifest(ByteSpan bytes) {
  const Manifest manifest = ParseManifest(bytes.AsText());
  const int manifestRow = currentRow_;

  const ManifestVerdict verdict = JudgeManifest(manifest, facts_, serviceTable_);
  updateFound_ = verdict.updateFound ? 1 : 0;
  availableOstraVersion_ = verdict.availableOstraVersion;
  availableVelinVersion_ = verdict.availableVelinVersion;
  if (!verdict.usable) {
    SetPhase(RunPhase::kFailed, "the manifest has no entry block");
    return;
  }
  if (verdict.velinEntry != -1) velinEntry_ = verdict.velinEntry;
  if (verdict.ostDataEntry != -1) ostDataEntry_ = verdict.ostDataEntry;

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
