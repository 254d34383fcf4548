// The socket port in memory, with an update host behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/socket_port.h"

namespace ost {

// An update host in memory: the HTTP getter's sockets reach it, it reads the request
// and answers with a body (200, with its length), with raw bytes, or with 404. In
// streaming mode every connection reads on from one byte stream where the previous one
// stopped, whatever it asked for (a fuzz target's input).
class MemoryHttpHost : public SocketPort {
 public:
  bool Startup() override { return startupWorks; }
  SocketHandle CreateTcp() override;
  bool ResolveIpv4(const std::string& host, uint32_t* address) override;
  bool SetSendTimeout(SocketHandle, uint32_t) override { return true; }
  bool SetReceiveTimeout(SocketHandle, uint32_t) override { return true; }
  bool SetNonBlocking(SocketHandle, bool) override { return true; }
  bool Connect(SocketHandle s, uint32_t address, uint16_t port, uint32_t waitMs) override;
  int64_t Send(SocketHandle s, const void* data, size_t size) override;
  int64_t Receive(SocketHandle s, void* data, size_t size) override;
  int64_t Peek(SocketHandle s, void* data, size_t size) override;
  void Close(SocketHandle s) override {
    if (connections_.erase(s) == 0) ++misuses;
  }

  // Sockets created and not closed yet.
  size_t OpenCount() const { return connections_.size(); }

  bool startupWorks = true;
  bool refuseConnections = false;              // every connect fails (code 6)
  std::set<uint16_t> closedPorts;              // nobody listens there
  std::map<std::string, std::string> bodies;   // by request path
  std::map<std::string, std::string> answers;  // whole answers by request path
  std::vector<std::string> requests;           // "host:port path", in order
  std::string lastRequest;                     // the last request's bytes
  size_t chunk = SIZE_MAX;                     // the most bytes one receive or peek gives
  bool streaming = false;                      // answers come from `stream`
  std::string stream;
  int created = 0;  // sockets created
  int misuses = 0;  // calls on a socket that is not open (never created, or closed)

 private:
  struct Connection {
    std::string host;
    uint16_t port = 0;
    std::string request;
    std::string answer;
    size_t at = 0;
  };
  Connection* Find(SocketHandle s);
  std::map<SocketHandle, Connection> connections_;
  size_t streamAt_ = 0;
  std::map<uint32_t, std::string> names_;
  SocketHandle next_ = 3;
};

}  // namespace ost
