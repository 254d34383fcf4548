#include "net/http_getter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "integration/script_server.h"
#include "platform/posix/posix_sockets.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Reply;
using testing::ScriptServer;

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class HttpGetterTest : public ::testing::Test {
 protected:
  HttpGetterTest() {
    job.AttachBuffer(std::unique_ptr<uint8_t[]>(new uint8_t[kReceiveBufferSize + 1]));
    buffer = job.receiveBuffer;
    job.requestPath = "/ostra/update1/server.txt";
    job.downloadKind = DownloadKind::kManifest;
  }

  // Runs one download against the server, as the worker would.
  void Fetch(const ScriptServer& server, int kind = 0) {
    job.updateHost = "127.0.0.1:" + std::to_string(server.port());
    job.downloadKind = static_cast<DownloadKind>(kind);
    DownloadWorker(job, sockets);
  }

  // The result posted at the end; exactly one end message is expected.
  int Result() {
    int ends = 0;
    int code = -1;
    for (const auto& message : window.posted) {
      if (message.msg == WM_DOWNLOAD_DONE) {
        ++ends;
        code = static_cast<int>(message.wParam);
      }
    }
    EXPECT_EQ(ends, 1);
    return code;
  }

  std::vector<std::pair<uintptr_t, intptr_t>> Progress() {
    std::vector<std::pair<uintptr_t, intptr_t>> progress;
    for (const auto& message : window.posted) {
      if (message.msg == WM_DOWNLOAD_PROGRESS) progress.push_back({message.wParam, message.lParam});
    }
    return progress;
  }

  std::string Body() {
    return std::string(reinterpret_cast<char*>(buffer),
                       static_cast<size_t>(job.receivedLength.load()));
  }

  testing::FakeWindow window;
  DownloadJob job{&window};
  uint8_t* buffer = nullptr;
  PosixSockets sockets;
  const int32_t& redirectCount = job.redirectCount;
};

TEST_F(HttpGetterTest, SendsTheRequestByteForByte) {
  ScriptServer server([](int) { return Reply{Ok("hello")}; });
  Fetch(server);
  EXPECT_EQ(Result(), 0);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /ostra/update1/server.txt HTTP/1.0\r\n"
            "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
            "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, */*\r\n"
            "Host: 127.0.0.1\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
            "Connection: close\r\n"
            "\r\n");
  EXPECT_EQ(Body(), "hello");
  EXPECT_EQ(job.expectedLength.load(), 5);
  EXPECT_EQ(buffer[5], 0);  // terminated
}

