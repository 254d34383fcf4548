// Writing a downloaded package over the installed file, and what follows for its
// component: the service restart and the record in the database.
#include <zlib.h>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "platform/database_port.h"
#include "system/service_controller.h"
#include "update/apply_step.h"
#include "update/catalogue.h"
#include "update/package_writer.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr char kVelinMarker[] = "\\Velin.dll";
constexpr char kOstDataMarker[] = "\\OstData.dll";

bool Contains(const std::string& text, const char* marker) {
  return text.find(marker) != std::string::npos;
}

// A file whose former content could not be kept is not written over: there would be no
// way back.
WriteReport NotKept(const std::string& target) {
  WriteReport report;
  report.path = target;
  report.failedStep = "backup";
  return report;
}

// The web folder became a link or junction after the check: neither copied nor written.
WriteReport FolderMoved(const std::string& target) {
  WriteReport report;
  report.path = target;
  report.failedStep = "folder";
  return report;
}

}  // namespace

bool UpdateDialog::UnpackPackage(ByteSpan package, size_t* unpacked) {
  uLongf length = kUnpackBufferSize;
  int result =
      uncompress(unpackBuffer_.get(), &length, package.data, static_cast<uLong>(package.size));
  if (result != Z_OK) return false;
  *unpacked = static_cast<size_t>(length);
  return true;
}

bool UpdateDialog::ApplyEntryPackage(const PlanStep& step, ByteSpan package) {
  ServiceEntry& entry = serviceTable_[static_cast<size_t>(step.entry)];
  size_t unpacked = 0;
  // A component is never empty: writing nothing over it would only destroy it.
  if (!UnpackPackage(package, &unpacked) || unpacked == 0) {
    SetStepStatus(text::kUnpackFailed, false);
    MarkPackageFailed(step.requestPath + " does not unpack");
    return false;
  }
  const std::string& target = step.targetPath;
  if (Contains(target, kVelinMarker)) {
    facts_.ostDataPending =
        ostDataEntry_ == -1 ? 0 : serviceTable_[static_cast<size_t>(ostDataEntry_)].needsUpdate;
    webRow_ = step.row;
  }

  const char* fallback = Contains(target, kVelinMarker)     ? kVelinFallback
                         : Contains(target, kOstDataMarker) ? kOstDataFallback
                                                            : "";
  const std::string& web = facts_.cgiBinDir;
  const WriteReport written =
      !FolderStillLocal(*platform_.files, target, web) ? FolderMoved(target)
      : observer_->OnFileWriting(step, target, fallback, Unpacked(unpacked))
          ? WritePackageFile(*platform_.files, Unpacked(unpacked), target, fallback, web)
          : NotKept(target);
  observer_->OnFileWritten(step, Unpacked(unpacked), written);
  if (!written.written) {
    SetStepStatus(text::kWriteFailed, false);
    SetRowColors(step.row, kAlertRed, kWhite);
    MarkPackageFailed(target + " could not be written");
    return false;
  }

  // Written where the web server may not load it: kept (some servers rely on it), but
  // said on the row, which ends red.
  entry.writtenAtFallback = written.fallback ? written.path : std::string();

  SetStepStatus(text::kUpdatedStarting, false);
  SetRowColors(step.row, kWrittenOlive, kWhite);

  // The two web DLLs share the web server, which starts once, after the later of
  // them: the earlier one's row waits in olive and takes the outcome with the later.
  const WebDllPairing pairing = PairWebDll(serviceTable_, step.entry, velinEntry_, ostDataEntry_);
  const bool webDll = pairing.webDll;
  const int otherDll = pairing.otherEntry;
  if (webDll && pairing.otherStillToCome) {
    waitingWebRow_ = step.row;
  } else {
    if (entry.serviceName.empty()) entry.serviceName = kWebServerService;
    const int waiting = webDll ? waitingWebRow_ : -1;
    const int seconds = static_cast<int>(config_.healthSeconds);
    StartOutcome outcome = StartOutcome::kStaysStopped;
    if (StartsAgain(entry)) {
      observer_->OnChanging(RunChange::kServiceStart, entry.serviceName);
      const uint64_t begun = platform_.system->MonotonicMilliseconds();
      int32_t started =
          StartServiceAndWait(*platform_.services, *platform_.system, entry.serviceName);
      Report(ServiceEvent::Action::kStart, entry.serviceName, started, step.row, begun);
      const bool stayed = started != kServiceRunning || seconds == 0 ||
                          StaysRunning(entry.serviceName, seconds, waiting);
      outcome = OutcomeOfStart(started, seconds, stayed);
    }
    switch (outcome) {
      case StartOutcome::kStaysStopped:
        SetStepStatus(text::kUpdatedStaysStopped, true);
        if (waiting >= 0) SetCell(waiting, 3, text::kUpdatedStaysStopped);
        break;
      case StartOutcome::kHealthFailed:
        SetStepStatus(Format(text::kHealthFailed, seconds), false);
        SetRowColors(step.row, kAlertRed, kWhite);
        if (waiting >= 0) {
          SetCell(waiting, 3, Format(text::kHealthFailed, seconds));
          SetRowColors(waiting, kAlertRed, kWhite);
        }
        break;
      case StartOutcome::kHealthPassed:
        SetStepStatus(Format(text::kHealthPassed, seconds), true);
        if (waiting >= 0) {
          SetRowColors(waiting, kDoneGreen, kWhite);
          SetCell(waiting, 3, Format(text::kHealthPassed, seconds));
        }
        break;
      case StartOutcome::kStarted:
        SetStepStatus(text::kUpdatedStarted, true);
        if (waiting >= 0) {
          SetRowColors(waiting, kDoneGreen, kWhite);
          SetCell(waiting, 3, text::kUpdatedStarted);
        }
        break;
      case StartOutcome::kStartFailed:
        SetStepStatus(text::kUpdatedStartFailed, false);
        SetRowColors(step.row, kAlertRed, kWhite);
        if (waiting >= 0) {
          SetCell(waiting, 3, text::kUpdatedStartFailed);
          SetRowColors(waiting, kAlertRed, kWhite);
        }
        break;
    }
    ShowFallbackWrite(entry, step.row);
    if (waiting >= 0 && otherDll >= 0) {
      ShowFallbackWrite(serviceTable_[static_cast<size_t>(otherDll)], waiting);
    }
  }

  observer_->OnChanging(RunChange::kNumber, entry.displayName);
  const DbOutcome recorded = platform_.database->Execute(
      Format("{CALL ostra.dbo.cp_sys_server_update_set(%d,%d,'%s','%s')}", step.entry,
             entry.availableVersion, QuoteSqlText(entry.displayName).c_str(),
             QuoteSqlText(entry.description).c_str()));
  observer_->OnComponentRecorded(step, recorded);
  return true;
}

