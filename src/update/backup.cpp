#include "update/backup.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <nlohmann/json.hpp>

#include "system/service_controller.h"
#include "update/catalogue.h"
#include "update/own_folder.h"
#include "update/package_writer.h"
#include "util/text.h"
#include "util/windows_path.h"

namespace ost {
namespace {

// A pruned run's folder: its own files only; nothing below it is followed.
void RemoveTree(FilePort& files, const std::string& folder) {
  if (files.Kind(folder) != PathKind::kFolder) return;
  std::vector<std::string> names;
  if (files.ListFolder(folder, &names)) {
    for (const std::string& name : names) {
      const std::string path = folder + "\\" + name;
      // A link goes as a name; what it leads to stays.
      const PathKind kind = files.Kind(path);
      if (kind == PathKind::kFile || kind == PathKind::kLink) files.Remove(path);
    }
  }
  files.RemoveFolder(folder);
}

struct RunOrder {
  int64_t sequence;
  std::string id;
  bool operator<(const RunOrder& other) const {
    return sequence != other.sequence ? sequence < other.sequence : id < other.id;
  }
};

// The run folders of the backup folder, oldest first; a folder without a readable
// record counts as the oldest.
std::vector<RunOrder> RunFolders(FilePort& files, const std::string& programDir) {
  std::vector<RunOrder> runs;
  std::vector<std::string> names;
  const std::string backups = BackupKeeper::BackupsFolder(programDir);
  if (files.Kind(backups) != PathKind::kFolder || !files.ListFolder(backups, &names)) return runs;
  for (const std::string& name : names) {
    const std::string folder = BackupKeeper::RunFolder(programDir, name);
    if (!BackupKeeper::IsRunId(name) || files.Kind(folder) != PathKind::kFolder) continue;
    BackupRecord record;
    std::string error;
    const bool recorded = files.Kind(folder + "\\" + BackupKeeper::kRecordName) == PathKind::kFile;
    const bool loaded = recorded && BackupKeeper::Load(files, folder, &record, &error);
    // Without a record: a run that kept nothing, the first to go.
    runs.push_back({loaded ? record.sequence : recorded ? -1 : -2, name});
  }
  std::sort(runs.begin(), runs.end());
  return runs;
}

}  // namespace

bool BackupKeeper::IsRunId(const std::string& name) {
  // yyyymmdd-hhmmss-xxxx
  if (name.size() != 20 || name[8] != '-' || name[15] != '-') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (i == 8 || i == 15) continue;
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (i > 15 ? !std::isxdigit(c) : !std::isdigit(c)) return false;
  }
  return true;
}

std::string BackupKeeper::CopyName(size_t position, const std::string& original) {
  return std::to_string(position) + "-" + BaseName(original);
}

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

std::string BackupKeeper::Unavailable(FilePort& files, const std::string& programDir) {
  const auto slash = [&](size_t i) {
    return programDir.size() > i && (programDir[i] == '\\' || programDir[i] == '/');
  };
  // "\\?\C:\..." and "\\.\C:\..." name a local drive; any other "\\..." a server.
  const bool prefixed = slash(0) && slash(1) && programDir.size() > 4 &&
                        (programDir[2] == '?' || programDir[2] == '.') && slash(3);
  const bool drive = prefixed && programDir.size() > 5 && programDir[5] == ':';
  if (slash(0) && slash(1) && !drive) {
    return "the program folder " + programDir +
           " is a network path: no folder there can be made the tool's own";
  }
  const std::string backups = BackupsFolder(programDir);
  switch (files.Kind(backups)) {
    case PathKind::kLink:
      return backups + " is a link or junction: it is not used";
    case PathKind::kFile:
    case PathKind::kOther:
      return backups + " is there but no folder: it is not used";
    default:
      return std::string();
  }
}

std::vector<std::string> BackupKeeper::Runs(FilePort& files, const std::string& programDir) {
  std::vector<std::string> runs;
  for (const RunOrder& run : RunFolders(files, programDir)) {
    if (run.sequence > -2) runs.push_back(run.id);
  }
  return runs;
}

bool BackupKeeper::Load(FilePort& files, const std::string& folder, BackupRecord* record,
                        std::string* error) {
  std::string text;
  // Only a real file in a real folder: never read through a link.
  if (files.Kind(folder) != PathKind::kFolder ||
      files.Kind(folder + "\\" + kRecordName) != PathKind::kFile ||
      !ReadWhole(files, folder + "\\" + kRecordName, &text)) {
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
  record->sequence = doc.value("sequence", int64_t{0});
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
    file.written = item.value("written", "");
    file.runningBefore = item.value("runningBefore", false);
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
                     {"replaced", file.replaced},
                     {"written", file.written},
                     {"runningBefore", file.runningBefore}});
  }
  const nlohmann::json doc = {{"run", record.runId},
                              {"sequence", record.sequence},
                              {"rolledBack", record.rolledBack},
                              {"scripts", record.scripts},
                              {"files", items}};
  const std::string text = doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  // A record is never left half written.
  return WritePackageFile(files, ByteSpan::Of(text), folder + "\\" + kRecordName, "").written;
}

