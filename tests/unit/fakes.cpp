#include "unit/fakes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "system/config_store.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost::testing {
namespace {

class MemoryFile : public File {
 public:
  MemoryFile(FakeFiles& files, std::string* content, bool writable)
      : files_(files), content_(content), writable_(writable) {}
  int64_t Read(void* data, size_t size) override {
    size_t n = std::min(size, content_->size() - offset_);
    std::memcpy(data, content_->data() + offset_, n);
    offset_ += n;
    return static_cast<int64_t>(n);
  }
  int64_t Write(const void* data, size_t size) override {
    if (!writable_ || closed_) {
      files_.lastError = 9;  // EBADF
      return -1;
    }
    long long& space = files_.diskSpace;
    if (space >= 0 && static_cast<long long>(size) > space) {
      size = static_cast<size_t>(space);  // the disk fills up midway
      files_.lastError = 28;              // ENOSPC
    }
    content_->append(static_cast<const char*>(data), size);
    if (space >= 0) space -= static_cast<long long>(size);
    return static_cast<int64_t>(size);
  }
  bool Close() override {
    closed_ = true;
    if (writable_ && files_.failClose) {
      files_.lastError = 122;  // EDQUOT
      return false;
    }
    return true;
  }

 private:
  FakeFiles& files_;
  std::string* content_;
  bool writable_;
  bool closed_ = false;
  size_t offset_ = 0;
};

constexpr uint32_t kFirstAddress = 0x0A000001;

}  // namespace

void FakeRegistry::SetString(const std::string& key, const std::string& name,
                             const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  SetValue(key, name, bytes);
}

void FakeRegistry::SetDword(const std::string& key, const std::string& name, uint32_t value) {
  SetValue(key, name,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

long FakeRegistry::OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) {
  auto found = keys.find(path);
  if (root != RegistryRoot::kLocalMachine || found == keys.end()) return kRegFileNotFound;
  *key = next_++;
  handles_[*key] = &found->second;
  ++openKeys;
  return kRegSuccess;
}

long FakeRegistry::QueryValue(RegistryKey key, const std::string& name, uint8_t* data,
                              uint32_t* size) {
  auto handle = handles_.find(key);
  if (handle == handles_.end()) return kRegInvalidHandle;
  auto value = handle->second->find(name);
  if (value == handle->second->end()) return kRegFileNotFound;
  if (value->second.size() > *size) {
    *size = static_cast<uint32_t>(value->second.size());
    return kRegMoreData;
  }
  std::memcpy(data, value->second.data(), value->second.size());
  *size = static_cast<uint32_t>(value->second.size());
  return kRegSuccess;
}

long FakeRegistry::CloseKey(RegistryKey key) {
  if (handles_.erase(key) == 0) return kRegInvalidHandle;
  --openKeys;
  return kRegSuccess;
}

long FakeRegistry::SetStringValue(RegistryRoot root, const std::string& path,
                                  const std::string& name, const std::string& value) {
  if (root != RegistryRoot::kLocalMachine || !keys.count(path)) return kRegFileNotFound;
  if (setStatus != kRegSuccess) return setStatus;
  SetString(path, name, value);
  return kRegSuccess;
}

std::unique_ptr<File> FakeFiles::OpenRead(const std::string& path) {
  opened.push_back(path);
  auto found = files.find(path);
  if (found == files.end()) {
    lastError = 2;  // ENOENT
    return nullptr;
  }
  return std::make_unique<MemoryFile>(*this, &found->second, false);
}

std::unique_ptr<File> FakeFiles::CreateTruncate(const std::string& path) {
  opened.push_back(path);
  auto below = [&](const std::vector<std::string>& folders) {
    return std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
      return path.compare(0, folder.size(), folder) == 0;
    });
  };
  if (below(unwritableFolders) || (below(closedFolders) && files.count(path) == 0)) {
    lastError = 13;  // EACCES
    return nullptr;
  }
  std::string& content = files[path];
  content.clear();
  return std::make_unique<MemoryFile>(*this, &content, true);
}

std::unique_ptr<File> FakeFiles::CreateNew(const std::string& path) {
  if (files.count(path) > 0) {
    opened.push_back(path);
    lastError = 17;  // EEXIST
    return nullptr;
  }
  return CreateTruncate(path);
}

