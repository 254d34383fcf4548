#include "update/run_record.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "system/service_controller.h"
#include "update/backup.h"
#include "update/catalogue.h"
#include "update/own_folder.h"
#include "update/package_writer.h"
#include "update/product_facts.h"

namespace ost {
namespace {

constexpr char kFolder[] = "recovery";
constexpr char kFile[] = "run.json";
constexpr char kBatchLog[] = "run.batches";

bool SameService(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string BatchLogHead(const RunRecordFile& record) {
  return record.runId + " " + record.script + "\n";
}

// The last batch the log names for the record's script, at least the record's own.
int LoggedBatch(FilePort& files, const std::string& programDir, const RunRecordFile& record) {
  std::string text;
  if (!BackupKeeper::ReadWhole(files, RunBatchLogPath(programDir), &text)) return record.batch;
  const std::string head = BatchLogHead(record);
  if (text.compare(0, head.size(), head) != 0) return record.batch;
  int batch = record.batch;
  for (size_t at = head.size();;) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos || end == at || end - at > 9) break;
    int number = 0;
    for (size_t i = at; i < end && number >= 0; ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      number = std::isdigit(c) ? number * 10 + (c - '0') : -1;
    }
    if (number < 0) break;
    batch = std::max(batch, number);
    at = end + 1;
  }
  return batch;
}

}  // namespace

std::vector<std::string> RunRecordFile::RunningBefore() const {
  std::vector<std::string> names;
  for (const RecordedService& service : services) {
    if (service.stateBefore == kServiceRunning) names.push_back(service.name);
  }
  return names;
}

bool RunRecordFile::Began(const std::string& kind, const std::string& target) const {
  return std::any_of(changes.begin(), changes.end(), [&](const RecordedChange& change) {
    return change.kind == kind && (target.empty() || change.target == target);
  });
}

std::string RunRecordPath(const std::string& programDir) {
  return programDir + kFolder + "\\" + kFile;
}

std::string RunBatchLogPath(const std::string& programDir) {
  return programDir + kFolder + "\\" + kBatchLog;
}

bool ReadRunRecord(FilePort& files, const std::string& programDir, RunRecordFile* record) {
  std::string text;
  if (!BackupKeeper::ReadWhole(files, RunRecordPath(programDir), &text)) return false;
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (!doc.is_object()) return false;
  record->runId = doc.value("run", std::string());
  record->script = doc.value("script", std::string());
  record->batch = doc.value("batch", 0);
  record->recoverable = doc.value("recoverable", false);
  record->scriptsHeld = doc.value("scriptsHeld", false);
  const auto changes = doc.find("changes");
  if (changes != doc.end() && changes->is_array()) {
    for (const nlohmann::json& item : *changes) {
      if (!item.is_object()) return false;
      record->changes.push_back(
          {item.value("kind", std::string()), item.value("target", std::string())});
    }
  }
  const auto services = doc.find("services");
  if (services == doc.end() || !services->is_array()) return false;
  for (const nlohmann::json& item : *services) {
    if (!item.is_object()) return false;
    RecordedService service;
    service.name = item.value("name", std::string());
    service.stateBefore = item.value("stateBefore", 0);
    if (service.name.empty()) return false;
    record->services.push_back(std::move(service));
  }
  if (!record->script.empty() && record->batch > 0) {
    record->batch = LoggedBatch(files, programDir, *record);
  }
  return true;
}

bool WriteRunRecord(FilePort& files, const std::string& programDir, const RunRecordFile& record) {
  std::string why;
  if (!MakeOwnFolder(files, programDir + kFolder, &why)) return false;
  nlohmann::json services = nlohmann::json::array();
  for (const RecordedService& service : record.services) {
    services.push_back({{"name", service.name}, {"stateBefore", service.stateBefore}});
  }
  nlohmann::json doc = {{"run", record.runId},
                        {"services", services},
                        {"script", record.script},
                        {"batch", record.batch}};
  if (record.recoverable) {
    nlohmann::json changes = nlohmann::json::array();
    for (const RecordedChange& change : record.changes) {
      changes.push_back({{"kind", change.kind}, {"target", change.target}});
    }
    doc["recoverable"] = true;
    doc["scriptsHeld"] = record.scriptsHeld;
    doc["changes"] = changes;
  }
  const std::string text = doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  // Never half written: a kill leaves the former record or this one.
  return WritePackageFile(files, ByteSpan::Of(text), RunRecordPath(programDir), "").written;
}

void RemoveRunRecord(FilePort& files, const std::string& programDir) {
  // The record first: a log without it names nothing.
  files.Remove(RunRecordPath(programDir));
  files.Remove(RunBatchLogPath(programDir));
}

