// A release signed by its maker: the index fetched after the manifest from the same
// host, and every package held against it before anything is done with it.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "update/catalogue.h"
#include "update/release_check.h"
#include "util/text.h"

namespace ost {
namespace {

const char* IndexFailureText(ReleaseFailure failure) {
  switch (failure) {
    case ReleaseFailure::kKeyUnusable:
      return text::kUpdateKeyUnusable;
    case ReleaseFailure::kNoCrypto:
      return text::kNoCrypto;
    case ReleaseFailure::kBadSignature:
      return text::kIndexBadSignature;
    case ReleaseFailure::kManifestMismatch:
      return text::kManifestNotSigned;
    case ReleaseFailure::kIndexOlder:
      return text::kIndexOlder;
    case ReleaseFailure::kIndexExpired:
      return text::kIndexExpired;
    default:
      return text::kIndexMalformed;
  }
}

}  // namespace

void UpdateDialog::RequestIndex() {
  if (!release_->KeyUsable()) {
    ReleaseVerification verification;
    verification.file = kIndexName;
    verification.failure = ReleaseFailure::kKeyUnusable;
    verification.detail = "UpdateKey holds no key of the form " + std::string(kPublicKeyPrefix);
    observer_->OnReleaseVerified(verification);
    SetStepStatus(text::kUpdateKeyUnusable, false);
    DownloadFailedBeeps();
    SetPhase(RunPhase::kFailed, "the update key is unusable");
    return;
  }
  // The same host and the same rules as the manifest: the job keeps its host and its
  // count of redirects.
  job_->targetPath = kIndexName;
  job_->requestPath = std::string(kUpdatePath) + kIndexName;
  job_->receivedLength = 0;
  job_->expectedLength = 0;
  job_->downloadKind = DownloadKind::kIndex;
  StartDownloadWorker();
}

void UpdateDialog::OnIndexDownloaded(uintptr_t result, const DownloadReport& report) {
  std::string status;
  std::vector<ReleaseVerification> verifications;
  if (result != 0 || report.expectedLength != report.receivedLength) {
    ReleaseVerification& missing = verifications.emplace_back();
    missing.file = kIndexName;
    missing.failure = ReleaseFailure::kIndexMissing;
    missing.detail = result != 0
                         ? Format("download result %d", static_cast<int>(result))
                         : Format("%d of %d bytes", report.receivedLength, report.expectedLength);
    status = result != 0 ? Format(text::kIndexDownloadFailed, static_cast<int>(result))
                         : std::string(text::kDownloadDataError);
  } else {
    const ReleaseFailure failure = release_->CheckIndex(job_->Body(), &verifications);
    if (failure == ReleaseFailure::kNone) {
      for (const ReleaseVerification& verification : verifications) {
        observer_->OnReleaseVerified(verification);
      }
      EvaluateManifest(release_->manifest());
      return;
    }
    status = IndexFailureText(failure);
  }
  for (const ReleaseVerification& verification : verifications) {
    observer_->OnReleaseVerified(verification);
  }
  const ReleaseVerification& last = verifications.back();
  SetStepStatus(status, false);
  DownloadFailedBeeps();
  SetPhase(RunPhase::kFailed, Format("%s: %s (%s)", last.file.c_str(),
                                     ReleaseFailureName(last.failure), last.detail.c_str()));
}

bool UpdateDialog::PlanVouchedFor() {
  for (const PlanStep& step : plan_.steps) {
    const ReleaseVerification verification = release_->CheckListed(step.requestPath);
    if (verification.failure == ReleaseFailure::kNone) continue;
    observer_->OnReleaseVerified(verification);
    currentRow_ = step.kind == StepKind::kDetailFile ? plan_.headerRow : step.row;
    SetStepStatus(text::kPackageNotSigned, false);
    SetRowColors(currentRow_, kAlertRed, kWhite);
    // Nothing to start: the check ends here, as when the index itself is refused.
    platform_.controls->EnableStartButton(false);
    DownloadFailedBeeps();
    SetPhase(RunPhase::kFailed,
             Format("%s: %s (%s)", step.requestPath.c_str(),
                    ReleaseFailureName(verification.failure), verification.detail.c_str()));
    return false;
  }
  return true;
}

bool UpdateDialog::RecordAppliedSerial() {
  const ReleaseIndex* index = release_->index();
  if (!index || index->serial <= config_.appliedSerial) return true;
  // Kept before anything is written: from now on no older release passes here.
  const long status =
      platform_.registry->SetStringValue(RegistryRoot::kLocalMachine, kConfigKeyPath,
                                         kAppliedSerialName, std::to_string(index->serial));
  if (status == kRegSuccess) {
    config_.appliedSerial = index->serial;
    return true;
  }
  SetCell(plan_.headerRow, 3, text::kSerialNotRecorded);
  MarkPackageFailed(Format("the serial %llu of the signed index cannot be kept in %s (%ld)",
                           static_cast<unsigned long long>(index->serial), kAppliedSerialName,
                           status));
  return false;
}

bool UpdateDialog::PackageVouchedFor(const PlanStep& step, ByteSpan package) {
  const ReleaseVerification verification = release_->CheckPackage(step.requestPath, package);
  observer_->OnReleaseVerified(verification);
  if (verification.failure == ReleaseFailure::kNone) return true;
  ShowDownloadFailure(verification.failure == ReleaseFailure::kNotListed ? text::kPackageNotSigned
                                                                         : text::kPackageMismatch);
  DownloadFailedBeeps();
  SetPhase(RunPhase::kFailed,
           Format("%s: %s (%s)", step.requestPath.c_str(), ReleaseFailureName(verification.failure),
                  verification.detail.c_str()));
  return false;
}

}  // namespace ost
