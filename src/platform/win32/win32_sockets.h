// TCP client sockets over Winsock 2.2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/socket_port.h"

namespace ost {

class Win32Sockets : public SocketPort {
 public:
  Win32Sockets() = default;
  // Releases Winsock when Startup succeeded.
  ~Win32Sockets() override;
  Win32Sockets(const Win32Sockets&) = delete;
  Win32Sockets& operator=(const Win32Sockets&) = delete;

  bool Startup() override;
  SocketHandle CreateTcp() override;
  bool ResolveIpv4(const std::string& host, uint32_t* address) override;
  bool SetSendTimeout(SocketHandle s, uint32_t milliseconds) override;
  bool SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) override;
  bool SetNonBlocking(SocketHandle s, bool on) override;
  bool Connect(SocketHandle s, uint32_t address, uint16_t port, uint32_t waitMilliseconds) override;
  int64_t Send(SocketHandle s, const void* data, size_t size) override;
  int64_t Receive(SocketHandle s, void* data, size_t size) override;
  int64_t Peek(SocketHandle s, void* data, size_t size) override;
  void Close(SocketHandle s) override;

 private:
  bool started_ = false;
};

}  // namespace ost
