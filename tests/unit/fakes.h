// In-memory stand-ins for the platform's providers, with knobs to make them fail, and
// a harness that drives the update dialog through its operations only: the check
// runs against a fake registry and database, downloads run the real HTTP getter
// against a fake update host, and their messages reach the dialog as a window's
// queue would hand them over.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/update_dialog.h"
#include "platform/platform.h"
#include "ui/memory_view.h"

namespace ost::testing {

struct ShownBox {
  std::string text;
  std::string caption;
  BoxButtons buttons;
  BoxIcon icon;
};

class FakeWindow : public WindowPort {
 public:
  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    posted.push_back({msg, wParam, lParam});
  }
  void PostQuit() override { ++quitRequests; }
  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxButtons buttons,
                           BoxIcon icon) override {
    boxes.push_back({text, caption, buttons, icon});
    return buttons == BoxButtons::kYesNo ? yesNoAnswer : BoxAnswer::kOk;
  }
  void ShowAboutBox() override { ++aboutBoxes; }
  bool AppendSystemMenuItem(uint32_t commandId, const std::string& text) override {
    menuItems.push_back({commandId, text});
    return true;
  }
  void SetWindowIcon() override { iconSet = true; }
  void EndDialog() override { ++endDialogs; }

  struct Posted {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::deque<Posted> posted;  // not yet handed to the dialog
  std::vector<ShownBox> boxes;
  std::vector<std::pair<uint32_t, std::string>> menuItems;
  BoxAnswer yesNoAnswer = BoxAnswer::kNo;
  int quitRequests = 0;
  int aboutBoxes = 0;
  int endDialogs = 0;
  bool iconSet = false;
};

// Registry keys as maps of raw value bytes.
class FakeRegistry : public RegistryPort {
 public:
  using Values = std::map<std::string, std::vector<uint8_t>>;

  void SetValue(const std::string& key, const std::string& name, std::vector<uint8_t> data) {
    keys[key][name] = std::move(data);
  }
  void SetString(const std::string& key, const std::string& name, const std::string& text);
  void SetDword(const std::string& key, const std::string& name, uint32_t value);

  long OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::string& name, uint8_t* data, uint32_t* size) override;
  long CloseKey(RegistryKey key) override;
  long SetStringValue(RegistryRoot root, const std::string& path, const std::string& name,
                      const std::string& value) override;

  std::map<std::string, Values> keys;  // HKLM paths only
  int openKeys = 0;
  long setStatus = kRegSuccess;  // what SetStringValue answers; it writes only on success

 private:
  std::map<RegistryKey, const Values*> handles_;
  RegistryKey next_ = 1;
};

class FakeFiles : public FilePort {
 public:
  std::unique_ptr<File> OpenRead(const std::string& path) override;
  std::unique_ptr<File> CreateTruncate(const std::string& path) override;
  std::unique_ptr<File> CreateNew(const std::string& path) override;
  std::unique_ptr<File> OpenAppend(const std::string& path) override;
  bool Exists(const std::string& path) override {
    return files.count(path) > 0 || folders.count(path) > 0;
  }
  int64_t FileSize(const std::string& path) override {
    auto found = files.find(path);
    return found == files.end() ? -1 : static_cast<int64_t>(found->second.size());
  }
  bool MakeFolders(const std::string& path) override;
  bool ListFolder(const std::string& path, std::vector<std::string>* names) override;
  bool RemoveFolder(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override { return files.erase(path) > 0; }
  bool IsLocalFixedPath(const std::string& path) override {
    for (const std::string& folder : elsewhere) {
      if (path.compare(0, folder.size(), folder) == 0) return false;
    }
    return true;
  }
  std::string NativePath(const std::string& path) override { return path; }
  PathKind Kind(const std::string& path) override {
    if (links.count(path) > 0) return PathKind::kLink;
    if (files.count(path) > 0) return PathKind::kFile;
    return folders.count(path) > 0 ? PathKind::kFolder : PathKind::kMissing;
  }
  bool MakePrivateFolder(const std::string& path) override {
    if (links.count(path) > 0 || files.count(path) > 0) return false;
    folders.insert(path);
    return true;
  }
  int LastError() override { return lastError; }

  std::map<std::string, std::string> files;
  std::set<std::string> links;      // names that are links (what they lead to is not kept)
  std::set<std::string> folders;    // made by MakeFolders (a file's folder needs none)
  std::vector<std::string> opened;  // every path asked for, in order
  std::vector<std::string> unwritableFolders;  // nothing can be written below these
  std::vector<std::string> closedFolders;      // no new file below these; old ones can be
  std::set<std::string> unreplaceable;         // Rename onto these fails
  std::vector<std::string> elsewhere;          // paths below these lead through a junction
  // True when a file of this name ends in ".ost-new" (a temporary file left behind).
  bool HasTemporaryFiles() const;
  long long diskSpace = -1;  // bytes a write may still add; -1: no limit
  bool failClose = false;    // a written file's close reports failure
  int lastError = 0;
};

class FakeSystem : public SystemPort {
 public:
  ThreadHandle StartThread(std::function<void()> body) override {
    if (refuseThreads) return 0;
    threads.push_back(std::move(body));
    return ++started;
  }
  void Sleep(uint32_t milliseconds) override { slept += milliseconds; }
  void Beep(uint32_t hertz, uint32_t milliseconds) override {
    beeps.push_back({hertz, milliseconds});
  }
  std::string ProgramFolder() override { return programFolder; }
  std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size) override {
    if (failAllocationNumber > 0 && ++allocations == failAllocationNumber) return nullptr;
    return std::unique_ptr<uint8_t[]>(new uint8_t[size]);
  }
  bool LockMachine() override { return !lockedElsewhere; }
  uint64_t MonotonicMilliseconds() override { return now; }
  LocalTime Now() override { return localTime; }
  int64_t UtcSeconds() override { return utcSeconds; }
  std::string MachineName() override { return "OSTRA-SRV"; }

