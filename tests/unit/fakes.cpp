#include "unit/fakes.h"

#include <algorithm>
#include <cstring>

#include "system/config_store.h"

namespace ost::testing {
namespace {

class MemoryFile : public File {
 public:
  MemoryFile(std::string* content, bool writable) : content_(content), writable_(writable) {}
  int64_t Read(void* data, size_t size) override {
    size_t n = std::min(size, content_->size() - offset_);
    std::memcpy(data, content_->data() + offset_, n);
    offset_ += n;
    return static_cast<int64_t>(n);
  }
  int64_t Write(const void* data, size_t size) override {
    if (!writable_) return -1;
    content_->append(static_cast<const char*>(data), size);
    return static_cast<int64_t>(size);
  }

 private:
  std::string* content_;
  bool writable_;
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
  std::string& content = files[path];
  content.clear();
  return std::make_unique<MemoryFile>(&content, true);
}

bool FakeFiles::Rename(const std::string& from, const std::string& to) {
  auto found = files.find(from);
  if (found == files.end()) return false;
  files[to] = found->second;
  files.erase(from);
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
}

UpdateDialog& Harness::MakeDialog() {
  dialog = std::make_unique<UpdateDialog>(platform, system.ProgramFolder());
  return *dialog;
}

UpdateDialog& Harness::OpenDialog() {
  MakeDialog().OnInitDialog();
  return *dialog;
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