bool UpdateDialog::StaysRunning(const std::string& service, int seconds, int waitingRow) {
  const std::string waiting = Format(text::kHealthWaiting, seconds);
  SetStepStatus(waiting, false);
  if (waitingRow >= 0) SetCell(waitingRow, 3, waiting);
  // Polled once a second: a program that ends by itself shows within a second of it.
  for (int second = 0; second < seconds; ++second) {
    platform_.system->Sleep(1000);
    const int32_t state = QueryServiceState(*platform_.services, service);
    if (state != kServiceRunning) {
      Report(ServiceEvent::Action::kQuery, service, state, currentRow_);
      observer_->OnHealthChecked(service, seconds, second + 1, false);
      return false;
    }
  }
  observer_->OnHealthChecked(service, seconds, seconds, true);
  return true;
}

void UpdateDialog::ShowFallbackWrite(const ServiceEntry& entry, int row) {
  if (entry.writtenAtFallback.empty()) return;
  SetCell(row, 3, Format(text::kWrittenAtFallback, entry.writtenAtFallback.c_str()));
  SetRowColors(row, kAlertRed, kWhite);
}

bool UpdateDialog::ApplyDetailFile(const PlanStep& step, ByteSpan package) {
  SetCell(plan_.headerRow, 3, "ok");
  size_t unpacked = 0;
  if (!UnpackPackage(package, &unpacked)) {
    SetCell(plan_.headerRow, 3, text::kUnpackFailed);
    MarkPackageFailed(step.requestPath + " does not unpack");
    return false;
  }
  const std::string& web = facts_.cgiBinDir;
  const WriteReport written =
      !FolderStillLocal(*platform_.files, step.targetPath, web) ? FolderMoved(step.targetPath)
      : observer_->OnFileWriting(step, step.targetPath, "", Unpacked(unpacked))
          ? WritePackageFile(*platform_.files, Unpacked(unpacked), step.targetPath, "", web)
          : NotKept(step.targetPath);
  observer_->OnFileWritten(step, Unpacked(unpacked), written);
  if (!written.written) {
    SetCell(plan_.headerRow, 3, text::kWriteFailed);
    MarkPackageFailed(step.targetPath + " could not be written");
    return false;
  }
  return true;
}

}  // namespace ost
