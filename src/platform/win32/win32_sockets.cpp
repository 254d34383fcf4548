#include "platform/win32/win32_sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include "platform/win32/windows_headers.h"

#include <algorithm>
#include <climits>

namespace ost {
namespace {

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

bool SetTimeout(SocketHandle s, int option, uint32_t milliseconds) {
  // Winsock takes the time-outs as a DWORD of milliseconds, not a timeval.
  DWORD value = milliseconds;
  return setsockopt(Native(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                    sizeof value) == 0;
}

// send and recv count in int.
int ClampSize(size_t size) { return static_cast<int>(std::min<size_t>(size, INT_MAX)); }

}  // namespace

Win32Sockets::~Win32Sockets() {
  if (started_) WSACleanup();
}

bool Win32Sockets::Startup() {
  if (started_) return true;
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  // A layer that only offers an older version has still counted this start.
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  started_ = true;
  return true;
}

SocketHandle Win32Sockets::CreateTcp() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool Win32Sockets::ResolveIpv4(const std::string& host, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
  bool found = false;
  for (addrinfo* entry = result; entry; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      *address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  freeaddrinfo(result);
  return found;
}

bool Win32Sockets::SetSendTimeout(SocketHandle s, uint32_t milliseconds) {
  return SetTimeout(s, SO_SNDTIMEO, milliseconds);
}

bool Win32Sockets::SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) {
  return SetTimeout(s, SO_RCVTIMEO, milliseconds);
}

bool Win32Sockets::SetNonBlocking(SocketHandle s, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(Native(s), FIONBIO, &mode) == 0;
}

bool Win32Sockets::Connect(SocketHandle s, uint32_t address, uint16_t port,
                           uint32_t waitMilliseconds) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  peer.sin_port = htons(port);
  if (::connect(Native(s), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return true;
  }
  int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) return false;

  // A non-blocking connect ends as writable on success; a refusal shows in the
  // except set (and in SO_ERROR), never as writable.
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Native(s), &writable);
  FD_SET(Native(s), &failed);
  timeval wait{};
  wait.tv_sec = static_cast<long>(waitMilliseconds / 1000);
  wait.tv_usec = static_cast<long>((waitMilliseconds % 1000) * 1000);
  if (select(0, nullptr, &writable, &failed, &wait) <= 0) return false;
  if (FD_ISSET(Native(s), &failed) || !FD_ISSET(Native(s), &writable)) return false;
  int socketError = 0;
  int length = sizeof socketError;
  if (getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError), &length) !=
      0) {
    return false;
  }
  return socketError == 0;
}

int64_t Win32Sockets::Send(SocketHandle s, const void* data, size_t size) {
  int n = ::send(Native(s), static_cast<const char*>(data), ClampSize(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int64_t Win32Sockets::Receive(SocketHandle s, void* data, size_t size) {
  int n = ::recv(Native(s), static_cast<char*>(data), ClampSize(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int64_t Win32Sockets::Peek(SocketHandle s, void* data, size_t size) {
  int n = ::recv(Native(s), static_cast<char*>(data), ClampSize(size), MSG_PEEK);
  return n == SOCKET_ERROR ? -1 : n;
}

void Win32Sockets::Close(SocketHandle s) {
  if (s != kInvalidSocket) closesocket(Native(s));
}

}  // namespace ost
