// The in-memory providers (src/platform/memory) under the names the tests know them by,
// and a harness that drives the update dialog through its operations only: the check
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
#include "platform/memory/memory_database.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/memory_services.h"
#include "platform/memory/memory_sockets.h"
#include "platform/memory/memory_system.h"
#include "platform/memory/memory_window.h"
#include "platform/platform.h"
#include "ui/memory_view.h"

namespace ost::testing {

using FakeWindow = MemoryWindow;
using FakeRegistry = MemoryRegistry;
using FakeFiles = MemoryFiles;
using FakeSystem = MemorySystem;
using FakeHttpHost = MemoryHttpHost;
using FakeServices = MemoryServices;
using FakeDatabase = MemoryDatabase;

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
