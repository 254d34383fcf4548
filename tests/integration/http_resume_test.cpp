// Bodies that break off: asked for again from where they stopped, over real sockets.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "integration/script_server.h"
#include "net/http_getter.h"
#include "platform/posix/posix_sockets.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Reply;
using testing::ScriptServer;

constexpr size_t kMiB = 1024 * 1024;

// The offset of "Range: bytes=N-" in a request head; -1 without one.
long long RangeOf(const std::string& request) {
  size_t at = request.find("Range: bytes=");
  return at == std::string::npos ? -1 : std::stoll(request.substr(at + 13));
}

// An update host for one file that cuts every connection after `cut` bytes of body.
// How it answers a Range request is the test's choice.
enum class RangeAnswer { kHonour, kWhole, kWrongStart, kWrongTotal };

Reply Serve(const std::string& file, size_t cut, RangeAnswer answer, const std::string& request) {
  long long from = RangeOf(request);
  std::string head;
  size_t start = 0;
  if (from < 0 || answer == RangeAnswer::kWhole) {
    head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(file.size()) + "\r\n\r\n";
  } else {
    start = static_cast<size_t>(from);
    size_t first = answer == RangeAnswer::kWrongStart ? 0 : start;
    size_t total = answer == RangeAnswer::kWrongTotal ? file.size() + 1 : file.size();
    head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
           std::to_string(file.size() - 1) + "/" + std::to_string(total) +
           "\r\nContent-Length: " + std::to_string(file.size() - start) + "\r\n\r\n";
    if (answer != RangeAnswer::kHonour) start = first;
  }
  return Reply{head + file.substr(start, cut)};
}

class ResumeTest : public ::testing::Test {
 protected:
  ResumeTest() {
    job.AttachBuffer(std::unique_ptr<uint8_t[]>(new uint8_t[kReceiveBufferSize + 1]));
    job.requestPath = "/ostra/update1/CSOstraServer.exe.zip";
    job.downloadKind = DownloadKind::kServer;
    job.sleep = [this](uint32_t ms) { pauses.push_back(ms); };
    // A body no two places of which look alike, so a misplaced byte shows.
    file.resize(kReceiveBufferSize);
    uint32_t x = 12345;
    for (char& c : file) {
      x = x * 1103515245 + 12345;
      c = static_cast<char>(x >> 16);
    }
  }

  int Fetch(const ScriptServer& server) {
    window.posted.clear();
    job.updateHost = "127.0.0.1:" + std::to_string(server.port());
    DownloadWorker(job, sockets);
    int ends = 0;
    int code = -1;
    for (const auto& message : window.posted) {
      if (message.msg != WM_DOWNLOAD_DONE) continue;
      ++ends;
      code = static_cast<int>(message.wParam);
    }
    EXPECT_EQ(ends, 1);
    return code;
  }
  bool BodyIsTheFile() const {
    return job.receivedLength.load() == static_cast<int32_t>(file.size()) &&
           std::string(reinterpret_cast<const char*>(job.receiveBuffer), file.size()) == file;
  }
  // The progress marks posted after the start: rising, never repeated.
  bool ProgressRises() const {
    uintptr_t last = 0;
    for (const auto& message : window.posted) {
      if (message.msg != WM_DOWNLOAD_PROGRESS || message.lParam == 0) continue;
      if (message.wParam <= last) return false;
      last = message.wParam;
    }
    return last == file.size();
  }

  testing::FakeWindow window;
  DownloadJob job{&window};
  PosixSockets sockets;
  std::string file;
  std::vector<uint32_t> pauses;
};

TEST_F(ResumeTest, AHostThatCutsEveryMebibyteDeliversTheWholeFileOnce) {
  ScriptServer server([this](int, const std::string& request) {
    return Serve(file, kMiB, RangeAnswer::kHonour, request);
  });
  EXPECT_EQ(Fetch(server), kDownloadOk);
  EXPECT_TRUE(BodyIsTheFile());
  EXPECT_TRUE(ProgressRises());
  const size_t pieces = (file.size() + kMiB - 1) / kMiB;
  ASSERT_EQ(server.requests().size(), pieces);
  for (size_t n = 0; n < pieces; ++n) {
    EXPECT_EQ(RangeOf(server.requests()[n]), n == 0 ? -1 : static_cast<long long>(n * kMiB));
  }
  EXPECT_LE(static_cast<double>(server.bytesSent()), 1.05 * static_cast<double>(file.size()));
  EXPECT_TRUE(pauses.empty());  // every resume brought bytes
  // Each resume is on the record with the offset and what was made of the answer.
  ASSERT_EQ(job.hops.size(), pieces);
  EXPECT_EQ(job.hops[1].rangeFrom, static_cast<int64_t>(kMiB));
  EXPECT_EQ(job.hops[1].contentRange, "bytes 1048576-23999999/24000000");
  EXPECT_EQ(job.hops[1].verdict, "taken from 1048576");
}

TEST_F(ResumeTest, AWholeFileAnsweredToARangeStartsOverWithoutDuplicates) {
  // Cuts the first answer only; the second is a 200 with every byte.
  ScriptServer server([this](int n, const std::string& request) {
    return Serve(file, n == 0 ? 3 * kMiB + 17 : file.size(), RangeAnswer::kWhole, request);
  });
  EXPECT_EQ(Fetch(server), kDownloadOk);
  EXPECT_TRUE(BodyIsTheFile());
  EXPECT_TRUE(ProgressRises());
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(RangeOf(server.requests()[1]), static_cast<long long>(3 * kMiB + 17));
  EXPECT_EQ(job.hops[1].verdict, "the whole file again, from byte 0");
}

TEST_F(ResumeTest, APartialAnswerOfAnotherRangeIsRefusedAndTheFileAskedForWhole) {
  for (RangeAnswer wrong : {RangeAnswer::kWrongStart, RangeAnswer::kWrongTotal}) {
    job.hops.clear();
    ScriptServer server([this, wrong](int n, const std::string& request) {
      return Serve(file, n == 0 ? kMiB : file.size(), wrong, request);
    });
    EXPECT_EQ(Fetch(server), kDownloadOk);
    EXPECT_TRUE(BodyIsTheFile());
    ASSERT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(RangeOf(server.requests()[1]), static_cast<long long>(kMiB));
    EXPECT_EQ(RangeOf(server.requests()[2]), -1);  // the whole file, without a range
    EXPECT_EQ(job.hops[1].verdict, "refused: not the missing part, the whole file next");
  }
}

TEST_F(ResumeTest, AHostThatNeverGetsFurtherIsGivenUpAfterGrowingPauses) {
  // Every answer is the same 700 of 1,000 bytes: the documented short body in the end.
  ScriptServer server([](int, const std::string&) {
    return Reply{"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(700, 'h')};
  });
  EXPECT_EQ(Fetch(server), kDownloadOk);
  EXPECT_EQ(job.receivedLength.load(), 700);
  EXPECT_EQ(server.connections(), 1 + job.resume.fruitlessTries);
  EXPECT_EQ(pauses, (std::vector<uint32_t>{250, 500, 1000}));
}

}  // namespace
}  // namespace ost
