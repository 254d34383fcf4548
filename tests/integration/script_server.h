// A scripted HTTP server on 127.0.0.1: each accepted connection reads the request
// head and answers with the next scripted reply, written as raw bytes.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ost::testing {

struct Reply {
  std::string bytes;
  size_t chunk = 0;  // write in pieces of this size (0: all at once)
};

class ScriptServer {
 public:
  // replyFor(n) gives the reply for the n-th connection (0-based).
  explicit ScriptServer(std::function<Reply(int)> replyFor);
  // The same, with the request's head in hand.
  explicit ScriptServer(std::function<Reply(int, const std::string&)> replyFor);
  ~ScriptServer();

  int port() const { return port_; }
  int connections() const { return connections_.load(); }
  // Bytes written to every connection so far.
  size_t bytesSent() const { return bytesSent_.load(); }
  std::vector<std::string> requests() const;

 private:
  void Serve();

  std::function<Reply(int, const std::string&)> replyFor_;
  std::atomic<size_t> bytesSent_{0};
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens.
int ClosedPort();

}  // namespace ost::testing
