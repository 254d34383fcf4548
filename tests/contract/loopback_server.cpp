#include "contract/loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
constexpr NativeSocket kNone = INVALID_SOCKET;
void CloseNative(NativeSocket s) { closesocket(s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
constexpr NativeSocket kNone = -1;
void CloseNative(NativeSocket s) { ::close(s); }
#endif

namespace ost::contract {
namespace {

// A socket bound to 127.0.0.1 on a port the system chooses, listening when asked.
NativeSocket Bind(bool listen, uint16_t* port) {
#ifdef _WIN32
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return kNone;
#endif
  NativeSocket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNone) return s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listen && ::listen(s, 1) != 0) ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseNative(s);
    return kNone;
  }
  *port = ntohs(address.sin_port);
  return s;
}

}  // namespace

LoopbackServer::LoopbackServer(std::string answer) : answer_(std::move(answer)) {
  NativeSocket s = Bind(true, &port_);
  if (s == kNone) return;
  listener_ = static_cast<intptr_t>(s);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
  if (thread_.joinable()) thread_.join();
  if (listener_ != -1) CloseNative(static_cast<NativeSocket>(listener_));
}

uint16_t LoopbackServer::ClosedPort() {
  uint16_t port = 0;
  NativeSocket s = Bind(false, &port);
  if (s != kNone) CloseNative(s);
  return port;
}

void LoopbackServer::Serve() {
  const NativeSocket listener = static_cast<NativeSocket>(listener_);
  // Bounded: a test that never connects does not hold the server.
#ifdef _WIN32
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(listener, &ready);
  timeval wait{10, 0};
  if (::select(0, &ready, nullptr, nullptr, &wait) != 1) return;
#else
  pollfd ready{listener, POLLIN, 0};
  if (::poll(&ready, 1, 10000) != 1) return;
#endif
  NativeSocket peer = ::accept(listener, nullptr, nullptr);
  if (peer == kNone) return;
  std::string request;
  char buffer[256];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const int n = static_cast<int>(::recv(peer, buffer, sizeof buffer, 0));
    if (n <= 0) break;
    request.append(buffer, static_cast<size_t>(n));
  }
  ::send(peer, answer_.data(), static_cast<int>(answer_.size()), 0);
  CloseNative(peer);
}

}  // namespace ost::contract
