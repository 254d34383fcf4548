// Files through the Windows wide-character functions; paths arrive as UTF-8.
#pragma once

#include <memory>
#include <string>

#include "platform/file_port.h"

namespace ost {

class Win32Files : public FilePort {
 public:
  std::unique_ptr<File> OpenRead(const std::string& path) override;
  std::unique_ptr<File> CreateTruncate(const std::string& path) override;
  std::unique_ptr<File> CreateNew(const std::string& path) override;
  std::unique_ptr<File> OpenAppend(const std::string& path) override;
  bool Exists(const std::string& path) override;
  int64_t FileSize(const std::string& path) override;
  bool MakeFolders(const std::string& path) override;
  bool ListFolder(const std::string& path, std::vector<std::string>* names) override;
  bool RemoveFolder(const std::string& path) override;
  bool IsLink(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  bool IsLocalFixedPath(const std::string& path) override;
  std::string NativePath(const std::string& path) override;
  int LastError() override;
};

}  // namespace ost
