// The file port in memory: files by their Windows path, with knobs that make writes,
// closes and renames fail as a full disk or a held file would.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file_port.h"

namespace ost {

class MemoryFiles : public FilePort {
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
  // Rename onto these is refused this many more times (-1: always), as while a program
  // holds the file.
  std::map<std::string, int> held;
  std::vector<std::string> elsewhere;  // paths below these lead through a junction
  // True when a file of this name ends in ".ost-new" (a temporary file left behind).
  bool HasTemporaryFiles() const;
  long long diskSpace = -1;  // bytes a write may still add; -1: no limit
  bool failClose = false;    // a written file's close reports failure
  int lastError = 0;
};

}  // namespace ost
