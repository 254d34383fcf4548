#include "platform/win32/win32_platform.h"

namespace ost {

Win32Platform::Win32Platform() {
  sockets = &sockets_;
  registry = &registry_;
  services = &services_;
  files = &files_;
  system = &system_;
  database = &database_;
  crypto = &crypto_;
}

}  // namespace ost
