// The plan shown to the operator, and the start click that confirms it.
#include "app/route_file.h"
#include "app/startup.h"
#include "app/texts.h"
#include "app/update_dialog.h"
#include "system/service_controller.h"
#include "update/backup.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {

void UpdateDialog::BuildPlan() {
  PlanFacts facts;
  facts.installedOstraVersion = facts_.installedOstraVersion;
  facts.availableOstraVersion = availableOstraVersion_;
  facts.installedVelinVersion = facts_.installedVelinVersion;
  facts.availableVelinVersion = availableVelinVersion_;
  facts.velinEnabled = facts_.velinEnabled != 0;
  facts.ostDataPending = facts_.ostDataPending != 0;
  facts.libxlPresent = facts_.libxlPresent != 0;
  facts.cgiBinDir = facts_.cgiBinDir;
  facts.detailFiles = detailFiles_;
  facts.velinEntry = velinEntry_;
  facts.headerRow = currentRow_;
  ServicesPort& services = *platform_.services;
  ServiceLookup states;
  states.state = [&](const std::string& service) {
    const int32_t state = QueryServiceState(services, service);
    Report(ServiceEvent::Action::kQuery, service, state, -1);
    return state;
  };
  states.sharedState = [&](const std::string& service) {
    return QueryServiceState(services, service);
  };
  states.binaryPath = [&](const std::string& service, std::string* path) {
    const int32_t read = ReadServiceBinaryPath(services, service, path, kServicePathCapacity);
    Report(ServiceEvent::Action::kReadPath, service, read, -1);
    return read;
  };
  plan_ = MakePlan(facts, serviceTable_, states);
  if (plan_.ostDataLeftOut) facts_.ostDataPending = 0;

  const int headerRow = plan_.headerRow;
  InsertRow(headerRow, text::kHeaderStep);
  SetCell(headerRow, 1, text::kHeaderItem);
  SetCell(headerRow, 2, text::kHeaderDesc);
  SetCell(headerRow, 3, text::kHeaderStatus);
  SetRowColors(headerRow, kHeaderGrey, kWhite);
  for (const PlanStep& step : plan_.steps) {
    if (step.kind == StepKind::kDetailFile) continue;
    InsertRow(step.row, std::to_string(step.row));
    if (step.kind == StepKind::kComponent) {
      const ServiceEntry& entry = serviceTable_[static_cast<size_t>(step.entry)];
      SetCell(step.row, 1, entry.displayName);
      SetCell(step.row, 2, entry.description);
      SetRowTag(step.row, RowTagOf(step));
      if (entry.stateBefore == kServiceRunning) {
        SetCell(step.row, 3, text::kServiceRunning);
        SetRowColors(step.row, kRunningBlue, kWhite);
      } else {
        SetCell(step.row, 3, text::kServiceStoppedNow);
        SetRowColors(step.row, kStoppedPurple, kWhite);
      }
    } else if (step.kind == StepKind::kOstraScript) {
      SetCell(step.row, 1, text::kOstraScriptItem);
      SetCell(step.row, 2, Format(text::kOstraScriptDesc, step.version / 100.0));
      SetRowTag(step.row, RowTagOf(step));
      SetRowColors(step.row, kScriptBlue, kWhite);
    } else {
      SetCell(step.row, 1, text::kVelinScriptItem);
      SetCell(step.row, 2, Format(text::kVelinScriptDesc, step.version / 10.0));
      SetRowTag(step.row, RowTagOf(step));
      SetRowColors(step.row, kScriptBlue, kWhite);
    }
  }
  currentRow_ = headerRow + 1;

  std::string suffix;
  if (!detailFiles_.empty()) {
    suffix = Format(text::kDetailDownloads, static_cast<unsigned>(detailFiles_.size()));
  }
  const int estimate = plan_.estimateSeconds;
  if (estimate <= 60) {
    SetStatusLine(Format(text::kSummarySeconds, plan_.rowCount, suffix.c_str(), estimate));
  } else {
    SetStatusLine(Format(text::kSummaryMinutes, plan_.rowCount, suffix.c_str(), estimate / 60,
                         estimate % 60));
  }
  SetCell(headerRow, 3, "");
  platform_.controls->EnableStartButton(true);
  nextStep_ = 0;
  observer_->OnPlanBuilt(plan_, serviceTable_);
  // Without a backup a file that is there is not written over: said before the
  // confirmation, not found out row by row.
  bool writesFiles = false;
  for (const PlanStep& step : plan_.steps) {
    writesFiles =
        writesFiles || step.kind == StepKind::kComponent || step.kind == StepKind::kDetailFile;
  }
  const std::string why =
      writesFiles ? BackupKeeper::Unavailable(*platform_.files, programDir_) : std::string();
  if (!why.empty()) {
    SetStatusLine(text::kNoBackupFolder);
    observer_->OnBackupsUnavailable(why);
  }
}

