#include "platform/memory/memory_sockets.h"

#include <algorithm>
#include <cstring>

namespace ost {

namespace {

constexpr uint32_t kFirstAddress = 0x0A000001;

}  // namespace

SocketHandle MemoryHttpHost::CreateTcp() {
  SocketHandle s = next_++;
  connections_[s] = Connection{};
  return s;
}

bool MemoryHttpHost::ResolveIpv4(const std::string& host, uint32_t* address) {
  for (const auto& [known, name] : names_) {
    if (name == host) {
      *address = known;
      return true;
    }
  }
  *address = kFirstAddress + static_cast<uint32_t>(names_.size());
  names_[*address] = host;
  return true;
}

bool MemoryHttpHost::Connect(SocketHandle s, uint32_t address, uint16_t port, uint32_t) {
  if (refuseConnections || closedPorts.count(port) > 0) return false;
  Connection& connection = connections_.at(s);
  connection.host = names_[address];
  connection.port = port;
  return true;
}

int64_t MemoryHttpHost::Send(SocketHandle s, const void* data, size_t size) {
  Connection& connection = connections_.at(s);
  connection.request.append(static_cast<const char*>(data), size);
  if (connection.request.find("\r\n\r\n") == std::string::npos) return static_cast<int64_t>(size);
  lastRequest = connection.request;
  // "GET <path> HTTP/1.0"
  size_t start = connection.request.find(' ') + 1;
  std::string path = connection.request.substr(start, connection.request.find(' ', start) - start);
  requests.push_back(connection.host + ":" + std::to_string(connection.port) + " " + path);
  if (auto answer = answers.find(path); answer != answers.end()) {
    connection.answer = answer->second;
  } else if (auto body = bodies.find(path); body != bodies.end()) {
    connection.answer =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body->second.size()) + "\r\n\r\n" +
        body->second;
  } else {
    connection.answer = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nmissing";
  }
  return static_cast<int64_t>(size);
}

int64_t MemoryHttpHost::Peek(SocketHandle s, void* data, size_t size) {
  Connection& connection = connections_.at(s);
  size_t n = std::min(size, connection.answer.size() - connection.at);
  std::memcpy(data, connection.answer.data() + connection.at, n);
  return static_cast<int64_t>(n);
}

int64_t MemoryHttpHost::Receive(SocketHandle s, void* data, size_t size) {
  int64_t n = Peek(s, data, size);
  connections_.at(s).at += static_cast<size_t>(n);
  return n;
}

}  // namespace ost
