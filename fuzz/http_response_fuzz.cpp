// The HTTP getter against an update host that answers with the fuzz input: status
// lines, header blocks, "Location" redirects and bodies. Every connection reads on
// from where the previous one stopped, so one input can hold a chain of answers.
//
// Byte 0 sets how the stream arrives: bits 0-5 the most bytes one receive or peek
// returns (0: all that is left), bit 6 a component download (progress messages).
// The rest is the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/update_dialog.h"
#include "fuzz_check.h"
#include "net/http_getter.h"
#include "platform/memory/memory_sockets.h"
#include "platform/memory/memory_window.h"

namespace {

// A naive reference for FindNoCase.
const char* ReferenceFind(const char* text, size_t length, const std::string& pattern) {
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  for (size_t at = 0; at + pattern.size() <= length; ++at) {
    bool same = true;
    for (size_t i = 0; i < pattern.size() && same; ++i) {
      same = upper(text[at + i]) == upper(pattern[i]);
    }
    if (same) return text + at;
  }
  return nullptr;
}

void CheckFindNoCase(const uint8_t* data, size_t size) {
  // A short pattern from the front, the text after it, in a buffer of its exact size.
  size_t patternLength = std::min<size_t>(size, data[0] % 8);
  std::string pattern(reinterpret_cast<const char*>(data), patternLength);
  pattern.resize(std::strlen(pattern.c_str()));  // a C string ends at its first zero
  std::vector<char> text(data + patternLength, data + size);
  const char* found = ost::FindNoCase(text.data(), text.size(), pattern.c_str());
  FUZZ_CHECK(found == ReferenceFind(text.data(), text.size(), pattern));
}

void CheckSplitHostPort(const uint8_t* data, size_t size) {
  std::string hostPort(reinterpret_cast<const char*>(data), size);
  std::string host;
  uint16_t port = 0;
  ost::SplitHostPort(hostPort, &host, &port);
  FUZZ_CHECK(port != 0);
  FUZZ_CHECK(hostPort.compare(0, host.size(), host) == 0);
  FUZZ_CHECK(host.find(':') == std::string::npos);
}

}  // namespace

constexpr int kResumes = 2;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // One job for every run, with the whole receive buffer and its terminator byte and
  // nothing more, so that any write past it is caught.
  static ost::MemoryWindow window;
  static ost::DownloadJob& job = []() -> ost::DownloadJob& {
    auto* made = new ost::DownloadJob(&window);
    made->AttachBuffer(std::unique_ptr<uint8_t[]>(new uint8_t[ost::kReceiveBufferSize + 1]));
    return *made;
  }();
  const uint8_t* const buffer = job.receiveBuffer;
  window.posted.clear();
  job.hops.clear();

  // The in-memory host, every connection reading on through the input.
  ost::MemoryHttpHost sockets;
  sockets.chunk = (data[0] & 0x3F) == 0 ? SIZE_MAX : (data[0] & 0x3F);
  sockets.streaming = true;
  sockets.stream.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  job.updateHost = "update.example.com:8080";
  job.requestPath = "/update/server.txt";
  job.downloadKind = (data[0] & 0x40) ? ost::DownloadKind::kServer : ost::DownloadKind::kManifest;
  // Close to the limit, so that a chain of redirects ends after a few connections.
  job.redirectCount = ost::kRedirectLimit - 3;
  // A body that breaks off is asked for again; two resumes reach every path of that
  // without the run growing long.
  job.resume.maxResumes = kResumes;

  ost::DownloadWorker(job, sockets);
  FUZZ_CHECK(job.hops.size() == static_cast<size_t>(sockets.created));

  FUZZ_CHECK(sockets.OpenCount() == 0);
  FUZZ_CHECK(sockets.misuses == 0);  // no call on a closed socket, no double close
  FUZZ_CHECK(sockets.created <= 4 + kResumes);
  FUZZ_CHECK(static_cast<int>(sockets.requests.size()) == sockets.created);
  FUZZ_CHECK(!window.posted.empty());
  int done = 0;
  for (const ost::MemoryWindow::Posted& m : window.posted) {
    done += m.msg == ost::WM_DOWNLOAD_DONE;
  }
  FUZZ_CHECK(done == 1);
  const ost::MemoryWindow::Posted& last = window.posted.back();
  FUZZ_CHECK(last.msg == ost::WM_DOWNLOAD_DONE);
  const int32_t expected = job.expectedLength.load();
  const int32_t received = job.receivedLength.load();
  if (last.wParam == ost::kDownloadOk) {
    FUZZ_CHECK(expected > 0 && static_cast<size_t>(expected) <= ost::kReceiveBufferSize);
    FUZZ_CHECK(received >= 0 && received <= expected);
    FUZZ_CHECK(buffer[static_cast<size_t>(expected)] == 0);
    uintptr_t progress = 0;
    for (const ost::MemoryWindow::Posted& m : window.posted) {
      if (m.msg != ost::WM_DOWNLOAD_PROGRESS) continue;
      FUZZ_CHECK(m.wParam >= progress && m.wParam <= static_cast<uintptr_t>(expected));
      progress = m.wParam;
    }
  }

  CheckFindNoCase(data, size);
  CheckSplitHostPort(data + 1, size - 1);
  return 0;
}
