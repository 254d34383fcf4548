#include "unit/fakes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "system/config_store.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost::testing {

void RecordingObserver::OnConfigRead(const ConfigRead& read, const ServerConfig& config) {
  lines.push_back("config " + std::to_string(read.result) + " " + config.dataSourceName + " " +
                  config.dbUser);
}

void RecordingObserver::OnInstallationRead(const InstallationFacts& facts,
                                           const ReadOutcome& outcome) {
  std::string line =
      "database " + facts.versionText + " stop " + std::to_string(static_cast<int>(outcome.stop));
  for (const DbDiagnostic& d : outcome.failure.diagnostics) line += " [" + d.state + "]";
  lines.push_back(line);
}

void RecordingObserver::OnDownloadDone(const DownloadReport& report) {
  std::string line = "download " + report.requestPath + " " + std::to_string(report.result) + " " +
                     std::to_string(report.receivedLength) + "/" +
                     std::to_string(report.expectedLength);
  if (report.fromStaging) line += " from staging";
  if (report.hops) {
    for (const DownloadHop& hop : *report.hops) line += " | " + hop.statusLine;
  }
  lines.push_back(line);
}

void RecordingObserver::OnPlanBuilt(const Plan& plan, const ServiceTable&) {
  std::string line = "plan " + std::to_string(plan.estimateSeconds) + "s";
  for (const PlanStep& step : plan.steps)
    line += " " + step.requestPath + "@" + std::to_string(step.row);
  lines.push_back(line);
}

void RecordingObserver::OnServiceEvent(const ServiceEvent& event) {
  static const char* const kActions[] = {"query", "path", "stop", "start"};
  lines.push_back(std::string("service ") + kActions[static_cast<int>(event.action)] + " " +
                  event.service + " " + std::to_string(event.result));
}

void RecordingObserver::OnFileWritten(const PlanStep&, ByteSpan content,
                                      const WriteReport& report) {
  static const char* const kWays[] = {"none", "renamed", "in place"};
  std::string line = "file " + report.path + " " + kWays[static_cast<int>(report.way)] + " " +
                     std::to_string(content.size);
  if (!report.written)
    line += " failed at " + report.failedStep + " " + std::to_string(report.error);
  lines.push_back(line);
}

void RecordingObserver::OnBatchFailed(const BatchFailure& failure) {
  std::string line = "batch " + std::to_string(failure.batch) + " of row " +
                     std::to_string(failure.row) + " failed: " + failure.firstLine;
  for (const DbDiagnostic& d : failure.diagnostics) line += " [" + d.state + " " + d.message + "]";
  lines.push_back(line);
}

void RecordingObserver::OnComponentRecorded(const PlanStep& step, const DbOutcome& outcome) {
  lines.push_back("recorded " + std::to_string(step.entry) + " " +
                  (outcome.status == DbStatus::kOk ? "ok" : "failed"));
}

void RecordingObserver::OnPhaseChanged(RunPhase phase, const std::string& reason) {
  lines.push_back(std::string("phase ") + PhaseName(phase) + (reason.empty() ? "" : ": " + reason));
}

std::vector<std::string> RecordingObserver::With(const std::string& prefix) const {
  std::vector<std::string> matching;
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) matching.push_back(line);
  }
  return matching;
}

std::string ManifestText(const std::string& versions, const std::vector<std::string>& rows,
                         const std::string& tail) {
  std::string text = versions + "\n--BEGIN--\n";
  for (const std::string& row : rows) text += row + "\n";
  return text + tail;
}

std::string Compress(const std::string& data) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           data.size());
  out.resize(size);
  return out;
}

Harness::Harness() {
  platform.window = &window;
  platform.list = &list;
  platform.controls = &controls;
  platform.sockets = &host;
  platform.registry = &registry;
  platform.files = &files;
  platform.system = &system;
  platform.services = &services;
  platform.database = &database;

  WriteConfig("ostra", "secret", "sa");
  for (const char* name : {"CSOstraServer", "CSOstraAgent", "CSOstraMessage", "CSTuyoMess"}) {
    services.services[name].binaryPath = std::string("C:\\OSTRA\\") + name + ".exe";
    files.files[std::string("C:\\OSTRA\\") + name + ".exe"] = std::string("old ") + name;
  }
  services.services["W3SVC"].binaryPath = "C:\\Windows\\system32\\inetsrv\\inetinfo.exe";
  files.files["D:\\wwwroot\\cgi-bin\\Velin.dll"] = "old Velin.dll";
  files.files["D:\\wwwroot\\cgi-bin\\OstData.dll"] = "old OstData.dll";
}

UpdateDialog& Harness::MakeDialog() {
  dialog = std::make_unique<UpdateDialog>(platform, system.ProgramFolder(), &events);
  return *dialog;
}

UpdateDialog& Harness::OpenDialog() {
  MakeDialog().OnInitDialog();
  return *dialog;
}

UpdateDialog& Harness::Check(const std::string& manifest) {
  host.bodies[std::string(kUpdatePath) + kManifestName] = manifest;
  OpenDialog();
  Pump();
  return *dialog;
}

void Harness::Click(bool confirm) {
  window.yesNoAnswer = confirm ? BoxAnswer::kYes : BoxAnswer::kNo;
  dialog->OnStartClicked();
  Pump();
}

void Harness::Pump() {
  for (;;) {
    if (DispatchNext()) continue;
    if (system.threads.empty()) return;
    RunDownloads();
  }
}

void Harness::RunDownloads() {
  while (!system.threads.empty()) {
    std::function<void()> body = std::move(system.threads.front());
    system.threads.pop_front();
    body();
  }
}

bool Harness::DispatchNext() {
  if (window.posted.empty()) return false;
  FakeWindow::Posted message = window.posted.front();
  window.posted.pop_front();
  dialog->Dispatch(message.msg, message.wParam, message.lParam);
  return true;
}

void Harness::ServePackage(const std::string& name, const std::string& content) {
  host.bodies[kUpdatePath + name] = Compress(content);
}

Rgb Harness::Colour(int row) const {
  const RowRecord* record = dialog->progressList().Record(row);
  return record ? record->textColor : kBlack;
}

void Harness::WriteConfig(const std::string& dsn, const std::string& password,
                          const std::string& user) {
  ScrambleChoice choice;
  registry.SetValue(kConfigKeyPath, "Item1", ScrambleConfigValue(dsn, choice));
  choice.step = 11;
  choice.position = 77;
  registry.SetValue(kConfigKeyPath, "Item2", ScrambleConfigValue(password, choice));
  choice.step = 3;
  choice.position = 126;
  registry.SetValue(kConfigKeyPath, "Item5", ScrambleConfigValue(user, choice));
}

}  // namespace ost::testing