std::string UpdateDialog::ConfirmationText() const {
  std::string text;
  if (facts_.installedOstraVersion < availableOstraVersion_) {
    text = std::string(text::kConfirmNoticeBar) + "\r\n" +
           Format(text::kConfirmOstraUpgrade, facts_.installedOstraVersion / 100.0,
                  availableOstraVersion_ / 100.0) +
           "\r\n" + text::kConfirmNotifyClients + "\r\n" + text::kConfirmCloseClients + "\r\n" +
           text::kConfirmWait + "\r\n" + text::kConfirmRule + "\r\n" + std::string(16, ' ') +
           text::kConfirmQuestion;
  } else {
    text = text::kConfirmNoOstraUpgrade;
    if (velinEntry_ != -1 && serviceTable_[static_cast<size_t>(velinEntry_)].needsUpdate) {
      text += std::string("\r\n") + text::kConfirmWebStops;
    }
    text += std::string("\r\n") + text::kConfirmRule + "\r\n" + text::kConfirmQuestion;
  }
  return text;
}

void UpdateDialog::OnStartClicked() {
  if (closeOnClick_) {
    SetPhase(RunPhase::kClosed, "the close button was clicked");
    platform_.window->PostQuit();
    return;
  }
  if (platform_.window->ShowMessageBox(ConfirmationText(), text::kConfirmCaption,
                                       BoxButtons::kYesNo, BoxIcon::kQuestion) != BoxAnswer::kYes) {
    observer_->OnConfirmation(false, routeChoice_, job_->updateHost);
    return;
  }

  const int32_t before = routeChoice_;
  routeChoice_ = platform_.controls->ReadRouteRadios();
  job_->updateHost = routeChoice_ > 0 ? config_.secondaryHost : config_.primaryHost;
  if (routeChoice_ != before) observer_->OnChanging(RunChange::kRouteFile, RouteFilePath());
  if (routeChoice_ != before) WriteRouteFile(*platform_.files, RouteFilePath(), routeChoice_);
  observer_->OnConfirmation(true, routeChoice_, job_->updateHost);

  SetPhase(RunPhase::kUpdating, "the operator confirmed the plan");
  if (staged()) {
    // Every package first, while the services still run; nothing is stopped or
    // written before all of them are here and whole.
    staging_ = std::make_unique<Staging>(*platform_.files, programDir_ + "staging\\" + runId_,
                                         Sha256Of(platform_));
    if (!staging_->Begin()) {
      SetCell(plan_.headerRow, 3, text::kWriteFailed);
      MarkPackageFailed("the staging folder " + staging_->folder() + " cannot be made");
      return;
    }
    chain_ = Chain::kStaging;
    StartNextDownload();
    return;
  }
  StopPlannedServices();
  StartNextDownload();
}

void UpdateDialog::StopPlannedServices() {
  for (const PlanStep& step : plan_.steps) {
    if (step.kind != StepKind::kComponent) continue;
    ServiceEntry& entry = serviceTable_[static_cast<size_t>(step.entry)];
    if (entry.stateBefore != kServiceRunning) continue;
    SetCell(step.row, 3, text::kStoppingService);
    SetRowColors(step.row, kAlertRed, kWhite);
    const uint64_t begun = platform_.system->MonotonicMilliseconds();
    std::vector<std::string> dependents;
    observer_->OnChanging(RunChange::kServiceStop, entry.serviceName);
    entry.stopResult =
        StopServiceAndWait(*platform_.services, *platform_.system, entry.serviceName, &dependents);
    Report(ServiceEvent::Action::kStop, entry.serviceName, entry.stopResult, step.row, begun,
           std::move(dependents));
    // A service that was stopped meanwhile is just as stopped.
    if (entry.stopResult == kServiceStopped || entry.stopResult == kServiceNothingToDo) {
      SetCell(step.row, 3, text::kServiceStopOk);
      SetRowColors(step.row, kStoppedPurple, kWhite);
    } else {
      SetCell(step.row, 3, text::kServiceStopFailed);
      SetRowColors(step.row, kAlertRed, kWhite);
    }
  }
}

}  // namespace ost
