// The socket port's contract.
#include <string>

#include "contract/contract.h"

namespace ost::contract {
namespace {

constexpr char kRequest[] = "GET /manifest.txt HTTP/1.0\r\nHost: update\r\n\r\n";
constexpr uint32_t kWaitMs = 5000;

// Connects to the provider's host at port; kInvalidSocket when that fails.
SocketHandle Connect(SocketsUnderTest& provider, uint16_t port, bool* connected) {
  SocketPort& sockets = provider.sockets();
  uint32_t address = 0;
  *connected = false;
  if (!sockets.Startup() || !sockets.ResolveIpv4(provider.Host(), &address)) return kInvalidSocket;
  SocketHandle s = sockets.CreateTcp();
  if (s == kInvalidSocket) return s;
  sockets.SetSendTimeout(s, kWaitMs);
  sockets.SetReceiveTimeout(s, kWaitMs);
  *connected = sockets.Connect(s, address, port, kWaitMs);
  return s;
}

// A peek leaves the bytes for the next receive; once all is read and the peer has
// closed, a receive gives 0.
TEST_P(SocketsContract, AnAnswerIsPeekedReceivedAndEnds) {
  const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody";
  const uint16_t port = provider().Serve(answer);
  bool connected = false;
  const SocketHandle s = Connect(provider(), port, &connected);
  ASSERT_TRUE(connected);
  SocketPort& sockets = provider().sockets();
  const std::string request = kRequest;
  EXPECT_EQ(sockets.Send(s, request.data(), request.size()), static_cast<int64_t>(request.size()));

  char peeked[8] = {};
  int64_t n = 0;
  // A real peer may not have answered yet: a peek waits as a receive does.
  n = sockets.Peek(s, peeked, 4);
  ASSERT_GT(n, 0);
  std::string received;
  char buffer[7];
  while ((n = sockets.Receive(s, buffer, sizeof buffer)) > 0) received.append(buffer, n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(received, answer);
  EXPECT_EQ(answer.compare(0, 4, peeked, 4), 0);
  sockets.Close(s);
}

TEST_P(SocketsContract, NobodyListeningIsNoConnection) {
  bool connected = true;
  const SocketHandle s = Connect(provider(), provider().Closed(), &connected);
  EXPECT_FALSE(connected);
  if (s != kInvalidSocket) provider().sockets().Close(s);
}

}  // namespace
}  // namespace ost::contract
