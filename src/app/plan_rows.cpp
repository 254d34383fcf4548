// The plan shown to the operator, and the start click that confirms it.
#include "update/plan.h"

#include "app/route_file.h"
#include "app/startup.h"
#include "app/texts.h"
#include "app/update_dialog.h"
#include "system/service_controller.h"
#include "update/backup.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr size_t kServicePathCapacity = 255;
constexpr char kWebServerService[] = "W3SVC";

// The folder of a configured executable path: up to its last backslash, without it.
std::string FolderOf(const std::string& path) {
  size_t backslash = path.rfind('\\');
  return backslash == std::string::npos ? path : path.substr(0, backslash);
}

}  // namespace

int32_t RowTagOf(const PlanStep& step) {
  return step.kind == StepKind::kComponent ? kEntryTagBase + step.entry : step.version;
}

std::string InstallFolderOf(const std::string& binaryPath) {
  // A quoted path ("C:\Program Files\x.exe" -k) would otherwise give a folder that
  // starts with a quote, or one cut inside the arguments.
  if (!binaryPath.empty() && binaryPath.front() == '"') {
    size_t close = binaryPath.find('"', 1);
    return FolderOf(
        binaryPath.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  }
  return FolderOf(binaryPath);
}

void UpdateDialog::BuildPlan() {
  plan_ = Plan{};
  const int headerRow = currentRow_;
  plan_.headerRow = headerRow;
  InsertRow(headerRow, text::kHeaderStep);
  SetCell(headerRow, 1, text::kHeaderItem);
  SetCell(headerRow, 2, text::kHeaderDesc);
  SetCell(headerRow, 3, text::kHeaderStatus);
  SetRowColors(headerRow, kHeaderGrey, kWhite);
  int lastRow = headerRow;
  currentRow_ = headerRow + 1;
  int estimate = 0;

  // Detail files come first; they have no row of their own.
  for (const std::string& name : detailFiles_) {
    PlanStep step;
    step.kind = StepKind::kDetailFile;
    step.name = name;
    step.downloadKind = kDetailFileKind;
    step.requestPath = Format("%s%s.zip", kUpdatePath, Utf8ToGbk(name).c_str());
    step.targetPath = facts_.cgiBinDir + "\\" + name;
    step.row = headerRow;
    plan_.steps.push_back(step);
  }

  auto addRow = [&](PlanStep step, const std::string& item, const std::string& desc, Rgb colour) {
    step.row = ++lastRow;
    InsertRow(step.row, std::to_string(step.row));
    SetCell(step.row, 1, item);
    SetCell(step.row, 2, desc);
    SetRowTag(step.row, RowTagOf(step));
    if (colour != kBlack) SetRowColors(step.row, colour, kWhite);
    plan_.steps.push_back(std::move(step));
    return lastRow;
  };
  auto scriptStep = [](StepKind kind, int32_t version, int32_t downloadKind,
                       const std::string& package) {
    PlanStep step;
    step.kind = kind;
    step.version = version;
    step.downloadKind = downloadKind;
    step.requestPath = kUpdatePath + package;
    // Scripts have no local file; the progress texts would name the package.
    step.targetPath = package;
    return step;
  };

  for (int32_t v = facts_.installedOstraVersion + 1; v <= availableOstraVersion_; ++v) {
    addRow(
        scriptStep(StepKind::kOstraScript, v, kOstraScriptKind, Format("sql/update%d.sql.zip", v)),
        text::kOstraScriptItem, Format(text::kOstraScriptDesc, v / 100.0), kScriptBlue);
    estimate += 20;
  }
  if (facts_.velinEnabled) {
    for (int32_t v = facts_.installedVelinVersion + 1; v <= availableVelinVersion_; ++v) {
      addRow(scriptStep(StepKind::kVelinScript, v, kVelinScriptKind, Format("sql/v%d.sql.zip", v)),
             text::kVelinScriptItem, Format(text::kVelinScriptDesc, v / 10.0), kScriptBlue);
      estimate += 15;
    }
  }

  ServicesPort& services = *platform_.services;
  for (int i = 0; i < kServiceCount; ++i) {
    ServiceEntry& entry = serviceTable_[static_cast<size_t>(i)];
    if (!entry.needsUpdate) continue;
    if (entry.kind == kVelinKind && !facts_.velinEnabled) {
      entry.needsUpdate = 0;
      continue;
    }
    // The data interface goes with a newer web DLL. Behind a web DLL that is current,
    // it goes alone and stops and starts the web server itself: otherwise a run that
    // ended between the two DLLs would leave it behind for good.
    const bool webDllNewer =
        velinEntry_ != -1 && serviceTable_[static_cast<size_t>(velinEntry_)].needsUpdate;
    if (entry.kind == kOstDataKind) {
      const bool webDllCurrent = velinEntry_ == -1;
      if (!facts_.ostDataPending || !(webDllNewer || webDllCurrent)) {
        entry.needsUpdate = 0;
        facts_.ostDataPending = 0;
        continue;
      }
      if (!webDllNewer) entry.serviceName = kWebServerService;
    }
    entry.stateBefore = QueryServiceState(services, entry.serviceName);
    Report(ServiceEvent::Action::kQuery, entry.serviceName, entry.stateBefore, -1);
    if (entry.stateBefore > 7) {
      entry.needsUpdate = 0;
      continue;
    }
    if (entry.kind == kOstDataKind && webDllNewer) {
      // The data interface carries the web server's state. When its entry stands
      // before the web DLL's, that state is not read yet: read it now, or the web
      // server stopped for the DLL would never be started again.
      const ServiceEntry& velin = serviceTable_[static_cast<size_t>(velinEntry_)];
      entry.stateBefore =
          velinEntry_ > i ? QueryServiceState(services, velin.serviceName) : velin.stateBefore;
    }
    if (entry.kind != kVelinKind && entry.kind != kOstDataKind) {
      std::string path;
      int32_t read =
          ReadServiceBinaryPath(services, entry.serviceName, &path, kServicePathCapacity);
      Report(ServiceEvent::Action::kReadPath, entry.serviceName, read, -1);
      if (read != 0) {
        entry.needsUpdate = 0;
        continue;
      }
      entry.installDir = InstallFolderOf(path);
    }
    estimate += entry.estimatedSeconds;

    PlanStep step;
    step.kind = StepKind::kComponent;
    step.version = entry.availableVersion;
    step.entry = i;
    step.downloadKind = entry.kind;
    const bool xVariant = entry.fileName == "Velin.dll" && facts_.libxlPresent;
    step.requestPath =
        Format(xVariant ? "%s%sx.zip" : "%s%s.zip", kUpdatePath, entry.fileName.c_str());
    step.targetPath = entry.installDir + "\\" + entry.fileName;
    int row = addRow(std::move(step), entry.displayName, entry.description, kBlack);
    if (entry.stateBefore == kServiceRunning) {
      SetCell(row, 3, text::kServiceRunning);
      SetRowColors(row, kRunningBlue, kWhite);
    } else {
      SetCell(row, 3, text::kServiceStoppedNow);
      SetRowColors(row, kStoppedPurple, kWhite);
    }
  }

  std::string suffix;
  if (!detailFiles_.empty()) {
    suffix = Format(text::kDetailDownloads, static_cast<unsigned>(detailFiles_.size()));
    estimate += 15 * static_cast<int>(detailFiles_.size());
  }
  plan_.rowCount = lastRow - (headerRow + 1) + 1;
  plan_.estimateSeconds = estimate;
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
    currentEntry_ = step.entry;
    ServiceEntry& entry = serviceTable_[static_cast<size_t>(step.entry)];
    if (entry.stateBefore != kServiceRunning) continue;
    SetCell(step.row, 3, text::kStoppingService);
    SetRowColors(step.row, kAlertRed, kWhite);
    const uint64_t begun = platform_.system->MonotonicMilliseconds();
    std::vector<std::string> dependents;
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
