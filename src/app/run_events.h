// What an update run reports as it goes, for whoever keeps a record of it. The
// dialog's operations call these on the UI thread; every call does nothing unless an
// observer overrides it, and nothing an observer does changes the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/installation.h"
#include "db/product_database.h"
#include "net/download_job.h"
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
  int32_t downloadKind = 0;
  std::string requestPath;
  std::string targetPath;
  uintptr_t result = 0;  // the download result code
  int32_t expectedLength = 0;
  int32_t receivedLength = 0;
  const std::vector<DownloadHop>* hops = nullptr;  // each answer, redirects included
};

struct ServiceEvent {
  enum class Action { kQuery, kReadPath, kStop, kStart };
  Action action = Action::kQuery;
  std::string service;
  int32_t result = 0;  // a state 1-7 or a result number of the service controller
  int row = -1;        // the plan row, when there is one
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
  virtual void OnDownloadDone(const DownloadReport& /*report*/) {}
  virtual void OnManifestEvaluated(ByteSpan /*bytes*/, const Manifest& /*manifest*/,
                                   const ServiceTable& /*table*/) {}
  virtual void OnDetailFileCompared(const std::string& /*line*/, int /*result*/) {}
  virtual void OnPlanBuilt(const Plan& /*plan*/, const ServiceTable& /*table*/) {}
  virtual void OnConfirmation(bool /*confirmed*/, int32_t /*routeChoice*/,
                              const std::string& /*updateHost*/) {}
  virtual void OnServiceEvent(const ServiceEvent& /*event*/) {}
  virtual void OnFileWritten(const PlanStep& /*step*/, ByteSpan /*content*/,
                             const WriteReport& /*report*/) {}
  virtual void OnScriptRun(const PlanStep& /*step*/, int /*batches*/, int /*errors*/) {}
  virtual void OnBatchFailed(const BatchFailure& /*failure*/) {}
  // The record statement of an applied component; the dialog ignores its failure.
  virtual void OnComponentRecorded(const PlanStep& /*step*/, const DbOutcome& /*outcome*/) {}
  virtual void OnPhaseChanged(RunPhase /*phase*/, const std::string& /*reason*/) {}
  // A file checked against the maker's signed index (UpdateKey set): server.sig,
  // server.txt, each package; `failure` says what failed, kNone when it was vouched for.
  virtual void OnReleaseVerified(const ReleaseVerification& /*verification*/) {}
};

}  // namespace ost
