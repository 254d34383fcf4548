// The plan shown to the operator, and the start click that confirms it.
#include "app/route_file.h"
#include "app/texts.h"
#include "app/update_dialog.h"
#include "system/service_controller.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr size_t kServicePathCapacity = 255;

// The folder of a configured executable path: up to its last backslash, without it.
std::string FolderOf(const std::string& path) {
  size_t backslash = path.rfind('\\');
  return backslash == std::string::npos ? path : path.substr(0, backslash);
}

}  // namespace

void UpdateDialog::BuildPlan() {
  headerRow = currentRow;
  InsertRow(headerRow, text::kHeaderStep);
  SetCell(headerRow, 1, text::kHeaderItem);
  SetCell(headerRow, 2, text::kHeaderDesc);
  SetCell(headerRow, 3, text::kHeaderStatus);
  SetRowColors(headerRow, kHeaderGrey, kWhite);
  int lastRow = headerRow;
  currentRow = headerRow + 1;
  int estimate = 0;

  auto addRow = [&](const std::string& item, const std::string& desc, int32_t tag) {
    int row = ++lastRow;
    InsertRow(row, std::to_string(row));
    SetCell(row, 1, item);
    SetCell(row, 2, desc);
    SetRowTag(row, tag);
    return row;
  };

  for (int32_t v = versions.installedOstraVersion + 1; v <= versions.availableOstraVersion; ++v) {
    int row = addRow(text::kOstraScriptItem, Format(text::kOstraScriptDesc, v / 100.0), v);
    SetRowColors(row, kScriptBlue, kWhite);
    estimate += 20;
  }
  if (db.velinEnabled) {
    for (int32_t v = versions.installedVelinVersion + 1; v <= versions.availableVelinVersion; ++v) {
      int row = addRow(text::kVelinScriptItem, Format(text::kVelinScriptDesc, v / 10.0), v);
      SetRowColors(row, kScriptBlue, kWhite);
      estimate += 15;
    }
  }

  ServicesPort& services = *platform().services;
  for (int i = 0; i < kServiceCount; ++i) {
    ServiceEntry& entry = serviceTable[static_cast<size_t>(i)];
    if (!entry.needsUpdate) continue;
    if (entry.kind == kVelinKind && !db.velinEnabled) {
      entry.needsUpdate = 0;
      continue;
    }
    if (entry.kind == kOstDataKind &&
        (!run.ostDataPending || velinEntry == -1 ||
         !serviceTable[static_cast<size_t>(velinEntry)].needsUpdate)) {
      entry.needsUpdate = 0;
      run.ostDataPending = 0;
      continue;
    }
    entry.stateBefore = QueryServiceState(services, entry.serviceName);
    if (entry.stateBefore > 7) {
      entry.needsUpdate = 0;
      continue;
    }
    if (entry.kind == kOstDataKind) {
      // The data interface carries the web server's state. When its entry stands
      // before the web DLL's, that state is not read yet: read it now, or the web
      // server stopped for the DLL would never be started again.
      const ServiceEntry& velin = serviceTable[static_cast<size_t>(velinEntry)];
      entry.stateBefore =
          velinEntry > i ? QueryServiceState(services, velin.serviceName) : velin.stateBefore;
    }
    if (entry.kind != kVelinKind && entry.kind != kOstDataKind) {
      std::string path;
      if (ReadServiceBinaryPath(services, entry.serviceName, &path, kServicePathCapacity) != 0) {
        entry.needsUpdate = 0;
        continue;
      }
      entry.installDir = InstallFolderOf(path);
    }
    estimate += entry.estimatedSeconds;
    int row = addRow(entry.displayName, entry.description, kEntryTagBase + i);
    if (entry.stateBefore == kServiceRunning) {
      SetCell(row, 3, text::kServiceRunning);
      SetRowColors(row, kRunningBlue, kWhite);
    } else {
      SetCell(row, 3, text::kServiceStoppedNow);
      SetRowColors(row, kStoppedPurple, kWhite);
    }
  }

  std::string suffix;
  if (!detailFiles.empty()) {
    suffix = Format(text::kDetailDownloads, static_cast<unsigned>(detailFiles.size()));
    estimate += 15 * static_cast<int>(detailFiles.size());
  }
  int count = lastRow - (headerRow + 1) + 1;
  if (estimate <= 60) {
    SetStatusLine(Format(text::kSummarySeconds, count, suffix.c_str(), estimate));
  } else {
    SetStatusLine(
        Format(text::kSummaryMinutes, count, suffix.c_str(), estimate / 60, estimate % 60));
  }
  SetCell(headerRow, 3, "");
  platform().controls->EnableStartButton(true);
}

