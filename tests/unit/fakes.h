// In-memory stand-ins for the platform ports, with knobs to make them fail.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
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
  std::vector<Posted> posted;
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

  std::map<std::string, Values> keys;  // HKLM paths only
  int openKeys = 0;

 private:
  std::map<RegistryKey, const Values*> handles_;
  RegistryKey next_ = 1;
};

class FakeFiles : public FilePort {
 public:
  std::unique_ptr<File> OpenRead(const std::string& path) override;
  std::unique_ptr<File> CreateTruncate(const std::string& path) override;
  bool Exists(const std::string& path) override { return files.count(path) > 0; }
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override { return files.erase(path) > 0; }
  std::string NativePath(const std::string& path) override { return path; }

  std::map<std::string, std::string> files;
  std::vector<std::string> opened;             // every path asked for, in order
  std::vector<std::string> unwritableFolders;  // CreateTruncate fails below these
  long long diskSpace = -1;                    // bytes a write may still add; -1: no limit
};

class FakeSystem : public SystemPort {
 public:
  ThreadHandle StartThread(std::function<void()> body) override {
    threads.push_back(std::move(body));
    return threads.size();
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

  std::vector<std::function<void()>> threads;  // started, not run
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  uint64_t slept = 0;
  std::string programFolder = "C:\\OSTRA\\";
  int failAllocationNumber = 0;  // fail the Nth allocation (1-based); 0: never
  int allocations = 0;
};

class FakeSockets : public SocketPort {
 public:
  bool Startup() override { return startupWorks; }
  SocketHandle CreateTcp() override { return kInvalidSocket; }
  bool ResolveIpv4(const std::string&, uint32_t*) override { return false; }
  bool SetSendTimeout(SocketHandle, uint32_t) override { return false; }
  bool SetReceiveTimeout(SocketHandle, uint32_t) override { return false; }
  bool SetNonBlocking(SocketHandle, bool) override { return false; }
  bool Connect(SocketHandle, uint32_t, uint16_t, uint32_t) override { return false; }
  int64_t Send(SocketHandle, const void*, size_t) override { return -1; }
  int64_t Receive(SocketHandle, void*, size_t) override { return -1; }
  int64_t Peek(SocketHandle, void*, size_t) override { return -1; }
  void Close(SocketHandle) override {}

  bool startupWorks = true;
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
  bool QueryBinaryPath(ServiceHandle service, size_t bufferSize, std::string* path) override;
  void Close(ServiceHandle) override { ++closed; }

  std::map<std::string, Service> services;
  std::vector<std::string> calls;  // "start X", "stop X"
  bool managerWorks = true;
  int opened = 0;
  int closed = 0;

 private:
  std::vector<std::string> handles_;
};

// Every port wired up, and the dialog made on demand.
struct Harness {
  Harness();
  UpdateDialog& MakeDialog();  // construction only
  UpdateDialog& OpenDialog();  // construction and initialisation

  // The state right after a successful check: buffers, rows 0 to 2, the manifest row
  // current.
  UpdateDialog& CheckedDialog();
  // The same state without the two large buffers, for callers that bring their own.
  UpdateDialog& CheckedDialogWithoutBuffers();
  // Hands body to the dialog as a finished download.
  void Deliver(const std::string& body);

  // Stores the configuration as the product's setup does.
  void WriteConfig(const std::string& dsn, const std::string& password, const std::string& user);

  FakeWindow window;
  MemoryReportList list;
  MemoryControls controls;
  FakeSockets sockets;
  FakeRegistry registry;
  FakeFiles files;
  FakeSystem system;
  FakeServices services;
  Platform platform;
  std::unique_ptr<UpdateDialog> dialog;
};

}  // namespace ost::testing
