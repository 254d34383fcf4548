#include "unit/fakes.h"

#include <algorithm>
#include <cstring>

#include "system/config_store.h"

namespace ost::testing {
namespace {

class MemoryFile : public File {
 public:
  MemoryFile(std::string* content, bool writable, long long* space = nullptr)
      : content_(content), writable_(writable), space_(space) {}
  int64_t Read(void* data, size_t size) override {
    size_t n = std::min(size, content_->size() - offset_);
    std::memcpy(data, content_->data() + offset_, n);
    offset_ += n;
    return static_cast<int64_t>(n);
  }
  int64_t Write(const void* data, size_t size) override {
    if (!writable_) return -1;
    if (space_ && *space_ >= 0 && static_cast<long long>(size) > *space_) {
      size = static_cast<size_t>(*space_);  // the disk fills up midway
    }
    content_->append(static_cast<const char*>(data), size);
    if (space_ && *space_ >= 0) *space_ -= static_cast<long long>(size);
    return static_cast<int64_t>(size);
  }

 private:
  std::string* content_;
  bool writable_;
  long long* space_;
  size_t offset_ = 0;
};

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

std::unique_ptr<File> FakeFiles::OpenRead(const std::string& path) {
  opened.push_back(path);
  auto found = files.find(path);
  if (found == files.end()) return nullptr;
  return std::make_unique<MemoryFile>(&found->second, false);
}

std::unique_ptr<File> FakeFiles::CreateTruncate(const std::string& path) {
  opened.push_back(path);
  for (const std::string& folder : unwritableFolders) {
    if (path.compare(0, folder.size(), folder) == 0) return nullptr;
  }
  std::string& content = files[path];
  content.clear();
  return std::make_unique<MemoryFile>(&content, true, &diskSpace);
}

bool FakeFiles::Rename(const std::string& from, const std::string& to) {
  auto found = files.find(from);
  if (found == files.end()) return false;
  files[to] = found->second;
  files.erase(from);
  return true;
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
  if (s.refuseStop) return false;
  s.state = s.pendingPolls > 0 ? 3 : 1;
  *state = s.state;
  return true;
}

bool FakeServices::QueryBinaryPath(ServiceHandle service, size_t bufferSize, std::string* path) {
  const Service& s = services[handles_.at(service - 100)];
  if (s.binaryPath.size() + 64 > bufferSize) return false;
  *path = s.binaryPath;
  return true;
}

Harness::Harness() {
  platform.window = &window;
  platform.list = &list;
  platform.controls = &controls;
  platform.sockets = &sockets;
  platform.registry = &registry;
  platform.files = &files;
  platform.system = &system;
  platform.services = &services;
}

UpdateDialog& Harness::MakeDialog() {
  dialog = std::make_unique<UpdateDialog>(platform, system.ProgramFolder());
  return *dialog;
}

UpdateDialog& Harness::OpenDialog() {
  MakeDialog().OnInitDialog();
  return *dialog;
}

UpdateDialog& Harness::CheckedDialog() {
  UpdateDialog& d = CheckedDialogWithoutBuffers();
  d.receiveBuffer = system.AllocateBuffer(kReceiveBufferSize + 1);
  d.unpackBuffer = system.AllocateBuffer(kUnpackBufferSize + 1);
  d.job.receiveBuffer = d.receiveBuffer.get();
  return d;
}

UpdateDialog& Harness::CheckedDialogWithoutBuffers() {
  UpdateDialog& d = MakeDialog();
  d.SetButtonState(ButtonState::kChecking);
  d.progressList.EnableRowRecords(true);
  d.job.notifyWindow = &window;
  for (ServiceEntry& entry : d.serviceTable) entry.stopResult = 1;
  for (int row = 0; row < 3; ++row) d.InsertRow(row, std::to_string(row + 1));
  d.currentRow = 2;
  d.versions.installedOstraVersion = 380;
  d.versions.installedVelinVersion = 70;
  d.db.versionText = "3.80";
  d.db.velinEnabled = 1;
  d.db.webSiteId = "site";
  d.db.cgiBinDir = "D:\\wwwroot\\cgi-bin";
  return d;
}

void Harness::Deliver(const std::string& body) {
  UpdateDialog& d = *dialog;
  std::memcpy(d.receiveBuffer.get(), body.data(), body.size());
  d.receiveBuffer[body.size()] = 0;
  d.job.expectedLength = static_cast<int32_t>(body.size());
  d.job.receivedLength = static_cast<int32_t>(body.size());
  d.OnDownloadDone(0, 0);
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
