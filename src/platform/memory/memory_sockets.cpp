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
  ++created;
  return s;
}

MemoryHttpHost::Connection* MemoryHttpHost::Find(SocketHandle s) {
  auto found = connections_.find(s);
  if (found != connections_.end()) return &found->second;
  ++misuses;
  return nullptr;
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
  Connection* open = Find(s);
  if (!open || refuseConnections || closedPorts.count(port) > 0) return false;
  Connection& connection = *open;
  connection.host = names_[address];
  connection.port = port;
  return true;
}

int64_t MemoryHttpHost::Send(SocketHandle s, const void* data, size_t size) {
  Connection* open = Find(s);
  if (!open) return -1;
  Connection& connection = *open;
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
  Connection* connection = Find(s);
  if (!connection) return -1;
  const std::string& answer = streaming ? stream : connection->answer;
  const size_t at = streaming ? streamAt_ : connection->at;
  const size_t n = std::min({size, chunk, answer.size() - at});
  std::memcpy(data, answer.data() + at, n);
  return static_cast<int64_t>(n);
}

int64_t MemoryHttpHost::Receive(SocketHandle s, void* data, size_t size) {
  const int64_t n = Peek(s, data, size);
  if (n > 0) (streaming ? streamAt_ : connections_.at(s).at) += static_cast<size_t>(n);
  return n;
}

}  // namespace ost
