#include "update/backup.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <nlohmann/json.hpp>

#include "update/catalogue.h"
#include "update/package_writer.h"

namespace ost {
namespace {

// Windows paths name one file whatever their letters' case or slashes.
bool SamePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = static_cast<char>(std::tolower(static_cast<unsigned char>(a[i])));
    char y = static_cast<char>(std::tolower(static_cast<unsigned char>(b[i])));
    if (x == '/') x = '\\';
    if (y == '/') y = '\\';
    if (x != y) return false;
  }
  return true;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void RemoveTree(FilePort& files, const std::string& folder) {
  std::vector<std::string> names;
  if (files.ListFolder(folder, &names)) {
    for (const std::string& name : names) files.Remove(folder + "\\" + name);
  }
  files.RemoveFolder(folder);
}

}  // namespace

bool BackupKeeper::ReadWhole(FilePort& files, const std::string& path, std::string* content) {
  std::unique_ptr<File> file = files.OpenRead(path);
  if (!file) return false;
  content->clear();
  char block[65536];
  for (;;) {
    int64_t n = file->Read(block, sizeof block);
    if (n < 0) return false;
    if (n == 0) return true;
    content->append(block, static_cast<size_t>(n));
  }
}

BackupKeeper::BackupKeeper(FilePort& files, std::string programDir, std::string runId,
                           Sha256Hex digest)
    : files_(files),
      programDir_(std::move(programDir)),
      folder_(RunFolder(programDir_, runId)),
      digest_(std::move(digest)) {
  record_.runId = std::move(runId);
}

std::string BackupKeeper::BackupsFolder(const std::string& programDir) {
  return programDir + "backup";
}

std::string BackupKeeper::RunFolder(const std::string& programDir, const std::string& runId) {
  return BackupsFolder(programDir) + "\\" + runId;
}

std::vector<std::string> BackupKeeper::Runs(FilePort& files, const std::string& programDir) {
  std::vector<std::string> runs;
  std::vector<std::string> names;
  if (!files.ListFolder(BackupsFolder(programDir), &names)) return runs;
  for (const std::string& name : names) {
    if (files.Exists(RunFolder(programDir, name) + "\\" + kRecordName)) runs.push_back(name);
  }
  std::sort(runs.begin(), runs.end());
  return runs;
}

bool BackupKeeper::Load(FilePort& files, const std::string& folder, BackupRecord* record,
                        std::string* error) {
  std::string text;
  if (!ReadWhole(files, folder + "\\" + kRecordName, &text)) {
    *error = folder + "\\" + kRecordName + " cannot be read";
    return false;
  }
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (!doc.is_object() || !doc.contains("files") || !doc["files"].is_array()) {
    *error = folder + "\\" + kRecordName + " is no backup record";
    return false;
  }
  *record = BackupRecord{};
  record->runId = doc.value("run", "");
  record->rolledBack = doc.value("rolledBack", "");
  for (const auto& script : doc.value("scripts", nlohmann::json::array())) {
    if (script.is_string()) record->scripts.push_back(script.get<std::string>());
  }
  for (const auto& item : doc["files"]) {
    if (!item.is_object()) continue;
    BackupFile file;
    file.original = item.value("original", "");
    file.copy = item.value("copy", "");
    file.existed = item.value("existed", false);
    file.size = item.value("size", int64_t{-1});
    file.sha256 = item.value("sha256", "");
    file.service = item.value("service", "");
    file.slot = item.value("slot", -1);
    file.component = item.value("component", "");
    file.oldNumber = item.value("oldNumber", -1);
    file.newNumber = item.value("newNumber", -1);
    file.replaced = item.value("replaced", false);
    record->files.push_back(file);
  }
  return true;
}