std::vector<std::string> TakeInterruptedRunServices(FilePort& files,
                                                    const std::string& programDir) {
  RunRecordFile record;
  if (!ReadRunRecord(files, programDir, &record)) return {};
  RemoveRunRecord(files, programDir);
  return record.RunningBefore();
}

RunRecordKeeper::RunRecordKeeper(FilePort& files, std::string programDir, std::string runId,
                                 bool recoverable)
    : files_(files), programDir_(std::move(programDir)) {
  record_.runId = std::move(runId);
  record_.recoverable = recoverable;
  RunRecordFile earlier;
  if (files_.Exists(RunRecordPath(programDir_)) && ReadRunRecord(files_, programDir_, &earlier)) {
    interrupted_ = std::move(earlier);
  }
}

bool RunRecordKeeper::WasRunningBeforeInterruptedRun(const std::string& service) const {
  if (!interrupted_ || service.empty()) return false;
  for (const std::string& name : interrupted_->RunningBefore()) {
    if (SameService(name, service)) return true;
  }
  return false;
}

void RunRecordKeeper::Finish() {
  batchLog_.reset();
  if (writing_ || interrupted_) RemoveRunRecord(files_, programDir_);
  writing_ = false;
  interrupted_.reset();
}

void RunRecordKeeper::OnConfigRead(const ConfigRead&, const ServerConfig& config) {
  record_.recoverable = record_.recoverable || config.autoRollback;
  record_.scriptsHeld = record_.recoverable && config.scriptTransaction;
}

void RunRecordKeeper::OnChanging(RunChange what, const std::string& target) {
  if (!record_.recoverable) return;
  static const char* const kKinds[] = {"route",  "stop",   "start", "file",
                                       "number", "script", "commit"};
  record_.changes.push_back({kKinds[static_cast<int>(what)], target});
  // The first change of any kind finds the record on disk already.
  writing_ = true;
  Save();
}

bool RunRecordKeeper::OnFileWriting(const PlanStep&, const std::string& target,
                                    const std::string& fallback, ByteSpan) {
  if (!record_.recoverable) return true;
  record_.changes.push_back({"file", target});
  if (!fallback.empty()) record_.changes.push_back({"file", fallback});
  writing_ = true;
  // A file the record does not name could not be put back after a kill: not written.
  return Save();
}

void RunRecordKeeper::OnPlanBuilt(const Plan& plan, const ServiceTable& table) {
  record_.services.clear();
  // What the interrupted run saw running stays so, should this run be killed as well.
  if (interrupted_) record_.services = interrupted_->services;
  for (const PlanStep& step : plan.steps) {
    if (step.kind != StepKind::kComponent) continue;
    const ServiceEntry& entry = table[static_cast<size_t>(step.entry)];
    std::string name =
        entry.serviceName.empty() ? std::string(kWebServerService) : entry.serviceName;
    auto known = std::find_if(record_.services.begin(), record_.services.end(),
                              [&](const RecordedService& s) { return SameService(s.name, name); });
    if (known == record_.services.end()) {
      record_.services.push_back({name, entry.stateBefore});
    } else if (entry.stateBefore == kServiceRunning) {
      known->stateBefore = kServiceRunning;
    }
  }
}

void RunRecordKeeper::OnPhaseChanged(RunPhase phase, const std::string&) {
  // Before anything is stopped (the stop comes right after this change).
  if (phase == RunPhase::kUpdating && !writing_) {
    writing_ = true;
    Save();
  }
}

void RunRecordKeeper::OnBatchStarting(const PlanStep& step, int batch) {
  if (!writing_) return;
  if (batchLog_ && batch > record_.batch && step.requestPath == record_.script) {
    const std::string line = std::to_string(batch) + "\n";
    if (batchLog_->Write(line.data(), line.size()) == static_cast<int64_t>(line.size())) return;
    batchLog_.reset();  // the record says it then, as it says the first batch
  }
  batchLog_.reset();
  record_.script = step.requestPath;
  record_.batch = batch;
  // The log begins before the record names its script, so that the record never names
  // a script whose log is another's.
  if (batch > 0) {
    batchLog_ = files_.CreateTruncate(RunBatchLogPath(programDir_));
    const std::string head = BatchLogHead(record_);
    if (batchLog_ &&
        batchLog_->Write(head.data(), head.size()) != static_cast<int64_t>(head.size())) {
      batchLog_.reset();
    }
  }
  Save();
}

void RunRecordKeeper::OnScriptRun(const PlanStep&, int, int) {
  if (!writing_) return;
  batchLog_.reset();
  record_.script.clear();
  record_.batch = 0;
  Save();
}

void RunRecordKeeper::OnScriptRolledBack(const PlanStep& step, int batches, const DbOutcome&) {
  OnScriptRun(step, batches, 0);
}

bool RunRecordKeeper::Save() { return WriteRunRecord(files_, programDir_, record_); }

}  // namespace ost