  std::deque<std::function<void()>> threads;  // started, not run yet
  ThreadHandle started = 0;
  bool refuseThreads = false;
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  uint64_t slept = 0;
  std::string programFolder = "C:\\OSTRA\\";
  int failAllocationNumber = 0;  // fail the Nth allocation (1-based); 0: never
  int allocations = 0;
  bool lockedElsewhere = false;  // another run holds the machine
  uint64_t now = 0;              // the monotonic clock
  LocalTime localTime{2026, 12, 9, 10, 30, 5, 250};
  int64_t utcSeconds = 1796819405;  // 2026-12-09 10:30:05 UTC
};

// An update host in memory: the HTTP getter's sockets reach it, it reads the request
// and answers with a body (200, with its length), with raw bytes, or with 404.
class FakeHttpHost : public SocketPort {
 public:
  bool Startup() override { return startupWorks; }
  SocketHandle CreateTcp() override;
  bool ResolveIpv4(const std::string& host, uint32_t* address) override;
  bool SetSendTimeout(SocketHandle, uint32_t) override { return true; }
  bool SetReceiveTimeout(SocketHandle, uint32_t) override { return true; }
  bool SetNonBlocking(SocketHandle, bool) override { return true; }
  bool Connect(SocketHandle s, uint32_t address, uint16_t port, uint32_t waitMs) override;
  int64_t Send(SocketHandle s, const void* data, size_t size) override;
  int64_t Receive(SocketHandle s, void* data, size_t size) override;
  int64_t Peek(SocketHandle s, void* data, size_t size) override;
  void Close(SocketHandle s) override { connections_.erase(s); }

  bool startupWorks = true;
  bool refuseConnections = false;              // every connect fails (code 6)
  std::map<std::string, std::string> bodies;   // by request path
  std::map<std::string, std::string> answers;  // whole answers by request path
  std::vector<std::string> requests;           // "host:port path", in order
  std::string lastRequest;                     // the last request's bytes

 private:
  struct Connection {
    std::string host;
    uint16_t port = 0;
    std::string request;
    std::string answer;
    size_t at = 0;
  };
  std::map<SocketHandle, Connection> connections_;
  std::map<uint32_t, std::string> names_;
  SocketHandle next_ = 3;
};

// Services by name; pending states settle after a number of polls.
class FakeServices : public ServicesPort {
 public:
  struct Service {
    int32_t state = 4;
    std::string binaryPath;
    int pendingPolls = 0;  // queries that still report the pending state
    bool refuseStart = false;
    bool refuseStop = false;
    bool startEndsStopped = false;
    bool ownProcess = false;              // runs in a process of its own while not stopped
    bool processEnds = true;              // that process ends within the wait
    std::vector<std::string> dependents;  // running; they make a stop fail
  };

  ServiceHandle OpenManager(ManagerAccess) override {
    if (!managerWorks) return 0;
    ++opened;
    return 1;
  }
  ServiceHandle OpenServiceNamed(ServiceHandle, const std::string& name, ServiceAccess) override;
  bool QueryState(ServiceHandle service, int32_t* state) override;
  bool Start(ServiceHandle service) override;
  bool Stop(ServiceHandle service, int32_t* state) override;
  bool QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) override;
  void Close(ServiceHandle) override { ++closed; }
  ProcessHandle OpenOwnProcess(ServiceHandle service) override;
  bool WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) override;
  void CloseProcess(ProcessHandle) override { ++closedProcesses; }
  std::vector<std::string> ActiveDependents(ServiceHandle service) override;

  std::map<std::string, Service> services;
  std::vector<std::string> calls;  // "start X", "stop X", "wait X 20000"
  bool managerWorks = true;
  int opened = 0;
  int closed = 0;
  int closedProcesses = 0;

 private:
  std::vector<std::string> handles_;
  std::vector<std::string> processes_;
};

