// Files on Linux, under the machine root's drive folders.
#pragma once

#include <functional>
#include <string>

#include "platform/file_port.h"
#include "platform/posix/machine_root.h"

namespace ost {

class PosixFiles : public FilePort {
 public:
  explicit PosixFiles(const MachineRoot& root);

  // Tells, for a native path, whether a running program holds the file, as Windows
  // holds a running service's program and a loaded DLL: it cannot then be written,
  // replaced or deleted (ETXTBSY), though it can still be renamed away.
  void SetInUseCheck(std::function<bool(const std::string& native)> inUse) {
    inUse_ = std::move(inUse);
  }

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
  // A drive is fixed when the machine root has its folder; the path's final form is
  // what realpath makes of its deepest existing part.
  bool IsLocalFixedPath(const std::string& path) override;
  std::string NativePath(const std::string& path) override { return root_.Map(path); }
  int LastError() override;

 private:
  // True, with errno set, when the file at this native path is held.
  bool Held(const std::string& native) const;

  const MachineRoot& root_;
  std::function<bool(const std::string&)> inUse_;
};

}  // namespace ost
