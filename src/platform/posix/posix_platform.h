// The providers of a Linux machine root, wired together: this build's Platform. A front
// end adds its window, list and controls to a copy.
#pragma once

#include <string>

#include "platform/odbc/odbc_database.h"
#include "platform/platform.h"
#include "platform/posix/machine_root.h"
#include "platform/posix/openssl_crypto.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"

namespace ost {

// Not copyable: the ports point at the providers it owns. A front end copies the
// Platform part and adds its window, list and controls.
class PosixPlatform : public Platform {
 public:
  // Also points the ODBC driver manager at the root's configuration.
  explicit PosixPlatform(const std::string& rootDir);
  PosixPlatform(const PosixPlatform&) = delete;
  PosixPlatform& operator=(const PosixPlatform&) = delete;

  const MachineRoot& root() const { return root_; }

 private:
  MachineRoot root_;
  PosixFiles files_;
  PosixRegistry registry_;
  PosixSockets sockets_;
  PosixServices services_;
  PosixSystem system_;
  OdbcDatabase database_;
  OpenSslCrypto crypto_;
};

}  // namespace ost
