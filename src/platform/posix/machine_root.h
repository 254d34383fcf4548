// The folder that stands for the server machine on Linux, and how the product's
// Windows paths map into it ("D:\wwwroot\x" is ROOT/drives/d/wwwroot/x).
#pragma once

#include <string>
#include <string_view>

namespace ost {

class MachineRoot {
 public:
  // root is made absolute; it need not exist yet.
  explicit MachineRoot(std::string root);

  const std::string& root() const { return root_; }
  std::string RegistryFile() const { return root_ + "/registry.reg"; }
  std::string ServicesFile() const { return root_ + "/services.json"; }
  std::string DrivesDir() const { return root_ + "/drives"; }
  std::string DatabaseDir() const { return root_ + "/db"; }
  std::string OdbcDir() const { return root_ + "/odbc"; }
  std::string HostDir() const { return root_ + "/host"; }
  // The tool's own folder, ending in '/'.
  std::string ProgramDir() const { return root_ + "/program/"; }

  // Maps a path as the core names it to a native path:
  //  - "X:\a\b" (or with '/') goes to ROOT/drives/x/a/b; "." parts are dropped and
  //    a ".." that would climb above the drive makes the path unmappable;
  //  - a native path inside the root (the tool's own folder) stays there;
  //  - anything else (another host path, a relative, rooted or network path) names
  //    nothing on this machine.
  // Returns an empty string for a path that cannot be mapped.
  std::string Map(std::string_view path) const;

  // Points the ODBC driver manager at this machine's configuration (DIR/odbc) when
  // the folder exists. Call before the first ODBC call of the process.
  void UseOdbcConfiguration() const;

  // Takes the system code page from the registry substitute, where Windows keeps it
  // (HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage, "ACP"); GBK without it.
  void UseSystemCodePage() const;

 private:
  std::string root_;
};

}  // namespace ost
