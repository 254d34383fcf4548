#include "platform/memory/memory_files.h"

#include <algorithm>
#include <cstring>

namespace ost {

namespace {

class MemoryFile : public File {
 public:
  MemoryFile(MemoryFiles& files, std::string* content, bool writable)
      : files_(files), content_(content), writable_(writable) {}
  int64_t Read(void* data, size_t size) override {
    if (closed_) {
      files_.lastError = 9;  // EBADF
      return -1;
    }
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
  MemoryFiles& files_;
  std::string* content_;
  bool writable_;
  bool closed_ = false;
  size_t offset_ = 0;
};

}  // namespace

std::unique_ptr<File> MemoryFiles::OpenRead(const std::string& path) {
  opened.push_back(path);
  auto found = files.find(path);
  if (found == files.end()) {
    lastError = 2;  // ENOENT
    return nullptr;
  }
  return std::make_unique<MemoryFile>(*this, &found->second, false);
}

std::unique_ptr<File> MemoryFiles::CreateTruncate(const std::string& path) {
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

std::unique_ptr<File> MemoryFiles::CreateNew(const std::string& path) {
  if (files.count(path) > 0 || folders.count(path) > 0 || links.count(path) > 0) {
    opened.push_back(path);
    lastError = 17;  // EEXIST
    return nullptr;
  }
  return CreateTruncate(path);
}

std::unique_ptr<File> MemoryFiles::OpenAppend(const std::string& path) {
  opened.push_back(path);
  for (const std::string& folder : unwritableFolders) {
    if (path.compare(0, folder.size(), folder) == 0) {
      lastError = 13;
      return nullptr;
    }
  }
  return std::make_unique<MemoryFile>(*this, &files[path], true);
}

bool MemoryFiles::MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
    if (at > 2) folders.insert(path.substr(0, at));
  }
  folders.insert(path);
  return true;
}

bool MemoryFiles::ListFolder(const std::string& path, std::vector<std::string>* names) {
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

bool MemoryFiles::RemoveFolder(const std::string& path) {
  std::vector<std::string> names;
  if (!ListFolder(path, &names) || !names.empty()) return false;
  folders.erase(path);
  return true;
}

bool MemoryFiles::HasTemporaryFiles() const {
  return std::any_of(files.begin(), files.end(), [](const auto& file) {
    const std::string& name = file.first;
    return name.size() >= 8 && name.compare(name.size() - 8, 8, ".ost-new") == 0;
  });
}

bool MemoryFiles::Rename(const std::string& from, const std::string& to) {
  auto found = files.find(from);
  if (found == files.end() || unreplaceable.count(to) > 0) {
    lastError = found == files.end() ? 2 : 13;
    return false;
  }
  // A held target is tried again, as the port's contract says; no time passes here.
  auto hold = held.find(to);
  for (int attempt = 1; hold != held.end() && hold->second != 0; ++attempt) {
    if (hold->second > 0) --hold->second;
    if (attempt == kRenameTries) {
      lastError = 26;  // ETXTBSY
      return false;
    }
  }
  files[to] = found->second;
  files.erase(from);
  return true;
}

}  // namespace ost
