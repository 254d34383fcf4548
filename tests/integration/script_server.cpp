#include "integration/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace ost::testing {

ScriptServer::ScriptServer(std::function<Reply(int)> replyFor)
    : ScriptServer([replyFor](int n, const std::string&) { return replyFor(n); }) {}

ScriptServer::ScriptServer(std::function<Reply(int, const std::string&)> replyFor)
    : replyFor_(std::move(replyFor)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listenFd_, 16);
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ScriptServer::~ScriptServer() {
  stop_ = true;
  thread_.join();
  ::close(listenFd_);
}

std::vector<std::string> ScriptServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptServer::Serve() {
  while (!stop_) {
    pollfd pfd{listenFd_, POLLIN, 0};
    if (::poll(&pfd, 1, 20) <= 0) continue;
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    int n = connections_++;
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<size_t>(got));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    Reply reply = replyFor_(n, request);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    size_t chunk = reply.chunk ? reply.chunk : reply.bytes.size();
    for (size_t at = 0; at < reply.bytes.size(); at += chunk) {
      size_t size = std::min(chunk, reply.bytes.size() - at);
      size_t sent = 0;
      while (sent < size) {
        ssize_t written = ::send(fd, reply.bytes.data() + at + sent, size - sent, MSG_NOSIGNAL);
        if (written <= 0) break;
        sent += static_cast<size_t>(written);
        bytesSent_ += static_cast<size_t>(written);
      }
      if (reply.chunk) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
  }
}

int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace ost::testing
