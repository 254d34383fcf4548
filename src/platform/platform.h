// The set of providers one run of the tool works with; each outlives the run.
#pragma once

#include "platform/crypto_port.h"
#include "platform/database_port.h"
#include "platform/file_port.h"
#include "platform/registry_port.h"
#include "platform/services_port.h"
#include "platform/socket_port.h"
#include "platform/system_port.h"
#include "platform/view_port.h"
#include "platform/window_port.h"

namespace ost {

struct Platform {
  WindowPort* window = nullptr;
  ReportList* list = nullptr;
  DialogControls* controls = nullptr;
  SocketPort* sockets = nullptr;
  RegistryPort* registry = nullptr;
  ServicesPort* services = nullptr;
  FilePort* files = nullptr;
  SystemPort* system = nullptr;
  // The product database the run connects to (OdbcDatabase in both builds).
  ProductDatabase* database = nullptr;
  // SHA-256 and signature checks; none: a release signed by its maker cannot be checked.
  CryptoPort* crypto = nullptr;
};

}  // namespace ost
