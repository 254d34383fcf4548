// Writing a downloaded package over the installed file, and what follows for its
// component: the service restart and the record in the database.
#include <zlib.h>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "db/product_database.h"
#include "system/service_controller.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr char kVelinMarker[] = "\\Velin.dll";
constexpr char kOstDataMarker[] = "\\OstData.dll";
constexpr char kVelinFallback[] = "d:\\wwwroot\\cgi-bin\\Velin.dll";
constexpr char kOstDataFallback[] = "d:\\wwwroot\\cgi-bin\\OstData.dll";
constexpr char kWebServerService[] = "W3SVC";
constexpr char kTempSuffix[] = ".ost-new";

bool Contains(const std::string& text, const char* marker) {
  return text.find(marker) != std::string::npos;
}

}  // namespace

bool UpdateDialog::UnpackPackage(size_t* unpacked) {
  uLongf length = kUnpackBufferSize;
  int result = uncompress(unpackBuffer.get(), &length, receiveBuffer.get(),
                          static_cast<uLong>(job.receivedLength.load()));
  if (result != Z_OK) return false;
  *unpacked = static_cast<size_t>(length);
  return true;
}

WriteOutcome UpdateDialog::WriteUnpacked(const std::string& path, size_t size) {
  // Written beside the file and renamed over it, so that a failure midway never
  // leaves the component cut short.
  FilePort& files = *platform().files;
  const std::string temp = path + kTempSuffix;
  std::unique_ptr<File> file = files.CreateTruncate(temp);
  if (!file) return WriteOutcome::kNotOpened;
  bool written = file->Write(unpackBuffer.get(), size) == static_cast<int64_t>(size);
  file.reset();
  if (!written || !files.Rename(temp, path)) {
    files.Remove(temp);
    return WriteOutcome::kFailed;
  }
  return WriteOutcome::kWritten;
}

bool UpdateDialog::ApplyEntryPackage() {
  ServiceEntry& entry = serviceTable[static_cast<size_t>(currentEntry)];
  size_t unpacked = 0;
  if (!UnpackPackage(&unpacked)) {
    failed = 1;
    SetStepStatus(text::kUnpackFailed, false);
    return false;
  }
  const std::string& target = job.targetPath;
  if (Contains(target, kVelinMarker)) {
    run.ostDataPending =
        ostDataEntry == -1 ? 0 : serviceTable[static_cast<size_t>(ostDataEntry)].needsUpdate;
    webRow = currentRow;
  }

  WriteOutcome outcome = WriteUnpacked(target, unpacked);
  if (outcome == WriteOutcome::kNotOpened) {
    const char* fallback = Contains(target, kVelinMarker)     ? kVelinFallback
                           : Contains(target, kOstDataMarker) ? kOstDataFallback
                                                              : nullptr;
    if (fallback) outcome = WriteUnpacked(fallback, unpacked);
  }
  if (outcome != WriteOutcome::kWritten) {
    failed = 1;
    SetStepStatus(text::kWriteFailed, false);
    SetRowColors(currentRow, kAlertRed, kWhite);
    return false;
  }

  SetStepStatus(text::kUpdatedStarting, false);
  SetRowColors(currentRow, kWrittenOlive, kWhite);

  // The web server waits for the data interface when both are in this run.
  if (!(webRow == currentRow && run.ostDataPending)) {
    bool shared = false;
    if (entry.serviceName.empty()) {
      entry.serviceName = kWebServerService;
      shared = true;
    }
    if (entry.stateBefore != kServiceRunning) {
      SetStepStatus(text::kUpdatedStaysStopped, true);
      if (shared) SetCell(webRow, 3, text::kUpdatedStaysStopped);
    } else if (StartServiceAndWait(*platform().services, *platform().system, entry.serviceName) ==
               kServiceRunning) {
      SetStepStatus(text::kUpdatedStarted, true);
      if (shared) {
        SetRowColors(webRow, kDoneGreen, kWhite);
        SetCell(webRow, 3, text::kUpdatedStarted);
      }
    } else {
      SetStepStatus(text::kUpdatedStartFailed, false);
      SetRowColors(currentRow, kAlertRed, kWhite);
      if (shared) {
        SetCell(webRow, 3, text::kUpdatedStartFailed);
        SetRowColors(webRow, kAlertRed, kWhite);
      }
    }
  }

  ExecuteStatement(
      run.dbConnection,
      Format("{CALL ostra.dbo.cp_sys_server_update_set(%d,%d,'%s','%s')}", currentEntry,
             entry.availableVersion, QuoteSqlText(entry.displayName).c_str(),
             QuoteSqlText(entry.description).c_str()));
  return true;
}

bool UpdateDialog::ApplyDetailFile() {
  SetCell(headerRow, 3, "ok");
  size_t unpacked = 0;
  if (!UnpackPackage(&unpacked)) {
    failed = 1;
    SetCell(headerRow, 3, text::kUnpackFailed);
    return false;
  }
  if (WriteUnpacked(job.targetPath, unpacked) != WriteOutcome::kWritten) {
    failed = 1;
    SetCell(headerRow, 3, text::kWriteFailed);
    return false;
  }
  return true;
}

}  // namespace ost