TEST_F(HttpGetterTest, InterimContinueThenTheAnswer) {
  ScriptServer server([](int) {
    return Reply{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody"};
  });
  Fetch(server);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(Body(), "body");
}

TEST_F(HttpGetterTest, AnswerArrivingByteByByte) {
  ScriptServer server([](int) { return Reply{Ok(std::string(3000, 'x')), 1}; });
  Fetch(server, 3);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(Body(), std::string(3000, 'x'));
  auto progress = Progress();
  ASSERT_EQ(progress.size(), 7u);  // start, 512..2560, 3000
  EXPECT_EQ(progress.back().first, 3000u);
}

TEST_F(HttpGetterTest, ShortHeaderLineEndsTheBlock) {
  ScriptServer server(
      [](int) { return Reply{"HTTP/1.0 200 OK\r\nab\r\nContent-Length: 5\r\n\r\nhello"}; });
  Fetch(server);
  EXPECT_EQ(Result(), kNoContentLength);
}

TEST_F(HttpGetterTest, ContentLengthLabelAndValueForms) {
  ScriptServer server([](int) {
    return Reply{"HTTP/1.0 200 OK\r\ncontent-length:    123\r\n\r\n" + std::string(123, 'b')};
  });
  Fetch(server);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(job.expectedLength.load(), 123);
  EXPECT_EQ(job.receivedLength.load(), 123);
}

TEST_F(HttpGetterTest, BadLengthsAreRefused) {
  struct Case {
    const char* header;
    int32_t expected;
  };
  for (const Case& c : {Case{"Content-Length: 0", 0}, Case{"Content-Length: -5", -5},
                        Case{"Content-Length: none", 0}, Case{"Content-Length: 24000001", 24000001},
                        Case{"Content-Length: 99999999999", INT32_MAX}}) {
    window.posted.clear();
    std::string head = std::string("HTTP/1.0 200 OK\r\n") + c.header + "\r\n\r\nxyz";
    ScriptServer server([&](int) { return Reply{head}; });
    Fetch(server);
    EXPECT_EQ(Result(), kBadContentLength) << c.header;
    EXPECT_EQ(job.expectedLength.load(), c.expected) << c.header;
    EXPECT_EQ(job.receivedLength.load(), 0);
    EXPECT_TRUE(Progress().empty());
  }
}

TEST_F(HttpGetterTest, MissingContentLength) {
  ScriptServer server([](int) { return Reply{"HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody"}; });
  Fetch(server);
  EXPECT_EQ(Result(), kNoContentLength);
  EXPECT_EQ(job.expectedLength.load(), 0);
}

TEST_F(HttpGetterTest, OversizedHeadIsRefusedInsideItsArea) {
  std::memset(buffer + kHeaderAreaSize, 0x5A, kRequestOffset - kHeaderAreaSize);
  ScriptServer server([](int) {
    return Reply{"HTTP/1.0 200 OK\r\nX-Filler: " + std::string(9000, 'f') + "\r\n\r\n"};
  });
  Fetch(server);
  EXPECT_EQ(Result(), kHeaderTooLong);
  for (size_t i = kHeaderAreaSize; i < kRequestOffset; ++i) ASSERT_EQ(buffer[i], 0x5A) << i;
}

TEST_F(HttpGetterTest, NotFoundCountsAsARedirect) {
  ScriptServer server([](int) { return Reply{"HTTP/1.0 404 Not Found\r\n\r\n"}; });
  Fetch(server);
  EXPECT_EQ(Result(), kBadStatus);
  EXPECT_EQ(redirectCount, 1);
  EXPECT_EQ(job.receivedLength.load(), 0);
}

TEST_F(HttpGetterTest, RedirectGoesToTheNamedPortAndPath) {
  ScriptServer target([](int) { return Reply{Ok("moved")}; });
  std::string location = "http://127.0.0.1:" + std::to_string(target.port()) + "/a/b.zip";
  ScriptServer origin(
      [&](int) { return Reply{"HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n\r\n"}; });
  Fetch(origin);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(Body(), "moved");
  ASSERT_EQ(target.requests().size(), 1u);
  const std::string request = target.requests()[0];
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /a/b.zip HTTP/1.0");
  EXPECT_NE(request.find("\r\nHost: 127.0.0.1\r\n"), std::string::npos);
  EXPECT_EQ(redirectCount, 1);
}

TEST_F(HttpGetterTest, RedirectToAPortNoConnectionCanHave) {
  for (const char* port : {"70000", "0"}) {
    window.posted.clear();
    std::string reply =
        std::string("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:") + port + "/x\r\n\r\n";
    ScriptServer server([&](int) { return Reply{reply}; });
    Fetch(server);
    EXPECT_EQ(Result(), kConnectFailed) << port;
  }
}

TEST_F(HttpGetterTest, LocationWithoutPath) {
  ScriptServer server(
      [](int) { return Reply{"HTTP/1.0 301 Moved\r\nLocation: http://127.0.0.1\r\n\r\n"}; });
  Fetch(server);
  EXPECT_EQ(Result(), kBadStatus);
}

TEST_F(HttpGetterTest, TwentiethRedirectOfTheRunFails) {
  std::unique_ptr<ScriptServer> server;
  server = std::make_unique<ScriptServer>([&](int) {
    return Reply{"HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" +
                 std::to_string(server->port()) + "/again\r\n\r\n"};
  });
  Fetch(*server);
  EXPECT_EQ(Result(), kBadStatus);
  EXPECT_EQ(server->connections(), 20);  // 19 followed, the 20th answer refused
  EXPECT_EQ(redirectCount, 20);

  // The count belongs to the run: the next download's first redirect fails at once.
  window.posted.clear();
  ScriptServer target([](int) { return Reply{Ok("x")}; });
  ScriptServer once([&](int) {
    return Reply{"HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" +
                 std::to_string(target.port()) + "/x\r\n\r\n"};
  });
  Fetch(once);
  EXPECT_EQ(Result(), kBadStatus);
  EXPECT_EQ(target.connections(), 0);
}

TEST_F(HttpGetterTest, ProgressForPackagesAndOnlyTheStartForTheManifest) {
  ScriptServer server([](int) { return Reply{Ok(std::string(1000, 'p'))}; });
  Fetch(server, 3);
  EXPECT_EQ(Result(), 0);
  using P = std::vector<std::pair<uintptr_t, intptr_t>>;
  EXPECT_EQ(Progress(), (P{{0, 0}, {512, 1}, {1000, 1}}));

  window.posted.clear();
  Fetch(server, 0);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(Progress(), (P{{0, 0}}));

  // A length that is a multiple of 512 is reported once.
  window.posted.clear();
  ScriptServer even([](int) { return Reply{Ok(std::string(1024, 'p'))}; });
  Fetch(even, 8);
  EXPECT_EQ(Progress(), (P{{0, 0}, {512, 1}, {1024, 1}}));
}

TEST_F(HttpGetterTest, EarlyCloseEndsWithWhatArrived) {
  ScriptServer server([](int) {
    return Reply{"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(700, 'h')};
  });
  Fetch(server, 3);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(job.expectedLength.load(), 1000);
  EXPECT_EQ(job.receivedLength.load(), 700);
  using P = std::vector<std::pair<uintptr_t, intptr_t>>;
  EXPECT_EQ(Progress(), (P{{0, 0}, {512, 1}}));
}

TEST_F(HttpGetterTest, BytesAfterTheLengthAreNotRead) {
  ScriptServer server(
      [](int) { return Reply{"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nfourEXTRA"}; });
  Fetch(server);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(Body(), "four");
  EXPECT_EQ(buffer[4], 0);
}

TEST_F(HttpGetterTest, ConnectionAndNameFailures) {
  job.updateHost = "127.0.0.1:" + std::to_string(testing::ClosedPort());
  DownloadWorker(job, sockets);
  EXPECT_EQ(Result(), kConnectFailed);

  window.posted.clear();
  job.updateHost = "no-such-host.invalid";
  DownloadWorker(job, sockets);
  EXPECT_EQ(Result(), kResolveFailed);
  EXPECT_EQ(job.receivedLength.load(), 0);
}

TEST_F(HttpGetterTest, BodyFillingTheWholeBufferKeepsItsTerminator) {
  ScriptServer server([](int) { return Reply{Ok(std::string(kReceiveBufferSize, 'z'))}; });
  buffer[kReceiveBufferSize] = 0x77;
  Fetch(server, 3);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(job.receivedLength.load(), static_cast<int32_t>(kReceiveBufferSize));
  EXPECT_EQ(buffer[kReceiveBufferSize - 1], 'z');
  EXPECT_EQ(buffer[kReceiveBufferSize], 0);
  EXPECT_EQ(Progress().back().first, kReceiveBufferSize);
}

TEST_F(HttpGetterTest, ThroughAProxyTheAbsoluteFormAndCredentialsOnlyWhenAsked) {
  ScriptServer proxy([](int n) {
    return n == 0 ? Reply{"HTTP/1.0 407 Proxy Authentication Required\r\n\r\n"} : Reply{Ok("via")};
  });
  job.proxy.host = "127.0.0.1";
  job.proxy.port = static_cast<uint16_t>(proxy.port());
  job.proxy.user = "u";
  job.proxy.password = "p";
  job.updateHost = "update.example:8080";  // reached only through the proxy
  DownloadWorker(job, sockets);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(Body(), "via");
  ASSERT_EQ(proxy.requests().size(), 2u);
  const std::string first = proxy.requests()[0];
  EXPECT_EQ(first.substr(0, first.find("\r\n")),
            "GET http://update.example:8080/ostra/update1/server.txt HTTP/1.0");
  EXPECT_NE(first.find("\r\nHost: update.example\r\n"), std::string::npos);
  EXPECT_EQ(first.find("Proxy-Authorization"), std::string::npos);
  EXPECT_NE(proxy.requests()[1].find("\r\nProxy-Authorization: Basic dTpw\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(job.hops[0].verdict, "407: credentials sent next");
  EXPECT_EQ(job.hops[1].via, "proxy 127.0.0.1:" + std::to_string(proxy.port()));

  // Refused again: a code of its own, and the credentials are not sent a third time.
  window.posted.clear();
  ScriptServer refusing(
      [](int) { return Reply{"HTTP/1.0 407 Proxy Authentication Required\r\n\r\n"}; });
  job.proxy.port = static_cast<uint16_t>(refusing.port());
  DownloadWorker(job, sockets);
  EXPECT_EQ(Result(), kProxyAuthRefused);
  EXPECT_EQ(refusing.connections(), 2);

  // A bypassed host is reached directly.
  window.posted.clear();
  ScriptServer direct([](int) { return Reply{Ok("direct")}; });
  job.proxy.bypass = {"127.0.0.*"};
  job.updateHost = "127.0.0.1:" + std::to_string(direct.port());
  DownloadWorker(job, sockets);
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(Body(), "direct");
  EXPECT_EQ(refusing.connections(), 2);
}

// Serves one byte stream to every connection. A getter that goes on reading long
// after the peer has closed is spinning; the fake then stops it with an exception.
class StreamSockets : public SocketPort {
 public:
  explicit StreamSockets(std::string stream) : stream_(std::move(stream)) {}
  bool Startup() override { return true; }
  SocketHandle CreateTcp() override { return 3; }
  bool ResolveIpv4(const std::string&, uint32_t* address) override {
    *address = 0x0100007F;
    return true;
  }
  bool SetSendTimeout(SocketHandle, uint32_t) override { return true; }
  bool SetReceiveTimeout(SocketHandle, uint32_t) override { return true; }
  bool SetNonBlocking(SocketHandle, bool) override { return true; }
  bool Connect(SocketHandle, uint32_t, uint16_t, uint32_t) override { return true; }
  int64_t Send(SocketHandle, const void*, size_t size) override {
    return static_cast<int64_t>(size);
  }
  int64_t Receive(SocketHandle, void* data, size_t size) override {
    size_t n = Take(data, size);
    at_ += n;
    return static_cast<int64_t>(n);
  }
  int64_t Peek(SocketHandle, void* data, size_t size) override {
    return static_cast<int64_t>(Take(data, size));
  }
  void Close(SocketHandle) override {}

 private:
  size_t Take(void* data, size_t size) {
    size_t n = std::min(size, stream_.size() - at_);
    if (n == 0 && ++readsAfterClose_ > 100) throw std::runtime_error("reading on after the close");
    std::memcpy(data, stream_.data() + at_, n);
    return n;
  }

  std::string stream_;
  size_t at_ = 0;
  int readsAfterClose_ = 0;
};

TEST(HttpGetterStream, CloseAfterAnInterimAnswerEndsTheDownload) {
  for (const char* stream :
       {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 100 Continue\r\n\r\n\r\n"}) {
    testing::FakeWindow window;
    DownloadJob job(&window);
    job.AttachBuffer(std::unique_ptr<uint8_t[]>(new uint8_t[kReceiveBufferSize + 1]));
    job.updateHost = "update.example";
    job.requestPath = "/ostra/update1/server.txt";
    StreamSockets sockets(stream);
    // The interim answer's status must not stand for the empty block after it.
    EXPECT_NO_THROW(DownloadWorker(job, sockets));
    ASSERT_EQ(window.posted.size(), 1u);
    EXPECT_EQ(window.posted[0].msg, WM_DOWNLOAD_DONE);
    EXPECT_EQ(window.posted[0].wParam, static_cast<uintptr_t>(kBadStatus));
  }
}

// An answer handed over a few bytes per receive, on a clock that moves a fixed step
// at every look at it: a host that trickles, without waiting for it.
class TrickleTest : public ::testing::Test {
 protected:
  class TrickleSockets : public SocketPort {
   public:
    TrickleSockets(std::string stream, size_t chunk) : stream_(std::move(stream)), chunk_(chunk) {}
    bool Startup() override { return true; }
    SocketHandle CreateTcp() override { return 3; }
    bool ResolveIpv4(const std::string&, uint32_t* address) override {
      *address = 0x0100007F;
      return true;
    }
    bool SetSendTimeout(SocketHandle, uint32_t) override { return true; }
    bool SetReceiveTimeout(SocketHandle, uint32_t) override { return true; }
    bool SetNonBlocking(SocketHandle, bool) override { return true; }
    bool Connect(SocketHandle, uint32_t, uint16_t, uint32_t) override { return true; }
    int64_t Send(SocketHandle, const void*, size_t size) override {
      return static_cast<int64_t>(size);
    }
    int64_t Receive(SocketHandle s, void* data, size_t size) override {
      int64_t n = Peek(s, data, size);
      at_ += static_cast<size_t>(n);
      ++receives;
      return n;
    }
    int64_t Peek(SocketHandle, void* data, size_t size) override {
      size_t n = std::min({size, chunk_, stream_.size() - at_});
      std::memcpy(data, stream_.data() + at_, n);
      return static_cast<int64_t>(n);
    }
    void Close(SocketHandle) override {}
    int receives = 0;

   private:
    std::string stream_;
    size_t chunk_;
    size_t at_ = 0;
  };

  TrickleTest() {
    job.AttachBuffer(std::unique_ptr<uint8_t[]>(new uint8_t[kReceiveBufferSize + 1]));
    job.updateHost = "update.example";
    job.requestPath = "/ostra/update1/CSOstraServer.exe.zip";
    job.downloadKind = DownloadKind::kServer;
    // These sockets hand every connection the rest of one stream: a resume would read
    // the body as its head. Resumes have tests of their own.
    job.resume.fruitlessTries = 0;
  }
  // The download's result, the clock moving `stepMs` at every look.
  int Fetch(const std::string& stream, size_t chunk, uint64_t stepMs) {
    window.posted.clear();
    TrickleSockets sockets(stream, chunk);
    uint64_t now = 0;
    job.clock = [&now, stepMs] { return now += stepMs; };
    DownloadWorker(job, sockets);
    receives = sockets.receives;
    return static_cast<int>(window.posted.back().wParam);
  }

  testing::FakeWindow window;
  DownloadJob job{&window};
  int receives = 0;
};

TEST_F(TrickleTest, ABodyTrickledAtAByteASecondFailsAfterAMinute) {
  EXPECT_EQ(Fetch(Ok(std::string(1000, 'x')), 1, 1000), kTooSlow);
  EXPECT_LT(job.receivedLength.load(), 70);
  EXPECT_LT(receives, 200);  // head and a minute of body
}

TEST_F(TrickleTest, ASlowButMovingLinkFinishes) {
  // 2,000 bytes a second, for 100 seconds.
  EXPECT_EQ(Fetch(Ok(std::string(200000, 'x')), 2000, 1000), kDownloadOk);
  EXPECT_EQ(job.receivedLength.load(), 200000);
  // The end of a body needs only what is left of it within the minute.
  EXPECT_EQ(Fetch(Ok(std::string(59, 'x')), 1, 1000), kDownloadOk);
}

TEST_F(TrickleTest, AHeadMustBeCompleteWithinAMinuteOfItsFirstByte) {
  std::string head = "HTTP/1.1 200 OK\r\nServer: " + std::string(80, 's') + "\r\n";
  EXPECT_EQ(Fetch(head + "Content-Length: 2\r\n\r\nok", 1, 1000), kTooSlow);
  EXPECT_EQ(Fetch(head + "Content-Length: 2\r\n\r\nok", 1, 400), kDownloadOk);  // 52 s
  // Without a clock there is no floor.
  window.posted.clear();
  job.clock = nullptr;
  TrickleSockets sockets(head + "Content-Length: 2\r\n\r\nok", 1);
  DownloadWorker(job, sockets);
  EXPECT_EQ(window.posted.back().wParam, static_cast<uintptr_t>(kDownloadOk));
}

TEST_F(TrickleTest, InterimAnswersWithoutEndAreRefused) {
  std::string interim;
  for (int i = 0; i < kInterimLimit; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";
  EXPECT_EQ(Fetch(interim + Ok("done"), 4096, 1), kDownloadOk);
  EXPECT_EQ(Fetch(interim + "HTTP/1.1 100 Continue\r\n\r\n" + Ok("done"), 4096, 1),
            kTooManyInterim);
}

TEST(FindNoCase, ComparesLettersAsCapitals) {
  const char text[] = "x: content-LENGTH: 5";
  EXPECT_EQ(FindNoCase(text, sizeof text - 1, "Content-Length:"), text + 3);
  EXPECT_EQ(FindNoCase(text, 5, "Content"), nullptr);  // does not fit the length
  EXPECT_EQ(FindNoCase(text, sizeof text - 1, "absent"), nullptr);
  EXPECT_EQ(FindNoCase("[", 1, "{"), nullptr);  // only letters fold
}

TEST(SplitHostPort, NameAndOptionalPort) {
  std::string host;
  uint16_t port = 0;
  SplitHostPort("update.example", &host, &port);
  EXPECT_EQ(host, "update.example");
  EXPECT_EQ(port, 80);
  SplitHostPort("127.0.0.1:8080", &host, &port);
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8080);
  SplitHostPort("h:99999", &host, &port);
  EXPECT_EQ(port, 80);
}

}  // namespace
}  // namespace ost