std::string UpdateDialog::InstallFolderOf(const std::string& binaryPath) {
  // A quoted path ("C:\Program Files\x.exe" -k) would otherwise give a folder that
  // starts with a quote, or one cut inside the arguments.
  if (!binaryPath.empty() && binaryPath.front() == '"') {
    size_t close = binaryPath.find('"', 1);
    return FolderOf(
        binaryPath.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  }
  return FolderOf(binaryPath);
}

std::string UpdateDialog::ConfirmationText() const {
  std::string text;
  if (versions.installedOstraVersion < versions.availableOstraVersion) {
    text = std::string(text::kConfirmNoticeBar) + "\r\n" +
           Format(text::kConfirmOstraUpgrade, versions.installedOstraVersion / 100.0,
                  versions.availableOstraVersion / 100.0) +
           "\r\n" + text::kConfirmNotifyClients + "\r\n" + text::kConfirmCloseClients + "\r\n" +
           text::kConfirmWait + "\r\n" + text::kConfirmRule + "\r\n" + std::string(16, ' ') +
           text::kConfirmQuestion;
  } else {
    text = text::kConfirmNoOstraUpgrade;
    if (velinEntry != -1 && serviceTable[static_cast<size_t>(velinEntry)].needsUpdate) {
      text += std::string("\r\n") + text::kConfirmWebStops;
    }
    text += std::string("\r\n") + text::kConfirmRule + "\r\n" + text::kConfirmQuestion;
  }
  return text;
}

void UpdateDialog::OnStartClicked() {
  if (closeOnClick) {
    platform().window->PostQuit();
    return;
  }
  if (platform().window->ShowMessageBox(ConfirmationText(), text::kConfirmCaption,
                                        BoxButtons::kYesNo,
                                        BoxIcon::kQuestion) != BoxAnswer::kYes) {
    return;
  }

  const int32_t before = routeChoice;
  routeChoice = platform().controls->ReadRouteRadios();
  job.updateHost = routeChoice > 0 ? config.secondaryHost : config.primaryHost;
  if (routeChoice != before) WriteRouteFile(*platform().files, RouteFilePath(), routeChoice);

  SetButtonState(ButtonState::kUpdating);

  for (int row = headerRow + 1; row < RowCount(); ++row) {
    int32_t tag = GetRowTag(row);
    if (tag < kEntryTagBase) continue;
    currentEntry = tag - kEntryTagBase;
    ServiceEntry& entry = serviceTable[static_cast<size_t>(currentEntry)];
    if (entry.stateBefore != kServiceRunning) continue;
    SetCell(row, 3, text::kStoppingService);
    SetRowColors(row, kAlertRed, kWhite);
    entry.stopResult =
        StopServiceAndWait(*platform().services, *platform().system, entry.serviceName);
    if (entry.stopResult == kServiceStopped) {
      SetCell(row, 3, text::kServiceStopOk);
      SetRowColors(row, kStoppedPurple, kWhite);
    } else {
      SetCell(row, 3, text::kServiceStopFailed);
      SetRowColors(row, kAlertRed, kWhite);
    }
  }

  run.updateRunning = 1;
  StartNextDownload();
}

}  // namespace ost
