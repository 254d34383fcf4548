#include "journal/journal.h"

#include <cstdio>

#include "update/release_check.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// One line each: the journal's line ends stay its own.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::string Diagnostics(const std::vector<DbDiagnostic>& records) {
  if (records.empty()) return " (the driver gave no diagnostic record)";
  std::string text;
  for (const DbDiagnostic& record : records) {
    text += Format(" [%s %d] %s", record.state.c_str(), static_cast<int>(record.nativeError),
                   DbTextToUtf8(record.message).c_str());
  }
  return text;
}

const char* ServiceResult(int32_t result) {
  switch (result) {
    case 0:
      return "nothing to do";
    case 1:
      return "stopped";
    case 2:
      return "start pending";
    case 3:
      return "stop pending";
    case 4:
      return "running";
    case 5:
      return "continue pending";
    case 6:
      return "pause pending";
    case 7:
      return "paused";
    case 8:
      return "the service manager cannot be opened";
    case 9:
      return "the service cannot be opened";
    default:
      return "failed";
  }
}

const char* StepName(StepKind kind) {
  switch (kind) {
    case StepKind::kDetailFile:
      return "detail file";
    case StepKind::kOstraScript:
      return "Ostra script";
    case StepKind::kVelinScript:
      return "Velin script";
    case StepKind::kComponent:
      return "component";
  }
  return "?";
}

const char* ReadStopName(ReadStop stop) {
  switch (stop) {
    case ReadStop::kNone:
      return "";
    case ReadStop::kNoStatement:
      return "no statement handle";
    case ReadStop::kVersionQuery:
      return "the product version query";
    case ReadStop::kTooOld:
      return "a product older than 3.73";
    case ReadStop::kNumbersQuery:
      return "the update numbers query";
    case ReadStop::kPlatformQuery:
      return "the web platform query";
    case ReadStop::kSiteQuery:
      return "the web site id query";
    case ReadStop::kWebRootQuery:
      return "the web root query";
  }
  return "?";
}

}  // namespace

Journal::Journal(FilePort& files, SystemPort& system, std::string programDir, Digest digest)
    : files_(files),
      system_(system),
      programDir_(std::move(programDir)),
      digest_(std::move(digest)) {}

std::string Journal::Path(int generation) const {
  std::string path = programDir_ + kFileName;
  return generation == 0 ? path : path + "." + std::to_string(generation);
}

bool Journal::Rotate() {
  files_.Remove(Path(kOldFiles));
  for (int generation = kOldFiles - 1; generation >= 0; --generation) {
    if (files_.Exists(Path(generation))) files_.Rename(Path(generation), Path(generation + 1));
  }
  return !files_.Exists(Path(0));
}

bool Journal::Begin(const std::string& runId, const std::string& tool,
                    std::function<void(const std::string&)> problem) {
  runId_ = runId;
  problem_ = std::move(problem);
  const bool rotationFailed = files_.FileSize(Path(0)) >= kRotateAt && !Rotate();
  const int renameError = rotationFailed ? files_.LastError() : 0;
  rotationSkipped_ = rotationFailed;
  size_ = files_.FileSize(Path(0));
  file_ = files_.OpenAppend(Path(0));
  if (!file_) {
    Fail(Format("the journal %s cannot be opened (system error %d)", Path(0).c_str(),
                files_.LastError()));
    return false;
  }
  if (size_ <= 0) {
    size_ = 0;
    if (file_->Write(kByteOrderMark, 3) != 3) {
      Fail("the journal cannot be written");
      return false;
    }
    size_ = 3;
  }
  Line("RUN", Format("%s on %s, run %s, program folder %s", tool.c_str(),
                     system_.MachineName().c_str(), runId.c_str(), programDir_.c_str()));
  if (rotationFailed) SkipRotation(renameError);
  return healthy();
}

void Journal::Fail(const std::string& why) {
  file_.reset();
  if (problem_) problem_(why);
  problem_ = nullptr;  // once
}

