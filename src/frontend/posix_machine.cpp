#include "frontend/posix_machine.h"

#include <fstream>
#include <iterator>

#include <vector>

#include "util/text.h"

namespace ost {
namespace {

const MachineRoot& Prepared(const MachineRoot& root) {
  root.UseOdbcConfiguration();
  root.UseSystemCodePage();
  return root;
}

// The file's name, any case, is one of the web DLLs the web server loads.
bool IsWebDll(const std::string& native) {
  const std::string name = AsciiUpper(native.substr(native.rfind('/') + 1));
  return name == "VELIN.DLL" || name == "OSTDATA.DLL";
}

}  // namespace

PosixMachine::PosixMachine(const std::string& rootDir)
    : root(rootDir),
      files(Prepared(root)),
      registry(root.RegistryFile()),
      services(root.ServicesFile()),
      system(root.ProgramDir(), root.root()) {
  system.SetRegistry(&registry);
  // The running services' programs and the web server's DLLs are held, as on Windows.
  files.SetInUseCheck([this](const std::string& native) {
    std::vector<ServiceRecord> records;
    std::string error;
    if (!ReadServicesFile(root.ServicesFile(), &records, &error)) return false;
    const ProgramsInUse inUse = ProgramsInUseAt(records, WallClockMs());
    if (inUse.webServerAlive && IsWebDll(native)) return true;
    for (const std::string& program : inUse.programs) {
      if (root.Map(program) == native) return true;
    }
    return false;
  });
  // A program may carry a marker that makes it fail as a broken build would.
  services.SetProgramReader([this](const std::string& binaryPath) {
    std::string path = binaryPath;
    if (!path.empty() && path.front() == '"') path = path.substr(1, path.find('"', 1) - 1);
    std::ifstream in(root.Map(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
}

Platform PosixMachine::Providers() {
  Platform platform;
  platform.sockets = &sockets;
  platform.registry = &registry;
  platform.services = &services;
  platform.files = &files;
  platform.system = &system;
  platform.database = &database;
  platform.crypto = &crypto;
  return platform;
}

}  // namespace ost
