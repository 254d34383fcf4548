// The update dialog: the one owner of all state of an update run. Its operations run
// on the UI thread; the download worker touches only the download job's buffer and
// length counters and reports back through posted messages.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/update_hosts.h"
#include "platform/platform.h"
#include "ui/colour_list.h"

namespace ost {

constexpr size_t kReceiveBufferSize = 24000000;
constexpr size_t kUnpackBufferSize = 50000000;
constexpr int kServiceCount = 6;
constexpr uint32_t kAboutCommand = 0x0010;

// Byte widths of the fixed text fields, in the product's code page, terminator included.
constexpr size_t kHostWidth = 64;
constexpr size_t kPathWidth = 256;
constexpr size_t kConfigWidth = 32;
constexpr size_t kVersionTextWidth = 8;
constexpr size_t kNameWidth = 32;
constexpr size_t kDescriptionWidth = 256;

// What the download worker gets: where to fetch from, where the bytes go and how
// far it got.
struct DownloadJob {
  ThreadHandle downloadThread = 0;
  WindowPort* notifyWindow = nullptr;
  std::string updateHost;   // host name, optionally with ":port"
  std::string requestPath;  // path of the request line
  std::string targetPath;   // where the consumer writes the body; shown in progress texts
  uint8_t* receiveBuffer = nullptr;
  std::atomic<int32_t> expectedLength{0};  // written by the worker, read by the UI thread
  std::atomic<int32_t> receivedLength{0};
  int32_t downloadKind = 0;  // 0 manifest, 1-2 scripts, 3-8 components, 250 detail file
};

struct ServiceEntry {
  int32_t installedVersion = 0;
  int32_t availableVersion = 0;
  int32_t kind = 0;
  std::string displayName;
  std::string versionLabel;
  std::string description;
  std::string serviceName;
  std::string fileName;
  std::string installDir;
  int32_t stateBefore = 0;
  int32_t stopResult = 0;
  int32_t estimatedSeconds = 0;
  int32_t needsUpdate = 0;
};

struct ServerConfig {
  std::string dataSourceName = "ostra";
  std::string dbUser = "sa";
  std::string dbPassword;
  std::string serverIp = "127.0.0.1";
  int32_t sqlPort = 1433;
  // The update hosts ("name" or "name:port").
  std::string primaryHost = kPrimaryUpdateHost;
  std::string secondaryHost = kSecondaryUpdateHost;
};

struct DatabaseFacts {
  std::string versionText;
  int32_t velinEnabled = 0;
  std::string webSiteId;
  std::string cgiBinDir;
};

struct Versions {
  int32_t installedOstraVersion = 0;  // hundredths
  int32_t availableOstraVersion = 0;
  int32_t installedVelinVersion = 70;  // tenths
  int32_t availableVelinVersion = 0;
};

// State shared by the whole run beside the dialog's own.
struct RunFlags {
  int32_t updateRunning = 0;
  int32_t dbConnected = 0;
  void* dbEnvironment = nullptr;  // ODBC handles
  void* dbConnection = nullptr;
  int32_t libxlPresent = 0;
  int32_t ostDataPending = 0;
  int32_t redirectCount = 0;  // touched by the one running download worker only
};

enum class ButtonState { kChecking, kPlanOffered, kUpdating, kFinished };
enum class WriteOutcome { kWritten, kNotOpened, kFailed };

class UpdateDialog {
 public:
  // Construction: defaults, then the route file from programDir. The ports must
  // outlive the dialog.
  UpdateDialog(const Platform& platform, std::string programDir);
  ~UpdateDialog();
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Window life cycle.
  bool OnInitDialog();
  void OnClose();
  // True when handled; false asks the window for the default processing.
  bool OnSysCommand(uint32_t commandId);
  void OnStartClicked();
  void OnDownloadProgress(uintptr_t received, intptr_t flag);
  void OnDownloadDone(uintptr_t result, intptr_t lParam);
  // Routes a posted message to its handler; false for a message not ours.
  bool Dispatch(uint32_t msg, uintptr_t wParam, intptr_t lParam);

  // Check sequence.
  int RunCheckSequence();
  int RequestManifest();

  // Manifest, plan and the download chain.
  void EvaluateManifest();
  int CompareDetailFile(std::string_view line);
  void BuildPlan();
  std::string ConfirmationText() const;
  static std::string InstallFolderOf(const std::string& binaryPath);
  void StartNextDownload();
  bool ApplyEntryPackage();
  bool ApplyDetailFile();
  bool RunSqlScript();
  int LoadServerConfig();
  int OpenProductDatabase();
  void ReleaseProductDatabase();

  // Progress view.
  int InsertRow(int index, const std::string& stepText);
  void SetCell(int row, int column, const std::string& text);
  void SetStepStatus(const std::string& text, bool done);
  void SetRowColors(int row, Rgb text, Rgb back);
  void SetRowTag(int row, int32_t tag) { progressList.SetRowTag(row, tag); }
  int32_t GetRowTag(int row) const { return progressList.GetRowTag(row); }
  int RowCount() const { return progressList.list().ItemCount(); }
  void SetStatusLine(const std::string& text);
  void SetProgress(int percent);

  void SetButtonState(ButtonState state);
  void Beep(uint32_t hertz, uint32_t milliseconds) { platform_.system->Beep(hertz, milliseconds); }
  void FinishedBeeps();

  const Platform& platform() const { return platform_; }
  const std::string& programDir() const { return programDir_; }
  std::string RouteFilePath() const;

  // Download job.
  DownloadJob job;

  // Versions and what the check found.
  Versions versions;
  ServerConfig config;
  DatabaseFacts db;
  RunFlags run;

  // Plan and apply bookkeeping.
  int32_t velinEntry = -1;
  int32_t ostDataEntry = -1;
  int32_t webRow = -1;
  int32_t updateFound = 0;
  std::unique_ptr<uint8_t[]> receiveBuffer;
  std::unique_ptr<uint8_t[]> unpackBuffer;
  int32_t progressPercent = 0;
  int32_t failed = 0;
  int32_t closeOnClick = 1;
  int32_t inProgressHandler = 0;
  std::array<ServiceEntry, kServiceCount> serviceTable{};
  int32_t currentEntry = 0;
  std::vector<std::string> detailFiles;

  // Controls and the operator's choice.
  ColourList progressList;
  int32_t routeChoice = 0;
  int32_t currentRow = 0;
  int32_t headerRow = -1;  // the plan's header row, once the plan is built

 private:
  int StatementAllocationFailed();
  // Starts the download worker on the job as it stands.
  void StartDownloadWorker();
  void DownloadFailedBeeps();
  bool UnpackPackage(size_t* unpacked);
  WriteOutcome WriteUnpacked(const std::string& path, size_t size);

  Platform platform_;
  std::string programDir_;
};

}  // namespace ost