// The product database as the check reads it, and a record of every statement.
class FakeDatabase : public ProductDatabase {
 public:
  OpenResult Open(const std::string& dataSource, const std::string& user,
                  const std::string& password) override;
  bool connected() const override { return connected_; }
  void Close() override {
    if (connected_) ++closes;
    connected_ = false;
  }
  DbOutcome Execute(const std::string& statement) override { return Run(statement); }
  DbOutcome ExecuteRaw(std::string_view statement) override { return Run(std::string(statement)); }
  DbText QueryText(const std::string& statement, size_t width) override;
  DbPairs QueryUnsignedPairs(const std::string& statement) override;
  // Recorded among the statements as "BEGIN TRANSACTION", "COMMIT" and "ROLLBACK".
  DbOutcome BeginTransaction() override { return Run("BEGIN TRANSACTION"); }
  DbOutcome EndTransaction(bool commit) override { return Run(commit ? "COMMIT" : "ROLLBACK"); }

  // What the database holds; an empty optional is no row.
  std::optional<std::string> productVersion = "3.80";
  std::vector<std::pair<uint32_t, uint32_t>> updateNumbers = {{0, 10}, {1, 10}, {2, 10},
                                                              {3, 10}, {4, 10}, {5, 10}};
  std::optional<std::string> platformFlag = "1";  // dictionary '29'
  std::optional<std::string> siteId = "site";     // dictionary '45'
  std::optional<std::string> webRoot = "D:\\wwwroot";
  std::optional<std::string> velinVersion = "7.0";

  std::string password = "secret";  // a login with another is refused
  std::optional<ProductDatabase::OpenFailure> openFailure;
  std::vector<std::string> failing;  // a statement holding one of these fails
  int handlesLeft = -1;              // statement handles still to be had; -1: no limit

  std::vector<std::string> statements;  // every statement, in order
  std::vector<std::string> logins;      // "source user password"
  int closes = 0;

 private:
  DbOutcome Run(const std::string& statement);
  bool connected_ = false;
};

// What the dialog reported to its observer, one line per event.
class RecordingObserver : public RunObserver {
 public:
  void OnConfigRead(const ConfigRead& read, const ServerConfig& config) override;
  void OnInstallationRead(const InstallationFacts& facts, const ReadOutcome& outcome) override;
  void OnDownloadDone(const DownloadReport& report) override;
  void OnPlanBuilt(const Plan& plan, const ServiceTable& table) override;
  void OnServiceEvent(const ServiceEvent& event) override;
  void OnFileWritten(const PlanStep& step, ByteSpan content, const WriteReport& report) override;
  void OnBatchFailed(const BatchFailure& failure) override;
  void OnComponentRecorded(const PlanStep& step, const DbOutcome& outcome) override;
  void OnPhaseChanged(RunPhase phase, const std::string& reason) override;
  void OnBackupsUnavailable(const std::string& why) override {
    lines.push_back("no backups: " + why);
  }

  // The lines that start with prefix.
  std::vector<std::string> With(const std::string& prefix) const;

  std::vector<std::string> lines;
};

// A manifest as the update host publishes it (LF line ends unless given).
std::string ManifestText(const std::string& versions, const std::vector<std::string>& rows,
                         const std::string& tail = "--END--\n");

// A zlib stream of data, as packages are.
std::string Compress(const std::string& data);

// Every port wired up on a machine laid out as the product's server: the configuration
// in the registry, the database at 3.80 with every component at update 10 and the web
// platform in D:\wwwroot, five running services in C:\OSTRA, the two web DLLs.
struct Harness {
  Harness();

  UpdateDialog& MakeDialog();  // construction only
  UpdateDialog& OpenDialog();  // construction and initialisation: the check runs
  // The check to its end on this manifest: the dialog offers a plan, or not.
  UpdateDialog& Check(const std::string& manifest);
  // Confirms (or declines) at the start button and runs the update to its end.
  void Click(bool confirm = true);

  // Runs the downloads that wait and hands their messages to the dialog, until none
  // is left.
  void Pump();
  // Runs the downloads that wait; their messages stay queued.
  void RunDownloads();
  // Hands the next queued message to the dialog; false when none is queued.
  bool DispatchNext();

  // The package at kUpdatePath + name holds content, compressed.
  void ServePackage(const std::string& name, const std::string& content);

  // Stores the configuration as the product's setup does.
  void WriteConfig(const std::string& dsn, const std::string& password, const std::string& user);

  std::string Cell(int row, int column) const { return list.GetItemText(row, column); }
  Rgb Colour(int row) const;

  FakeWindow window;
  MemoryReportList list;
  MemoryControls controls;
  FakeHttpHost host;
  FakeRegistry registry;
  FakeFiles files;
  FakeSystem system;
  FakeServices services;
  FakeDatabase database;
  RecordingObserver events;
  Platform platform;
  std::unique_ptr<UpdateDialog> dialog;
};

}  // namespace ost::testing
