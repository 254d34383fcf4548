// The chain of downloads after the start click: detail files first, then one package
// per plan row, each applied before the next one starts.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "system/service_controller.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {

void UpdateDialog::StartNextDownload() {
  if (nextStep_ >= plan_.steps.size() && chain_ == Chain::kStaging) {
    // Every package is here and whole: now the documented stop and the packages. A
    // signed release is kept as the newest applied before anything is touched.
    if (release_ && !RecordAppliedSerial()) return;
    SetStatusLine(text::kStagedAllHere);
    StopPlannedServices();
    chain_ = Chain::kApplyingStaged;
    nextStep_ = 0;
  }
  if (nextStep_ >= plan_.steps.size()) {
    SetPhase(RunPhase::kFinished, "every step of the plan was done");
    SetStatusLine(text::kUpdateComplete);
    FinishedBeeps();
    EndOfRun();
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
  }
  job_->receivedLength = 0;
  job_->expectedLength = 0;
  progressPercent_ = 0;
  if (chain_ == Chain::kApplyingStaged) {
    ApplyNextStaged(step);
    return;
  }
  if (chain_ == Chain::kStaging) OfferPartial(step);
  StartDownloadWorker();
}

bool UpdateDialog::KeepStaged(const PlanStep& step, ByteSpan package) {
  // Whole means: the stream unpacks within the buffer, and a component to something.
  size_t unpacked = 0;
  if (!UnpackPackage(package, &unpacked) || (step.kind == StepKind::kComponent && unpacked == 0)) {
    ShowDownloadFailure(text::kUnpackFailed);
    MarkPackageFailed(step.requestPath + " does not unpack");
    return false;
  }
  if (!staging_->Keep(static_cast<size_t>(inFlight_ - plan_.steps.data()), package)) {
    ShowDownloadFailure(text::kWriteFailed);
    MarkPackageFailed(step.requestPath + " cannot be kept in " + staging_->folder());
    return false;
  }
  observer_->OnPackageStaged(step, package, staging_->folder());
  if (step.kind == StepKind::kDetailFile) {
    SetCell(plan_.headerRow, 3, text::kStagedWaiting);
    return true;
  }
  // Back in the row's colour of the plan: it waits, nothing is under way or wrong.
  SetStepStatus(text::kStagedWaiting, false);
  Rgb colour = kScriptBlue;
  if (step.kind == StepKind::kComponent) {
    colour = serviceTable_[static_cast<size_t>(step.entry)].stateBefore == kServiceRunning
                 ? kRunningBlue
                 : kStoppedPurple;
  }
  SetRowColors(step.row, colour, kWhite);
  return true;
}

void UpdateDialog::ApplyNextStaged(const PlanStep& step) {
  std::string why;
  const int64_t size = staging_->Load(static_cast<size_t>(&step - plan_.steps.data()),
                                      job_->receiveBuffer, kReceiveBufferSize, &why);
  if (size == Staging::kChanged) {
    // Not the bytes that were checked: nothing of it is applied.
    ShowDownloadFailure(text::kDownloadDataError);
    DownloadFailedBeeps();
    MarkPackageFailed(step.requestPath + " changed in " + staging_->folder() +
                      " since it was checked (" + why + ")");
    return;
  }
  // A package gone from the folder arrives short, as a download that broke off would.
  job_->expectedLength = static_cast<int32_t>(size < 0 ? 1 : size);
  job_->receivedLength = static_cast<int32_t>(size < 0 ? 0 : size);
  if (size >= 0) job_->receiveBuffer[size] = 0;
  // Through the queue, as a download's end comes: the completion runs as it always does.
  platform_.window->Post(WM_DOWNLOAD_DONE, 0, 0);
}

}  // namespace ost