std::unique_ptr<File> FakeFiles::OpenAppend(const std::string& path) {
  opened.push_back(path);
  for (const std::string& folder : unwritableFolders) {
    if (path.compare(0, folder.size(), folder) == 0) {
      lastError = 13;
      return nullptr;
    }
  }
  return std::make_unique<MemoryFile>(*this, &files[path], true);
}

bool FakeFiles::MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
    if (at > 2) folders.insert(path.substr(0, at));
  }
  folders.insert(path);
  return true;
}

bool FakeFiles::ListFolder(const std::string& path, std::vector<std::string>* names) {
  if (folders.count(path) == 0) return false;
  std::set<std::string> found;
  const std::string prefix = path + "\\";
  auto add = [&](const std::string& entry) {
    if (entry.compare(0, prefix.size(), prefix) != 0) return;
    found.insert(entry.substr(prefix.size(), entry.find('\\', prefix.size()) - prefix.size()));
  };
  for (const auto& file : files) add(file.first);
  for (const std::string& folder : folders) add(folder);
  names->assign(found.begin(), found.end());
  return true;
}

bool FakeFiles::RemoveFolder(const std::string& path) {
  std::vector<std::string> names;
  if (!ListFolder(path, &names) || !names.empty()) return false;
  folders.erase(path);
  return true;
}

bool FakeFiles::HasTemporaryFiles() const {
  return std::any_of(files.begin(), files.end(), [](const auto& file) {
    const std::string& name = file.first;
    return name.size() >= 8 && name.compare(name.size() - 8, 8, ".ost-new") == 0;
  });
}

bool FakeFiles::Rename(const std::string& from, const std::string& to) {
  auto found = files.find(from);
  if (found == files.end() || unreplaceable.count(to) > 0) {
    lastError = found == files.end() ? 2 : 13;
    return false;
  }
  files[to] = found->second;
  files.erase(from);
  return true;
}

SocketHandle FakeHttpHost::CreateTcp() {
  SocketHandle s = next_++;
  connections_[s] = Connection{};
  return s;
}

bool FakeHttpHost::ResolveIpv4(const std::string& host, uint32_t* address) {
  for (const auto& [known, name] : names_) {
    if (name == host) {
      *address = known;
      return true;
    }
  }
  *address = kFirstAddress + static_cast<uint32_t>(names_.size());
  names_[*address] = host;
  return true;
}

bool FakeHttpHost::Connect(SocketHandle s, uint32_t address, uint16_t port, uint32_t) {
  if (refuseConnections) return false;
  Connection& connection = connections_.at(s);
  connection.host = names_[address];
  connection.port = port;
  return true;
}

int64_t FakeHttpHost::Send(SocketHandle s, const void* data, size_t size) {
  Connection& connection = connections_.at(s);
  connection.request.append(static_cast<const char*>(data), size);
  if (connection.request.find("\r\n\r\n") == std::string::npos) return static_cast<int64_t>(size);
  lastRequest = connection.request;
  // "GET <path> HTTP/1.0"
  size_t start = connection.request.find(' ') + 1;
  std::string path = connection.request.substr(start, connection.request.find(' ', start) - start);
  requests.push_back(connection.host + ":" + std::to_string(connection.port) + " " + path);
  if (auto answer = answers.find(path); answer != answers.end()) {
    connection.answer = answer->second;
  } else if (auto body = bodies.find(path); body != bodies.end()) {
    connection.answer =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body->second.size()) + "\r\n\r\n" +
        body->second;
  } else {
    connection.answer = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nmissing";
  }
  return static_cast<int64_t>(size);
}

int64_t FakeHttpHost::Peek(SocketHandle s, void* data, size_t size) {
  Connection& connection = connections_.at(s);
  size_t n = std::min(size, connection.answer.size() - connection.at);
  std::memcpy(data, connection.answer.data() + connection.at, n);
  return static_cast<int64_t>(n);
}

int64_t FakeHttpHost::Receive(SocketHandle s, void* data, size_t size) {
  int64_t n = Peek(s, data, size);
  connections_.at(s).at += static_cast<size_t>(n);
  return n;
}

ServiceHandle FakeServices::OpenServiceNamed(ServiceHandle, const std::string& name,
                                             ServiceAccess) {
  if (services.count(name) == 0) return 0;
  ++opened;
  handles_.push_back(name);
  return 100 + handles_.size() - 1;
}

