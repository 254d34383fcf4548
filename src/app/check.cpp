// The check that runs when the dialog opens: configuration, database, manifest.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "net/http_getter.h"
#include "update/catalogue.h"
#include "update/release_check.h"
#include "util/text.h"

namespace ost {
namespace {

// The status text of a database reading that stopped.
const char* StopText(ReadStop stop) {
  switch (stop) {
    case ReadStop::kNoStatement:
      return text::kDbStmtAllocFailed;
    case ReadStop::kVersionQuery:
      return text::kDbQueryFailedVer;
    case ReadStop::kNumbersQuery:
      return text::kDbQueryFailedNn;
    case ReadStop::kPlatformQuery:
      return text::kDbQueryFailedSelf;
    case ReadStop::kSiteQuery:
      return text::kDbQueryFailedWcid;
    case ReadStop::kWebRootQuery:
      return text::kDbQueryFailedWcroot;
    case ReadStop::kNone:
    case ReadStop::kTooOld:
      break;
  }
  return nullptr;
}

}  // namespace

int UpdateDialog::RunCheckSequence() {
  currentRow_ = 0;
  InsertRow(0, text::kStep1);
  SetCell(0, 1, text::kConfigItem);
  SetCell(0, 3, text::kConfigRunning);
  if (!LoadServerConfig()) {
    platform_.window->ShowMessageBox(text::kVerifyFailedText, text::kVerifyFailedCaption,
                                     BoxButtons::kOk, BoxIcon::kInformation);
    SetPhase(RunPhase::kFailed, "no server configuration");
    platform_.window->PostQuit();
    return 0;
  }
  SetCell(0, 2, DbTextToUtf8(config_.dbUser));
  SetStepStatus(text::kConfigDone, true);

  currentRow_ = 1;
  InsertRow(1, text::kStep2);
  SetCell(1, 1, text::kDatabaseItem);
  SetCell(1, 3, text::kDatabaseRunning);
  if (!OpenProductDatabase()) {
    // A version too old has already ended the run.
    if (phase_ != RunPhase::kFailed) SetPhase(RunPhase::kFailed, "the database step failed");
    return 0;
  }
  SetCell(1, 2, Format(text::kDatabaseDesc, facts_.versionText.c_str(), facts_.webSiteId.c_str()));
  SetStepStatus(text::kDatabaseDone, true);

  currentRow_ = 2;
  InsertRow(2, text::kStep3);
  SetCell(2, 1, text::kManifestItem);
  SetCell(2, 3, text::kManifestRunning);
  RequestManifest();
  return 1;
}

int UpdateDialog::LoadServerConfig() {
  ConfigRead read = ReadServerConfig(*platform_.registry, &config_);
  if (read.keyStatus != kRegSuccess) {
    platform_.window->ShowMessageBox(text::kRegistryReadFailed, text::kAppName, BoxButtons::kOk,
                                     BoxIcon::kWarning);
  }
  // The manifest comes from the primary host, so the download job follows it at once.
  job_->updateHost = config_.primaryHost;
  ChooseNetwork();
  if (config_.updateKey)
    release_ =
        std::make_unique<ReleaseCheck>(platform_.crypto, *config_.updateKey, config_.appliedSerial,
                                       platform_.system->UtcSeconds());
  observer_->OnConfigRead(read, config_);
  return read.result;
}

int UpdateDialog::OpenProductDatabase() {
  ProductDatabase& database = *platform_.database;
  ProductDatabase::OpenResult open =
      database.Open(config_.dataSourceName, config_.dbUser, config_.dbPassword);
  observer_->OnDatabaseOpened(open);
  switch (open.failure) {
    case ProductDatabase::OpenFailure::kNone:
      break;
    case ProductDatabase::OpenFailure::kEnvironment:
      SetStepStatus(text::kDbEnvAllocFailed, false);
      return 0;
    case ProductDatabase::OpenFailure::kVersion:
      SetStepStatus(text::kDbEnvSetFailed, false);
      return 0;
    case ProductDatabase::OpenFailure::kConnection:
      SetStepStatus(text::kDbConnAllocFailed, false);
      return 0;
    case ProductDatabase::OpenFailure::kConnect: {
      // The first record, as a 256-byte buffer takes it.
      DbDiagnostic first;
      if (!open.diagnostics.empty()) first = open.diagnostics.front();
      const std::string message = DbTextToUtf8(std::string_view(first.message).substr(0, 255));
      platform_.window->ShowMessageBox(first.state, text::kAppName, BoxButtons::kOk,
                                       BoxIcon::kNone);
      platform_.window->ShowMessageBox(message, text::kAppName, BoxButtons::kOk, BoxIcon::kNone);
      SetStepStatus(text::kDbConnectFailed + first.state, false);
      return 0;
    }
  }

  ReadOutcome read = ReadInstallation(database, *platform_.files, &facts_);
  for (int i = 0; i < kServiceCount; ++i) {
    serviceTable_[static_cast<size_t>(i)].installedVersion =
        facts_.componentNumbers[static_cast<size_t>(i)];
  }
  observer_->OnInstallationRead(facts_, read);
  if (read.stop == ReadStop::kTooOld) {
    platform_.window->ShowMessageBox(text::kVersionTooLowText, text::kVersionTooLowCaption,
                                     BoxButtons::kOk, BoxIcon::kInformation);
    SetPhase(RunPhase::kFailed, "the installed version is too old");
    platform_.window->PostQuit();
    return 0;
  }
  if (const char* status = StopText(read.stop)) SetStepStatus(status, false);
  return read.result;
}

int UpdateDialog::RequestManifest() {
  job_->targetPath = kManifestName;
  job_->requestPath = std::string(kUpdatePath) + job_->targetPath;
  job_->receivedLength = 0;
  job_->expectedLength = 0;
  job_->downloadKind = DownloadKind::kManifest;
  progressPercent_ = 0;
  inFlight_ = nullptr;
  StartDownloadWorker();
  return 1;
}

void UpdateDialog::StartDownloadWorker() {
  observer_->OnDownloadStarted(job_->updateHost, job_->requestPath);
  if (ost::StartDownloadWorker(*platform_.system, *platform_.sockets, job_)) return;
  // No worker, so no message would ever come: the download fails like any other, with
  // a code of its own, and the run stops where the window can be closed.
  platform_.window->Post(WM_DOWNLOAD_DONE, kWorkerNotStarted, 0);
}

}  // namespace ost
