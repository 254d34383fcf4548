// The providers of a Windows machine, wired together: this build's Platform. A front end
// adds its window, list and controls to a copy.
#pragma once

#include "platform/odbc/odbc_database.h"
#include "platform/platform.h"
#include "platform/win32/cng_crypto.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_sockets.h"
#include "platform/win32/win32_system.h"

namespace ost {

// Not copyable: the ports point at the providers it owns.
class Win32Platform : public Platform {
 public:
  Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

 private:
  Win32Sockets sockets_;
  Win32Registry registry_;
  Win32Services services_;
  Win32Files files_;
  Win32System system_;
  OdbcDatabase database_;
  CngCrypto crypto_;
};

}  // namespace ost