void Journal::Line(const std::string& category, const std::string& text) {
  if (!file_) return;
  const LocalTime t = system_.Now();
  const std::string line =
      Format("%04d-%02d-%02d %02d:%02d:%02d.%03d %s %-8s ", t.year, t.month, t.day, t.hour,
             t.minute, t.second, t.millisecond, runId_.c_str(), category.c_str()) +
      OneLine(text) + "\r\n";
  if (file_->Write(line.data(), line.size()) != static_cast<int64_t>(line.size())) {
    Fail(Format("the journal %s cannot be written (system error %d)", Path(0).c_str(),
                files_.LastError()));
    return;
  }
  size_ += static_cast<int64_t>(line.size());
  if (size_ >= kRotateAt && !rotationSkipped_) {
    // The rest of the run goes to a fresh file.
    file_.reset();
    const bool rotated = Rotate();
    const int renameError = rotated ? 0 : files_.LastError();
    file_ = files_.OpenAppend(Path(0));
    if (!file_ || (rotated && file_->Write(kByteOrderMark, 3) != 3)) {
      Fail("the journal cannot be opened again after its rotation");
      return;
    }
    size_ = rotated ? 3 : files_.FileSize(Path(0));
    if (!rotated) SkipRotation(renameError);
  }
}

void Journal::SkipRotation(int error) {
  // Appended to as it is, without a second byte order mark, and not tried again in
  // this run: each try would cost the same wait for nothing.
  rotationSkipped_ = true;
  Line("JOURNAL", Format("%s cannot be renamed (system error %d); rotation skipped, the journal "
                         "grows past %lld bytes",
                         Path(0).c_str(), error, static_cast<long long>(kRotateAt)));
}

std::string Journal::Checksum(ByteSpan bytes) const {
  std::string hex = digest_ ? digest_(bytes) : std::string();
  return hex.empty() ? "sha256 unavailable" : "sha256 " + hex;
}

void Journal::OnConfigRead(const ConfigRead& read, const ServerConfig& config) {
  if (read.keyStatus != kRegSuccess) {
    Line("CONFIG",
         Format("the key HKLM\\SOFTWARE\\OSTRA cannot be opened (status %ld)", read.keyStatus));
    return;
  }
  std::vector<ConfigValueRead> values = read.values;
  values.insert(values.end(), read.networkValues.begin(), read.networkValues.end());
  for (const ConfigValueRead& value : values) {
    if (value.status != kRegSuccess) {
      Line("CONFIG",
           Format("%s not read (status %ld), default kept", value.name.c_str(), value.status));
    } else if (!value.used) {
      Line("CONFIG", value.name + " found but not usable, default kept");
    } else {
      Line("CONFIG", value.name + " read from the registry");
    }
  }
  if (!read.result) {
    Line("CONFIG", "the connection values are incomplete: this is no Ostra server");
    return;
  }
  // The password is never written, only whether there is one.
  Line("CONFIG",
       Format("data source '%s', user '%s', password %s, server %s:%d, update hosts %s and %s, "
              "staged mode %s, scripts in one transaction %s, health check %u s, "
              "automatic rollback %s",
              DbTextToUtf8(config.dataSourceName).c_str(), DbTextToUtf8(config.dbUser).c_str(),
              config.dbPassword.empty() ? "empty" : "set", config.serverIp.c_str(),
              static_cast<int>(config.sqlPort), config.primaryHost.c_str(),
              config.secondaryHost.c_str(), config.stageFirst ? "on" : "off",
              config.scriptTransaction ? "on" : "off", static_cast<unsigned>(config.healthSeconds),
              config.autoRollback ? "on" : "off"));
}

void Journal::OnDatabaseOpened(const ProductDatabase::OpenResult& result) {
  switch (result.failure) {
    case ProductDatabase::OpenFailure::kNone:
      Line("DB", "connected");
      return;
    case ProductDatabase::OpenFailure::kEnvironment:
      Line("DB", "no ODBC environment handle");
      return;
    case ProductDatabase::OpenFailure::kVersion:
      Line("DB", "the ODBC environment refused version 3");
      return;
    case ProductDatabase::OpenFailure::kConnection:
      Line("DB", "no ODBC connection handle");
      return;
    case ProductDatabase::OpenFailure::kConnect:
      Line("DB", "the connection was refused:" + Diagnostics(result.diagnostics));
      return;
  }
}