bool FakeServices::QueryState(ServiceHandle service, int32_t* state) {
  Service& s = services[handles_.at(service - 100)];
  if ((s.state == 2 || s.state == 3) && s.pendingPolls > 0 && --s.pendingPolls == 0) {
    s.state = s.state == 2 ? (s.startEndsStopped ? 1 : 4) : 1;
  }
  *state = s.state;
  return true;
}

bool FakeServices::Start(ServiceHandle service) {
  const std::string& name = handles_.at(service - 100);
  calls.push_back("start " + name);
  Service& s = services[name];
  if (s.refuseStart) return false;
  s.state = s.pendingPolls > 0 ? 2 : (s.startEndsStopped ? 1 : 4);
  return true;
}

bool FakeServices::Stop(ServiceHandle service, int32_t* state) {
  const std::string& name = handles_.at(service - 100);
  calls.push_back("stop " + name);
  Service& s = services[name];
  if (s.refuseStop || !s.dependents.empty()) return false;
  s.state = s.pendingPolls > 0 ? 3 : 1;
  *state = s.state;
  return true;
}

ProcessHandle FakeServices::OpenOwnProcess(ServiceHandle service) {
  const std::string& name = handles_.at(service - 100);
  const Service& s = services[name];
  if (!s.ownProcess || s.state == 1) return 0;
  processes_.push_back(name);
  return 500 + processes_.size() - 1;
}

bool FakeServices::WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) {
  const std::string& name = processes_.at(process - 500);
  calls.push_back("wait " + name + " " + std::to_string(milliseconds));
  return services[name].processEnds;
}

std::vector<std::string> FakeServices::ActiveDependents(ServiceHandle service) {
  return services[handles_.at(service - 100)].dependents;
}

bool FakeServices::QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) {
  const Service& s = services[handles_.at(service - 100)];
  if (s.binaryPath.size() + 64 > bufferChars) return false;
  *path = s.binaryPath;
  return true;
}

ProductDatabase::OpenResult FakeDatabase::Open(const std::string& dataSource,
                                               const std::string& user,
                                               const std::string& password) {
  logins.push_back(dataSource + " " + user + " " + password);
  OpenResult result;
  if (openFailure) {
    result.failure = *openFailure;
  } else if (password != this->password) {
    result.failure = OpenFailure::kConnect;
    result.diagnostics.push_back(
        {"28000", 18456, "[OST][SQL Server stand-in]Login failed for user '" + user + "'."});
  }
  connected_ = result.failure == OpenFailure::kNone;
  return result;
}

DbOutcome FakeDatabase::Run(const std::string& statement) {
  DbOutcome outcome;
  if (!connected_ || handlesLeft == 0) {
    outcome.status = DbStatus::kNoHandle;
    return outcome;
  }
  if (handlesLeft > 0) --handlesLeft;
  statements.push_back(statement);
  for (const std::string& part : failing) {
    if (statement.find(part) != std::string::npos) {
      outcome.status = DbStatus::kFailed;
      outcome.diagnostics.push_back({"42000", 50000, "refused: " + part});
      outcome.diagnostics.push_back({"01000", 0, "second record"});
    }
  }
  return outcome;
}

DbText FakeDatabase::QueryText(const std::string& statement, size_t width) {
  DbText text;
  text.outcome = Run(statement);
  if (text.outcome.status != DbStatus::kOk) return text;
  const std::optional<std::string>* value = nullptr;
  if (statement.find("ostra.dbo.sys_version") != std::string::npos) value = &productVersion;
  if (statement.find("dcname='29'") != std::string::npos) value = &platformFlag;
  if (statement.find("dcname='45'") != std::string::npos) value = &siteId;
  if (statement.find("velin.dbo.web_main") != std::string::npos) value = &webRoot;
  if (statement.find("velin.dbo.sys_version") != std::string::npos) value = &velinVersion;
  if (!value || !*value) return text;
  text.found = true;
  text.bytes = (*value)->substr(0, width - 1);
  text.overflowed = (*value)->size() > width - 1;
  return text;
}

DbPairs FakeDatabase::QueryUnsignedPairs(const std::string& statement) {
  DbPairs pairs;
  pairs.outcome = Run(statement);
  if (pairs.outcome.status != DbStatus::kOk) return pairs;
  pairs.rows = updateNumbers;
  std::stable_sort(pairs.rows.begin(), pairs.rows.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  return pairs;
}

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
