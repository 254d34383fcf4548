#include "frontend/posix_machine.h"

namespace ost {
namespace {

const MachineRoot& Prepared(const MachineRoot& root) {
  root.UseOdbcConfiguration();
  return root;
}

}  // namespace

PosixMachine::PosixMachine(const std::string& rootDir)
    : root(rootDir),
      files(Prepared(root)),
      registry(root.RegistryFile()),
      services(root.ServicesFile()),
      system(root.ProgramDir(), root.root()) {}

Platform PosixMachine::Providers() {
  Platform platform;
  platform.sockets = &sockets;
  platform.registry = &registry;
  platform.services = &services;
  platform.files = &files;
  platform.system = &system;
  platform.database = &database;
  return platform;
}

}  // namespace ost