void Journal::OnInstallationRead(const InstallationFacts& facts, const ReadOutcome& outcome) {
  std::string numbers;
  for (size_t slot = 0; slot < facts.componentNumbers.size(); ++slot) {
    numbers += Format(" %zu:%d", slot, static_cast<int>(facts.componentNumbers[slot]));
  }
  Line("DB", Format("product version '%s' (%d), update numbers%s", facts.versionText.c_str(),
                    static_cast<int>(facts.installedOstraVersion), numbers.c_str()));
  Line("DB", Format("web platform %s, site '%s', web folder '%s', libxl.dll %s, OstData.dll %s, "
                    "web platform version %d",
                    facts.velinEnabled ? "installed" : "absent", facts.webSiteId.c_str(),
                    facts.cgiBinDir.c_str(), facts.libxlPresent ? "found" : "absent",
                    facts.ostDataPending ? "found" : "absent",
                    static_cast<int>(facts.installedVelinVersion)));
  if (outcome.stop != ReadStop::kNone) {
    Line("DB", std::string("the reading stopped at ") + ReadStopName(outcome.stop) +
                   (outcome.result ? ", the check goes on" : "") +
                   (outcome.failure.status == DbStatus::kOk
                        ? ""
                        : ":" + Diagnostics(outcome.failure.diagnostics)));
  }
}

void Journal::OnDownloadStarted(const std::string& updateHost, const std::string& requestPath) {
  downloadStarted_ = system_.MonotonicMilliseconds();
  downloadHost_ = updateHost;
  Line("DOWNLOAD", "http://" + updateHost + requestPath + " started");
}

void Journal::OnDownloadDone(const DownloadReport& report) {
  if (report.fromStaging) {
    Line("STAGE",
         Format("%s read back from the staging folder: %d of %d bytes", report.requestPath.c_str(),
                static_cast<int>(report.receivedLength), static_cast<int>(report.expectedLength)));
    return;
  }
  if (report.hops) {
    for (const DownloadHop& hop : *report.hops) {
      std::string answer = Format("answer of %s:%u%s: ", hop.host.c_str(),
                                  static_cast<unsigned>(hop.port), hop.path.c_str()) +
                           (hop.statusLine.empty() ? "none" : "'" + hop.statusLine + "'");
      if (hop.contentLength >= 0)
        answer += Format(", Content-Length %lld", static_cast<long long>(hop.contentLength));
      if (!hop.location.empty()) answer += ", " + hop.location;
      if (!hop.via.empty()) answer += ", " + hop.via;
      Line("DOWNLOAD", answer);
      if (hop.rangeFrom >= 0 || !hop.verdict.empty()) {
        // A resume (or the whole file asked for again), or a proxy's 407.
        std::string what;
        if (hop.rangeFrom >= 0) {
          what = Format("resume from byte %lld", static_cast<long long>(hop.rangeFrom));
        } else if (hop.verdict.rfind("407", 0) == 0) {
          what = hop.via;
        } else {
          what = "resume with the whole file";
        }
        if (!hop.contentRange.empty()) what += ", Content-Range " + hop.contentRange;
        Line("DOWNLOAD", what + ": " + hop.verdict);
      }
    }
  }
  Line("DOWNLOAD",
       Format("http://%s%s ended with code %d: %d of %d bytes in %llu ms", downloadHost_.c_str(),
              report.requestPath.c_str(), static_cast<int>(report.result),
              static_cast<int>(report.receivedLength), static_cast<int>(report.expectedLength),
              static_cast<unsigned long long>(system_.MonotonicMilliseconds() - downloadStarted_)));
}

void Journal::OnNetworkChosen(const std::string& proxy, const std::string& source, bool failover) {
  // The proxy's credentials are never written, only its address.
  Line("NET",
       (source == "direct" ? std::string("downloads go directly")
                           : "downloads go through the proxy " + proxy + " (" + source + ")") +
           (failover ? "; a failed download is tried once on the other host" : ""));
}

void Journal::OnFailover(const std::string& requestPath, const std::string& from,
                         const std::string& to, const std::string& why) {
  Line("NET",
       "failover: " + requestPath + " failed on " + from + " (" + why + "), tried once on " + to);
}

void Journal::OnManifestEvaluated(ByteSpan bytes, const Manifest& manifest,
                                  const ServiceTable& table) {
  auto version = [](bool usable, int32_t value, int scale) {
    return usable ? Format(scale == 100 ? "%.2f" : "%.1f", value / static_cast<double>(scale))
                  : std::string("unusable");
  };
  Line("MANIFEST", Format("%zu bytes, %s; Ostra %s, Velin %s", bytes.size, Checksum(bytes).c_str(),
                          version(manifest.ostraVersionUsable, manifest.ostraVersion, 100).c_str(),
                          version(manifest.velinVersionUsable, manifest.velinVersion, 10).c_str()));
  for (size_t n = 0; n < manifest.rows.size(); ++n) {
    const ManifestRow& row = manifest.rows[n];
    const ServiceEntry& entry = table[n];
    const char* end = row.end == RowEnd::kNoKey        ? ", no key"
                      : row.end == RowEnd::kUnknownKey ? ", a key of no component"
                      : row.end == RowEnd::kNoLabelEnd ? ", no TAB after the label"
                      : row.end == RowEnd::kNoLineFeed ? ", no line feed after the description"
                                                       : "";
    Line("MANIFEST", Format("row %zu: %s offers update %d, installed %d: %s%s", n,
                            row.component ? row.component->key : "(no component)",
                            static_cast<int>(row.version), static_cast<int>(entry.installedVersion),
                            entry.needsUpdate ? "newer" : "not newer", end));
  }
}

