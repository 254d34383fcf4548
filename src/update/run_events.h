// What an update run reports as it goes, for whoever keeps a record of it. The
// dialog's operations call these on the UI thread; every call does nothing unless an
// observer overrides it, and nothing an observer does changes the run, but for one
// answer: a file that could not be kept is not written over (OnFileWriting).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/installation.h"
#include "net/download_job.h"
#include "platform/database_port.h"
#include "system/config_store.h"
#include "update/manifest.h"
#include "update/package_writer.h"
#include "update/plan.h"
#include "update/release_check.h"
#include "update/service_table.h"
#include "util/bytes.h"

namespace ost {

// The run's phase; the documented flags (updateRunning, closeOnClick) and the start
// button follow from it.
enum class RunPhase { kChecking, kPlanOffered, kUpdating, kFinished, kFailed, kClosed };

const char* PhaseName(RunPhase phase);

struct DownloadReport {
  const PlanStep* step = nullptr;  // null for the manifest
  DownloadKind downloadKind = DownloadKind::kManifest;
  std::string requestPath;
  std::string targetPath;
  uintptr_t result = 0;  // the download result code
  int32_t expectedLength = 0;
  int32_t receivedLength = 0;
  const std::vector<DownloadHop>* hops = nullptr;  // each answer, redirects included
  bool fromStaging = false;  // read back from the staging folder, not downloaded
};

struct ServiceEvent {
  enum class Action { kQuery, kReadPath, kStop, kStart };
  Action action = Action::kQuery;
  std::string service;
  int32_t result = 0;     // a state 1-7 or a result number of the service controller
  int row = -1;           // the plan row, when there is one
  uint64_t waitedMs = 0;  // how long the call took (stops and starts wait for the state)
  std::vector<std::string> dependents;  // running, when they made a stop fail
};

// What a run is about to change of the machine, told right before it does.
enum class RunChange {
  kRouteFile,     // the route choice (the operator's, kept by a recovery)
  kServiceStop,   // target: the service
  kServiceStart,  // target: the service
  kFile,          // target: the file's path
  kNumber,        // target: the component; the update number recorded in the database
  kScript,        // target: the script's request path
  kCommit,        // the run's held database transaction is committed
};

struct BatchFailure {
  int row = -1;   // the script's plan row
  int batch = 0;  // 1 for the first batch of the script
  std::string firstLine;
  std::vector<DbDiagnostic> diagnostics;
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  virtual void OnConfigRead(const ConfigRead& /*read*/, const ServerConfig& /*config*/) {}
  virtual void OnDatabaseOpened(const ProductDatabase::OpenResult& /*result*/) {}
  // What the check read; `outcome` tells where it stopped, and why.
  virtual void OnInstallationRead(const InstallationFacts& /*facts*/,
                                  const ReadOutcome& /*outcome*/) {}
  virtual void OnDownloadStarted(const std::string& /*updateHost*/,
                                 const std::string& /*requestPath*/) {}
  virtual void OnDownloadDone(const DownloadReport& /*report*/) {}
  // The way chosen to the update hosts (the proxy's "host:port" or "direct", where it
  // came from) and whether a failed download goes once to the other host.
  virtual void OnNetworkChosen(const std::string& /*proxy*/, const std::string& /*source*/,
                               bool /*failover*/) {}
  // A download that failed on `from` is tried once on `to`.
  virtual void OnFailover(const std::string& /*requestPath*/, const std::string& /*from*/,
                          const std::string& /*to*/, const std::string& /*why*/) {}
  virtual void OnManifestEvaluated(ByteSpan /*bytes*/, const Manifest& /*manifest*/,
                                   const ServiceTable& /*table*/) {}
  virtual void OnDetailFileCompared(const std::string& /*line*/, int /*result*/) {}
  virtual void OnPlanBuilt(const Plan& /*plan*/, const ServiceTable& /*table*/) {}
  virtual void OnConfirmation(bool /*confirmed*/, int32_t /*routeChoice*/,
                              const std::string& /*updateHost*/) {}
  virtual void OnServiceEvent(const ServiceEvent& /*event*/) {}
  // Right before a file of the plan is written over `target` (or, failing that, over
  // `fallback` when there is one) with `content`. False: it must not be written, for
  // there would be no way back (what is there could not be kept).
  virtual bool OnFileWriting(const PlanStep& /*step*/, const std::string& /*target*/,
                             const std::string& /*fallback*/, ByteSpan /*content*/) {
    return true;
  }
  virtual void OnFileWritten(const PlanStep& /*step*/, ByteSpan /*content*/,
                             const WriteReport& /*report*/) {}
  // Right before the run changes something (the file writes have OnFileWriting too).
  virtual void OnChanging(RunChange /*what*/, const std::string& /*target*/) {}
  // The staged mode kept a package that proved whole.
  virtual void OnPackageStaged(const PlanStep& /*step*/, ByteSpan /*package*/,
                               const std::string& /*folder*/) {}
  virtual void OnScriptRun(const PlanStep& /*step*/, int /*batches*/, int /*errors*/) {}
  virtual void OnBatchFailed(const BatchFailure& /*failure*/) {}
  // Right before a batch of a script is sent (1 for the first); 0 once before a script
  // that runs in one transaction.
  virtual void OnBatchStarting(const PlanStep& /*step*/, int /*batch*/) {}
  // ScriptTransaction: the script's transaction was rolled back after `batches` batches
  // (or its commit failed); `outcome` is the rollback's.
  virtual void OnScriptRolledBack(const PlanStep& /*step*/, int /*batches*/,
                                  const DbOutcome& /*outcome*/) {}
  // The record statement of an applied component; the dialog ignores its failure.
  virtual void OnComponentRecorded(const PlanStep& /*step*/, const DbOutcome& /*outcome*/) {}
  virtual void OnPhaseChanged(RunPhase /*phase*/, const std::string& /*reason*/) {}
  // HealthSeconds: the service started after its component was still running after
  // `seconds` (healthy), or was found not running after `after` seconds.
  virtual void OnHealthChecked(const std::string& /*service*/, int /*seconds*/, int /*after*/,
                               bool /*healthy*/) {}
  // AutoRollback: the failed run was rolled back (done), or not whole; `lines` are the
  // rollback's own lines for the operator.
  virtual void OnAutoRollback(bool /*done*/, const std::vector<std::string>& /*lines*/) {}
  // At start: an earlier run was killed half-way (its record was left); the services it
  // found running, and the script and batch it was in (empty, 0: none).
  virtual void OnInterruptedRunFound(const std::string& /*runId*/,
                                     const std::vector<std::string>& /*runningBefore*/,
                                     const std::string& /*script*/, int /*batch*/) {}
  // A file checked against the maker's signed index (UpdateKey set): server.sig,
  // server.txt, each package; `failure` says what failed, kNone when it was vouched for.
  virtual void OnReleaseVerified(const ReleaseVerification& /*verification*/) {}
  // With the plan: no backup can be kept in the program folder (`why`), so a file that
  // is there will not be written over.
  virtual void OnBackupsUnavailable(const std::string& /*why*/) {}
};

// Hands every event to two observers, in order.
class TeeObserver : public RunObserver {
 public:
  TeeObserver(RunObserver& first, RunObserver& second) : a_(first), b_(second) {}
  void OnConfigRead(const ConfigRead& r, const ServerConfig& c) override {
    a_.OnConfigRead(r, c);
    b_.OnConfigRead(r, c);
  }
  void OnDatabaseOpened(const ProductDatabase::OpenResult& r) override {
    a_.OnDatabaseOpened(r);
    b_.OnDatabaseOpened(r);
  }
  void OnInstallationRead(const InstallationFacts& f, const ReadOutcome& o) override {
    a_.OnInstallationRead(f, o);
    b_.OnInstallationRead(f, o);
  }
  void OnDownloadStarted(const std::string& h, const std::string& p) override {
    a_.OnDownloadStarted(h, p);
    b_.OnDownloadStarted(h, p);
  }
  void OnNetworkChosen(const std::string& p, const std::string& s, bool f) override {
    a_.OnNetworkChosen(p, s, f);
    b_.OnNetworkChosen(p, s, f);
  }
  void OnFailover(const std::string& p, const std::string& f, const std::string& t,
                  const std::string& w) override {
    a_.OnFailover(p, f, t, w);
    b_.OnFailover(p, f, t, w);
  }
  void OnDownloadDone(const DownloadReport& r) override {
    a_.OnDownloadDone(r);
    b_.OnDownloadDone(r);
  }
  void OnManifestEvaluated(ByteSpan bytes, const Manifest& m, const ServiceTable& t) override {
    a_.OnManifestEvaluated(bytes, m, t);
    b_.OnManifestEvaluated(bytes, m, t);
  }
  void OnDetailFileCompared(const std::string& line, int result) override {
    a_.OnDetailFileCompared(line, result);
    b_.OnDetailFileCompared(line, result);
  }
  void OnPlanBuilt(const Plan& p, const ServiceTable& t) override {
    a_.OnPlanBuilt(p, t);
    b_.OnPlanBuilt(p, t);
  }
  void OnConfirmation(bool yes, int32_t route, const std::string& host) override {
    a_.OnConfirmation(yes, route, host);
    b_.OnConfirmation(yes, route, host);
  }
  void OnServiceEvent(const ServiceEvent& e) override {
    a_.OnServiceEvent(e);
    b_.OnServiceEvent(e);
  }
  bool OnFileWriting(const PlanStep& s, const std::string& t, const std::string& f,
                     ByteSpan c) override {
    const bool a = a_.OnFileWriting(s, t, f, c);
    const bool b = b_.OnFileWriting(s, t, f, c);
    return a && b;
  }
  void OnFileWritten(const PlanStep& s, ByteSpan c, const WriteReport& r) override {
    a_.OnFileWritten(s, c, r);
    b_.OnFileWritten(s, c, r);
  }
  void OnChanging(RunChange what, const std::string& target) override {
    a_.OnChanging(what, target);
    b_.OnChanging(what, target);
  }
  void OnReleaseVerified(const ReleaseVerification& v) override {
    a_.OnReleaseVerified(v);
    b_.OnReleaseVerified(v);
  }
  void OnPackageStaged(const PlanStep& s, ByteSpan p, const std::string& f) override {
    a_.OnPackageStaged(s, p, f);
    b_.OnPackageStaged(s, p, f);
  }
  void OnScriptRun(const PlanStep& s, int batches, int errors) override {
    a_.OnScriptRun(s, batches, errors);
    b_.OnScriptRun(s, batches, errors);
  }
  void OnBatchFailed(const BatchFailure& f) override {
    a_.OnBatchFailed(f);
    b_.OnBatchFailed(f);
  }
  void OnBatchStarting(const PlanStep& s, int batch) override {
    a_.OnBatchStarting(s, batch);
    b_.OnBatchStarting(s, batch);
  }
  void OnScriptRolledBack(const PlanStep& s, int batches, const DbOutcome& o) override {
    a_.OnScriptRolledBack(s, batches, o);
    b_.OnScriptRolledBack(s, batches, o);
  }
  void OnComponentRecorded(const PlanStep& s, const DbOutcome& o) override {
    a_.OnComponentRecorded(s, o);
    b_.OnComponentRecorded(s, o);
  }
  void OnPhaseChanged(RunPhase p, const std::string& r) override {
    a_.OnPhaseChanged(p, r);
    b_.OnPhaseChanged(p, r);
  }
  void OnHealthChecked(const std::string& service, int seconds, int after, bool healthy) override {
    a_.OnHealthChecked(service, seconds, after, healthy);
    b_.OnHealthChecked(service, seconds, after, healthy);
  }
  void OnAutoRollback(bool done, const std::vector<std::string>& lines) override {
    a_.OnAutoRollback(done, lines);
    b_.OnAutoRollback(done, lines);
  }
  void OnInterruptedRunFound(const std::string& run, const std::vector<std::string>& running,
                             const std::string& script, int batch) override {
    a_.OnInterruptedRunFound(run, running, script, batch);
    b_.OnInterruptedRunFound(run, running, script, batch);
  }
  void OnBackupsUnavailable(const std::string& why) override {
    a_.OnBackupsUnavailable(why);
    b_.OnBackupsUnavailable(why);
  }

 private:
  RunObserver& a_;
  RunObserver& b_;
};

}  // namespace ost
