// Files on Linux, under the machine root's drive folders.
#pragma once

#include "platform/file_port.h"
#include "platform/posix/machine_root.h"

namespace ost {

class PosixFiles : public FilePort {
 public:
  explicit PosixFiles(const MachineRoot& root);

  std::unique_ptr<File> OpenRead(const std::string& path) override;
  std::unique_ptr<File> CreateTruncate(const std::string& path) override;
  std::unique_ptr<File> CreateNew(const std::string& path) override;
  bool Exists(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  std::string NativePath(const std::string& path) override { return root_.Map(path); }
  int LastError() override;

 private:
  const MachineRoot& root_;
};

}  // namespace ost