bool BackupKeeper::Begin() {
  if (begun_) return true;
  if (failed_) return false;
  failed_ = true;  // said once
  // The tool's own folders: no one but an administrator may plant a record or a link
  // in them.
  std::string why = Unavailable(files_, programDir_);
  if (!why.empty() || !MakeOwnFolder(files_, BackupsFolder(programDir_), &why)) {
    Note("no backup can be kept: " + why);
    return false;
  }
  // The oldest backups go; this run's is among the ones kept.
  std::vector<RunOrder> runs = RunFolders(files_, programDir_);
  int64_t last = 0;
  for (const RunOrder& run : runs) last = std::max(last, run.sequence);
  if (!MakeOwnFolder(files_, folder_, &why)) {
    Note("no backup can be kept: " + why);
    return false;
  }
  begun_ = true;
  failed_ = false;
  record_.sequence = last + 1;
  while (static_cast<int>(runs.size()) > kRunsKept - 1) {
    RemoveTree(files_, RunFolder(programDir_, runs.front().id));
    runs.erase(runs.begin());
  }
  return true;
}

void BackupKeeper::Save() {
  if (begun_) Store(files_, folder_, record_);
}

void BackupKeeper::OnPlanBuilt(const Plan&, const ServiceTable& table) { table_ = table; }

bool BackupKeeper::Keep(const PlanStep& step, const std::string& path, const std::string& written) {
  for (size_t i = 0; i < record_.files.size(); ++i) {
    BackupFile& kept = record_.files[i];
    if (SamePath(kept.original, path)) {
      pending_.push_back({i, false});
      kept.written = written;
      kept.replaced = true;
      return !kept.existed || !kept.copy.empty();
    }
  }
  BackupFile file;
  file.original = path;
  file.written = written;
  file.replaced = true;  // from now on the file may hold what the update writes
  if (step.kind == StepKind::kComponent) {
    const ServiceEntry& entry = table_[static_cast<size_t>(step.entry)];
    file.slot = step.entry;
    file.component = entry.displayName;
    file.oldNumber = entry.installedVersion;
    file.newNumber = entry.availableVersion;
    // The web's DLLs live in the web server.
    file.service = entry.kind == kVelinKind || entry.kind == kOstDataKind ? kWebServerService
                                                                          : entry.serviceName;
    file.runningBefore = entry.stateBefore == kServiceRunning;
  }
  // Whether there was a file is a question of the name, not of a successful read.
  const PathKind kind = files_.Kind(path);
  file.existed = kind != PathKind::kMissing;
  bool kept = !file.existed;
  std::string content;
  if (kind == PathKind::kLink) {
    Note(path + " is a link: it is not read through, nor written over");
  } else if (file.existed && kind != PathKind::kFile) {
    Note(path + " is no plain file: it is not written over");
  } else if (file.existed && Begin()) {
    if (!ReadWhole(files_, path, &content)) {
      Note(Format("%s cannot be read (system error %d): it is not written over", path.c_str(),
                  files_.LastError()));
    } else {
      file.size = static_cast<int64_t>(content.size());
      if (digest_) file.sha256 = digest_(ByteSpan::Of(content));
      const std::string copy = CopyName(record_.files.size() + 1, path);
      std::unique_ptr<File> out = files_.CreateNew(folder_ + "\\" + copy);
      const bool whole =
          out && out->Write(content.data(), content.size()) == static_cast<int64_t>(content.size());
      if (out && out->Close() && whole) {
        file.copy = copy;
        kept = true;
      } else {
        Note(Format("no copy of %s could be made in %s (system error %d): it is not written over",
                    path.c_str(), folder_.c_str(), files_.LastError()));
      }
    }
  }
  // A file that was not there is recorded too: a rollback removes it.
  Begin();
  pending_.push_back({record_.files.size(), true});
  record_.files.push_back(file);
  return kept;
}

bool BackupKeeper::OnFileWriting(const PlanStep& step, const std::string& target,
                                 const std::string& fallback, ByteSpan content) {
  const std::string written = digest_ ? digest_(content) : std::string();
  bool kept = Keep(step, target, written);
  if (!fallback.empty()) kept = Keep(step, fallback, written) && kept;
  // Saved before the write: a run killed right after it still leaves a record that
  // says what may have been replaced.
  Save();
  return kept;
}

void BackupKeeper::OnFileWritten(const PlanStep&, ByteSpan, const WriteReport& report) {
  // Now it is known which of the paths was written over, if any.
  for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
    BackupFile& file = record_.files[it->first];
    const bool replaced = report.written && SamePath(file.original, report.path);
    // One kept for an earlier write of the run stays replaced.
    file.replaced = replaced || (!it->second && file.replaced);
  }
  pending_.clear();
  if (!begun_) return;
  bool worth = !record_.scripts.empty();
  for (const BackupFile& file : record_.files) worth = worth || file.existed || file.replaced;
  if (!worth) {
    // Nothing to go back to: the machine stays as the run found it.
    RemoveTree(files_, folder_);
    begun_ = false;
    return;
  }
  Save();
}

void BackupKeeper::OnScriptRun(const PlanStep& step, int, int) {
  record_.scripts.push_back(step.requestPath);
  Save();
}

}  // namespace ost
