// The end of every download: the checks common to all of them, then the completion
// for what was downloaded.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "net/http_getter.h"
#include "update/catalogue.h"
#include "update/release_check.h"
#include "util/text.h"

namespace ost {

void UpdateDialog::DownloadFailedBeeps() {
  Beep(500, 500);
  Beep(800, 500);
}

void UpdateDialog::ShowDownloadFailure(const std::string& text) {
  // A detail file has no row of its own; the header row shows its path.
  if (job_->downloadKind == DownloadKind::kDetailFile) {
    SetCell(plan_.headerRow, 3, text);
  } else {
    SetStepStatus(text, false);
  }
}

void UpdateDialog::OnDownloadDone(uintptr_t result, intptr_t /*lParam*/) {
  DownloadReport report;
  report.step = inFlight_;
  report.downloadKind = job_->downloadKind;
  report.requestPath = job_->requestPath;
  report.targetPath = job_->targetPath;
  report.result = result;
  report.expectedLength = job_->expectedLength.load();
  report.receivedLength = job_->receivedLength.load();
  report.fromStaging = chain_ == Chain::kApplyingStaged;
  report.hops = report.fromStaging ? nullptr : &job_->hops;
  observer_->OnDownloadDone(report);
  const bool secondTry = EndFailover();
  job_->resumeFrom = 0;
  job_->resumeTotal = 0;

  if (failed_) {
    SetPhase(RunPhase::kFailed, "a package had failed before");
    return;
  }
  if (!secondTry && !report.fromStaging && result != kWorkerNotStarted &&
      (result != 0 || report.expectedLength != report.receivedLength)) {
    if (FailOver(result != 0
                     ? Format("code %d", static_cast<int>(result))
                     : Format("%d of %d bytes", report.receivedLength, report.expectedLength))) {
      return;
    }
  }
  if (job_->downloadKind == DownloadKind::kIndex) {
    OnIndexDownloaded(result, report);
    return;
  }
  if (chain_ == Chain::kStaging && inFlight_ && job_->downloadKind != DownloadKind::kIndex) {
    if (report.receivedLength > 0 && report.receivedLength < report.expectedLength) {
      KeepPartial(*inFlight_);
    } else if (result == 0) {
      DropPartial(*inFlight_);
    }
  }
  if (result != 0) {
    ShowDownloadFailure(Format(text::kCommunicationFailed, static_cast<int>(result)));
    DownloadFailedBeeps();
    SetPhase(RunPhase::kFailed, Format("download of %s failed with code %d",
                                       job_->requestPath.c_str(), static_cast<int>(result)));
    return;
  }
  if (report.expectedLength != report.receivedLength) {
    ShowDownloadFailure(text::kDownloadDataError);
    DownloadFailedBeeps();
    SetPhase(RunPhase::kFailed,
             Format("download of %s ended after %d of %d bytes", job_->requestPath.c_str(),
                    report.receivedLength, report.expectedLength));
    return;
  }
  if (job_->downloadKind == DownloadKind::kManifest) {
    // With the maker's key set, the manifest waits for the signed index.
    if (release_) {
      release_->KeepManifest(job_->Body());
      RequestIndex();
      return;
    }
    EvaluateManifest(job_->Body());
    return;
  }
  if (!inFlight_) return;
  const PlanStep& step = *inFlight_;
  const ByteSpan package = job_->Body();
  // A package the index refuses may be whole on the other host.
  if (release_ && !secondTry && (options_.failover || config_.failover)) {
    const ReleaseVerification refused = release_->CheckPackage(step.requestPath, package);
    if (refused.failure != ReleaseFailure::kNone && FailOver(refused.detail)) return;
  }
  // Nothing the maker's index does not vouch for is unpacked, run or written.
  if (release_ && !PackageVouchedFor(step, package)) return;
  if (chain_ == Chain::kStaging) {
    if (KeepStaged(step, package)) StartNextDownload();
    return;
  }
  bool applied = false;
  switch (job_->downloadKind) {
    case DownloadKind::kOstraScript:
    case DownloadKind::kVelinScript:
      applied = RunSqlScript(step, package);
      ++currentRow_;
      break;
    case DownloadKind::kDetailFile:
      applied = package.size > 0 && ApplyDetailFile(step, package);
      break;
    default:
      if (!IsComponentPackage(job_->downloadKind)) return;
      applied = package.size > 0 && ApplyEntryPackage(step, package);
      ++currentRow_;
      break;
  }
  if (applied) {
    StartNextDownload();
  } else if (phase_ != RunPhase::kFailed) {
    SetPhase(RunPhase::kFailed, Format("%s could not be applied", job_->requestPath.c_str()));
  }
}

}  // namespace ost
