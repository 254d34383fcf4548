// The providers of a Linux machine root, wired together for a front end.
#pragma once

#include <string>

#include "db/product_database.h"
#include "platform/platform.h"
#include "platform/posix/machine_root.h"
#include "platform/posix/openssl_crypto.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"

namespace ost {

struct PosixMachine {
  // Also points the ODBC driver manager at the root's configuration.
  explicit PosixMachine(const std::string& rootDir);

  // The providers of this machine; a front end adds its window, list and controls.
  Platform Providers();

  MachineRoot root;
  PosixFiles files;
  PosixRegistry registry;
  PosixSockets sockets;
  PosixServices services;
  PosixSystem system;
  OdbcDatabase database;
  OpenSslCrypto crypto;
};

}  // namespace ost