bool BackupKeeper::Store(FilePort& files, const std::string& folder, const BackupRecord& record) {
  nlohmann::json items = nlohmann::json::array();
  for (const BackupFile& file : record.files) {
    items.push_back({{"original", file.original},
                     {"copy", file.copy},
                     {"existed", file.existed},
                     {"size", file.size},
                     {"sha256", file.sha256},
                     {"service", file.service},
                     {"slot", file.slot},
                     {"component", file.component},
                     {"oldNumber", file.oldNumber},
                     {"newNumber", file.newNumber},
                     {"replaced", file.replaced}});
  }
  const nlohmann::json doc = {{"run", record.runId},
                              {"rolledBack", record.rolledBack},
                              {"scripts", record.scripts},
                              {"files", items}};
  const std::string text = doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  // A record is never left half written.
  return WritePackageFile(files, ByteSpan::Of(text), folder + "\\" + kRecordName, "").written;
}

bool BackupKeeper::Begin() {
  if (begun_) return true;
  if (!files_.MakeFolders(folder_)) return false;
  begun_ = true;
  // The oldest backups go; this run's is among the ones kept.
  std::vector<std::string> runs = Runs(files_, programDir_);
  std::vector<std::string> names;
  files_.ListFolder(BackupsFolder(programDir_), &names);
  for (const std::string& name : names) {
    if (name != record_.runId && std::find(runs.begin(), runs.end(), name) == runs.end()) {
      runs.push_back(name);  // a folder without a record: an earlier run that kept nothing
    }
  }
  std::sort(runs.begin(), runs.end());
  runs.erase(std::remove(runs.begin(), runs.end(), record_.runId), runs.end());
  while (static_cast<int>(runs.size()) > kRunsKept - 1) {
    RemoveTree(files_, RunFolder(programDir_, runs.front()));
    runs.erase(runs.begin());
  }
  return true;
}

void BackupKeeper::Save() {
  if (begun_) Store(files_, folder_, record_);
}

void BackupKeeper::OnPlanBuilt(const Plan&, const ServiceTable& table) { table_ = table; }

void BackupKeeper::Keep(const PlanStep& step, const std::string& path) {
  for (const BackupFile& kept : record_.files) {
    if (SamePath(kept.original, path)) return;
  }
  BackupFile file;
  file.original = path;
  if (step.kind == StepKind::kComponent) {
    const ServiceEntry& entry = table_[static_cast<size_t>(step.entry)];
    file.slot = step.entry;
    file.component = entry.displayName;
    file.oldNumber = entry.installedVersion;
    file.newNumber = entry.availableVersion;
    // The web's DLLs live in the web server.
    file.service =
        entry.kind == kVelinKind || entry.kind == kOstDataKind ? "W3SVC" : entry.serviceName;
  }
  std::string content;
  file.existed = ReadWhole(files_, path, &content);
  // The folder is only made for a file worth keeping, so that a run that writes
  // nothing leaves the machine as it found it.
  if (file.existed && Begin()) {
    file.size = static_cast<int64_t>(content.size());
    if (digest_) file.sha256 = digest_(ByteSpan::Of(content));
    const std::string copy = std::to_string(record_.files.size() + 1) + "-" + BaseName(path);
    std::unique_ptr<File> out = files_.CreateTruncate(folder_ + "\\" + copy);
    const bool written =
        out && out->Write(content.data(), content.size()) == static_cast<int64_t>(content.size());
    if (out && out->Close() && written) file.copy = copy;
  }
  record_.files.push_back(file);
}

void BackupKeeper::OnFileWriting(const PlanStep& step, const std::string& target,
                                 const std::string& fallback) {
  Keep(step, target);
  if (!fallback.empty()) Keep(step, fallback);
  Save();
}

void BackupKeeper::OnFileWritten(const PlanStep&, ByteSpan, const WriteReport& report) {
  if (!report.written) return;
  for (BackupFile& file : record_.files) {
    if (SamePath(file.original, report.path)) file.replaced = true;
  }
  // A file that is new to the machine is recorded too: a rollback removes it.
  if (Begin()) Save();
}

void BackupKeeper::OnScriptRun(const PlanStep& step, int, int) {
  record_.scripts.push_back(step.requestPath);
  Save();
}

}  // namespace ost
