#include "platform/posix/posix_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ost {
namespace {

int Fd(SocketHandle s) { return static_cast<int>(s); }

bool SetTimeout(SocketHandle s, int option, uint32_t milliseconds) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
  tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return setsockopt(Fd(s), SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace

SocketHandle PosixSockets::CreateTcp() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : fd;
}

bool PosixSockets::ResolveIpv4(const std::string& host, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
  *address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(result);
  return true;
}

bool PosixSockets::SetSendTimeout(SocketHandle s, uint32_t milliseconds) {
  return SetTimeout(s, SO_SNDTIMEO, milliseconds);
}

bool PosixSockets::SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) {
  return SetTimeout(s, SO_RCVTIMEO, milliseconds);
}

bool PosixSockets::SetNonBlocking(SocketHandle s, bool on) {
  int flags = fcntl(Fd(s), F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(Fd(s), F_SETFL, flags) == 0;
}

bool PosixSockets::Connect(SocketHandle s, uint32_t address, uint16_t port,
                           uint32_t waitMilliseconds) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  peer.sin_port = htons(port);
  if (::connect(Fd(s), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) return true;
  if (errno != EINPROGRESS && errno != EINTR) return false;
  pollfd pfd{Fd(s), POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&pfd, 1, static_cast<int>(waitMilliseconds));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

int64_t PosixSockets::Send(SocketHandle s, const void* data, size_t size) {
  ssize_t n;
  do {
    n = ::send(Fd(s), data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}

int64_t PosixSockets::Receive(SocketHandle s, void* data, size_t size) {
  ssize_t n;
  do {
    n = ::recv(Fd(s), data, size, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

int64_t PosixSockets::Peek(SocketHandle s, void* data, size_t size) {
  ssize_t n;
  do {
    n = ::recv(Fd(s), data, size, MSG_PEEK);
  } while (n < 0 && errno == EINTR);
  return n;
}

void PosixSockets::Close(SocketHandle s) { ::close(Fd(s)); }

}  // namespace ost
