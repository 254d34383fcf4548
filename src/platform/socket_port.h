// TCP client sockets, shaped after the calls the HTTP getter makes so that its
// result codes stay exact. Used from the download worker thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ost {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

class SocketPort {
 public:
  virtual ~SocketPort() = default;

  // Starts the sockets layer once per process (Winsock 2.2); false on failure.
  virtual bool Startup() = 0;

  virtual SocketHandle CreateTcp() = 0;  // kInvalidSocket on failure
  // First IPv4 address of host, in network byte order; false when it cannot be resolved.
  virtual bool ResolveIpv4(const std::string& host, uint32_t* address) = 0;
  virtual bool SetSendTimeout(SocketHandle s, uint32_t milliseconds) = 0;
  virtual bool SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) = 0;
  virtual bool SetNonBlocking(SocketHandle s, bool on) = 0;
  // Starts a connection and waits for it at most waitMilliseconds; true when established.
  virtual bool Connect(SocketHandle s, uint32_t address, uint16_t port,
                       uint32_t waitMilliseconds) = 0;
  // Bytes sent, or -1.
  virtual int64_t Send(SocketHandle s, const void* data, size_t size) = 0;
  // Bytes received, 0 when the peer closed, -1 on error or time-out.
  virtual int64_t Receive(SocketHandle s, void* data, size_t size) = 0;
  // Like Receive, but the bytes stay queued for the next Receive.
  virtual int64_t Peek(SocketHandle s, void* data, size_t size) = 0;
  virtual void Close(SocketHandle s) = 0;
};

}  // namespace ost
