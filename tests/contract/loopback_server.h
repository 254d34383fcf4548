// A server on the loopback address that answers one request, for the socket providers'
// contract: it reads up to the request's blank line, sends its answer and closes.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace ost::contract {

class LoopbackServer {
 public:
  // Listens on a port the system chooses; port() is 0 when that failed.
  explicit LoopbackServer(std::string answer);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }

  // A port nobody listens on (one the system just gave out and took back).
  static uint16_t ClosedPort();

 private:
  void Serve();

  std::string answer_;
  intptr_t listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace ost::contract