void Journal::OnDetailFileCompared(const std::string& line, int result) {
  const char* verdict = result == 0    ? "the local file is current"
                        : result > 0   ? "the local file differs: fetched"
                        : result == -5 ? "no local file: not fetched"
                                       : "refused";
  Line("DETAIL", Format("'%s': %s (%d)", GbkToUtf8(line).c_str(), verdict, result));
}

void Journal::OnPlanBuilt(const Plan& plan, const ServiceTable& table) {
  for (const PlanStep& step : plan.steps) {
    std::string what =
        step.kind == StepKind::kDetailFile ? step.name
        : step.kind == StepKind::kComponent
            ? Format("%s update %d", table[static_cast<size_t>(step.entry)].displayName.c_str(),
                     static_cast<int>(step.version))
            : Format("version %d", static_cast<int>(step.version));
    Line("PLAN", Format("row %d: %s %s from %s to %s", step.row, StepName(step.kind), what.c_str(),
                        step.requestPath.c_str(), step.targetPath.c_str()));
  }
  Line("PLAN", Format("%d rows, estimate %d s", plan.rowCount, plan.estimateSeconds));
}

void Journal::OnConfirmation(bool confirmed, int32_t routeChoice, const std::string& updateHost) {
  Line("CONFIRM", confirmed ? Format("the operator confirmed; route %d, packages from %s",
                                     static_cast<int>(routeChoice), updateHost.c_str())
                            : std::string("the operator declined"));
}

void Journal::OnServiceEvent(const ServiceEvent& event) {
  static const char* const kActions[] = {"state of", "program of", "stop", "start"};
  std::string text = Format("%s %s: %s (%d)", kActions[static_cast<int>(event.action)],
                            event.service.empty() ? "(none)" : event.service.c_str(),
                            event.action == ServiceEvent::Action::kReadPath
                                ? (event.result == 0 ? "read" : "cannot be read")
                                : ServiceResult(event.result),
                            static_cast<int>(event.result));
  if (event.action == ServiceEvent::Action::kStop || event.action == ServiceEvent::Action::kStart) {
    text += Format(" after %llu ms", static_cast<unsigned long long>(event.waitedMs));
  }
  if (!event.dependents.empty()) text += "; dependent services running: " + Join(event.dependents);
  Line("SERVICE", text);
}

bool Journal::OnFileWriting(const PlanStep&, const std::string& target, const std::string&,
                            ByteSpan) {
  // Whether there was a file is a question of the name, not of a successful read.
  switch (files_.Kind(target)) {
    case PathKind::kMissing:
      before_ = "there was no file before";
      return true;
    case PathKind::kFile:
      break;
    case PathKind::kLink:
      before_ = "there is a link at the name, not followed";
      return true;
    default:
      before_ = "there is something at the name that is no file";
      return true;
  }
  std::unique_ptr<File> file = files_.OpenRead(target);
  std::string content;
  char block[65536];
  int64_t n = file ? 0 : -1;
  while (file && (n = file->Read(block, sizeof block)) > 0) {
    content.append(block, static_cast<size_t>(n));
  }
  if (n < 0) {
    before_ =
        Format("there is a file before that cannot be read, system error %d", files_.LastError());
    return true;
  }
  before_ = Format("before %zu bytes, %s", content.size(), Checksum(ByteSpan::Of(content)).c_str());
  return true;
}

