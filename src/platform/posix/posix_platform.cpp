#include "platform/posix/posix_platform.h"

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

PosixPlatform::PosixPlatform(const std::string& rootDir)
    : root_(rootDir),
      files_(Prepared(root_)),
      registry_(root_.RegistryFile()),
      services_(root_.ServicesFile()),
      system_(root_.ProgramDir(), root_.root()) {
  sockets = &sockets_;
  registry = &registry_;
  services = &services_;
  files = &files_;
  system = &system_;
  database = &database_;
  crypto = &crypto_;
  system_.SetRegistry(&registry_);
  // The running services' programs and the web server's DLLs are held, as on Windows.
  files_.SetInUseCheck([this](const std::string& native) {
    std::vector<ServiceRecord> records;
    std::string error;
    if (!ReadServicesFile(root_.ServicesFile(), &records, &error)) return false;
    const ProgramsInUse inUse = ProgramsInUseAt(records, WallClockMs());
    if (inUse.webServerAlive && IsWebDll(native)) return true;
    for (const std::string& program : inUse.programs) {
      if (root_.Map(program) == native) return true;
    }
    return false;
  });
  // A program may carry a marker that makes it fail as a broken build would.
  services_.SetProgramReader([this](const std::string& binaryPath) {
    std::string path = binaryPath;
    if (!path.empty() && path.front() == '"') path = path.substr(1, path.find('"', 1) - 1);
    std::ifstream in(root_.Map(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
}

}  // namespace ost
