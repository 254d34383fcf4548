// The chain of downloads after the start click: detail files first, then one package
// per plan row, each applied before the next one starts.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {

void UpdateDialog::StartNextDownload() {
  if (nextStep_ >= plan_.steps.size()) {
    SetPhase(RunPhase::kFinished, "every step of the plan was done");
    SetStatusLine(text::kUpdateComplete);
    FinishedBeeps();
    return;
  }
  const PlanStep& step = plan_.steps[nextStep_++];
  inFlight_ = &step;
  job_->downloadKind = step.downloadKind;
  job_->requestPath = step.requestPath;
  job_->targetPath = step.targetPath;
  if (step.kind == StepKind::kDetailFile) {
    SetCell(plan_.headerRow, 3, step.targetPath);
  } else {
    currentRow_ = step.row;
    if (step.kind == StepKind::kComponent) currentEntry_ = step.entry;
  }
  job_->receivedLength = 0;
  job_->expectedLength = 0;
  progressPercent_ = 0;
  StartDownloadWorker();
}

}  // namespace ost
