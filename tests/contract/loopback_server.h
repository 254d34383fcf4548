// A server on the loopback address that answers one request, for the socket providers'
// contract: it reads up to the request's blank line, sends its answer and closes.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <thread>

#include "contract/contract.h"

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

// A system's socket provider against servers on the loopback address.
template <typename Sockets>
class LoopbackSocketsUnderTest : public SocketsUnderTest {
 public:
  SocketPort& sockets() override { return sockets_; }
  std::string Host() override { return "127.0.0.1"; }
  uint16_t Serve(const std::string& answer) override {
    return servers_.emplace_back(answer).port();
  }
  uint16_t Closed() override { return LoopbackServer::ClosedPort(); }

 private:
  std::list<LoopbackServer> servers_;  // before sockets_: joined after the client closed
  Sockets sockets_;
};

}  // namespace ost::contract