void Journal::OnFileWritten(const PlanStep& step, ByteSpan content, const WriteReport& report) {
  if (!report.written && report.failedStep == "backup") {
    Line("FILE", Format("%s not written: what is there could not be kept in the backup, and "
                        "without a copy there would be no way back (%s)",
                        report.path.c_str(), before_.c_str()));
    return;
  }
  if (!report.written && report.failedStep == "folder") {
    Line("FILE", Format("%s not written: its folder leads elsewhere now (a link or junction made "
                        "since the check), so the write would land wherever it points",
                        report.path.c_str()));
    return;
  }
  if (!report.written) {
    Line("FILE",
         Format("%s not written: %s failed at %s, system error %d (%s)", step.targetPath.c_str(),
                report.path.c_str(), report.failedStep.c_str(), report.error, before_.c_str()));
    return;
  }
  const char* way =
      report.way == WriteWay::kRenamed ? "a temporary file renamed over it" : "in place";
  Line("FILE", Format("%s written%s%s by %s: %zu bytes, %s; %s", step.targetPath.c_str(),
                      report.fallback ? " at the fixed path " : "",
                      report.fallback ? report.path.c_str() : "", way, content.size,
                      Checksum(content).c_str(), before_.c_str()));
}

void Journal::OnPackageStaged(const PlanStep& step, ByteSpan package, const std::string& folder) {
  Line("STAGE", Format("%s kept in %s: %zu bytes, %s", step.requestPath.c_str(), folder.c_str(),
                       package.size, Checksum(package).c_str()));
}

void Journal::OnScriptRun(const PlanStep& step, int batches, int errors) {
  Line("SCRIPT",
       Format("%s: %d batches sent, %d failed", step.requestPath.c_str(), batches, errors));
}

void Journal::OnBatchFailed(const BatchFailure& failure) {
  Line("BATCH", Format("batch %d of row %d failed: '%s':", failure.batch, failure.row,
                       DbTextToUtf8(failure.firstLine).c_str()) +
                    Diagnostics(failure.diagnostics));
}

void Journal::OnScriptRolledBack(const PlanStep& step, int batches, const DbOutcome& outcome) {
  Line("SCRIPT",
       Format("%s: rolled back whole after %d batches: ", step.requestPath.c_str(), batches) +
           (outcome.status == DbStatus::kOk
                ? std::string("nothing of it stays")
                : "the rollback failed:" + Diagnostics(outcome.diagnostics)));
}

void Journal::OnComponentRecorded(const PlanStep& step, const DbOutcome& outcome) {
  Line("RECORD", Format("slot %d update %d: ", step.entry, static_cast<int>(step.version)) +
                     (outcome.status == DbStatus::kOk ? std::string("recorded")
                      : outcome.status == DbStatus::kNoHandle
                          ? std::string("not recorded: no statement handle")
                          : "not recorded:" + Diagnostics(outcome.diagnostics)));
}

void Journal::OnPhaseChanged(RunPhase phase, const std::string& reason) {
  const bool end =
      phase == RunPhase::kFinished || phase == RunPhase::kFailed || phase == RunPhase::kClosed;
  Line(end ? "END" : "RUN", std::string(PhaseName(phase)) + (reason.empty() ? "" : ": " + reason));
}

void Journal::OnHealthChecked(const std::string& service, int seconds, int after, bool healthy) {
  Line("HEALTH", healthy ? Format("%s still running after %d s", service.c_str(), seconds)
                         : Format("%s no longer running %d s after it started (of %d s asked)",
                                  service.c_str(), after, seconds));
}

void Journal::OnAutoRollback(bool done, const std::vector<std::string>& lines) {
  Line("ROLLBACK", std::string(done ? "the failed run was rolled back whole"
                                    : "the failed run could not be rolled back whole") +
                       (lines.empty() ? std::string() : ": " + Join(lines)));
}

void Journal::OnBackupsUnavailable(const std::string& why) {
  Line("BACKUP", "no backup can be kept: " + why +
                     "; a file that is there will not be written over (the write fails)");
}

void Journal::OnInterruptedRunFound(const std::string& runId,
                                    const std::vector<std::string>& runningBefore,
                                    const std::string& script, int batch) {
  Line("RECOVER",
       "the earlier run " + runId + " was interrupted; running before it: " +
           (runningBefore.empty() ? std::string("none") : Join(runningBefore)) +
           "; they are started again at the end of this run" +
           (script.empty() ? std::string()
            : batch == 0
                ? "; it was inside " + script + ", in one transaction, which runs again whole"
                : Format("; it was inside %s, batch %d, which runs again from its start",
                         script.c_str(), batch)));
}

void Journal::OnReleaseVerified(const ReleaseVerification& verification) {
  if (verification.failure == ReleaseFailure::kNone) {
    Line("SIGNATURE", verification.file + ": vouched for by the maker's index");
    return;
  }
  Line("SIGNATURE", verification.file + ": refused, " + ReleaseFailureName(verification.failure) +
                        (verification.detail.empty() ? "" : " (" + verification.detail + ")"));
}

}  // namespace ost
