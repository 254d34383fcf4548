#include "net/http_getter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ost {
namespace {

constexpr char kRequestFormat[] =
    "GET %s HTTP/1.0\r\n"
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
    "application/msword, application/x-shockwave-flash, */*\r\n"
    "Host: %s\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
    "Connection: close\r\n"
    "\r\n";

// Size of one look at the socket while reading a header block.
constexpr size_t kPeekSize = 2048;
// Largest single receive of the body.
constexpr size_t kBodyBlock = 256 * 1024;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A standard integer conversion (leading blanks and a sign, stops at a non-digit),
// saturating instead of overflowing.
int64_t ReadInteger(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; IsDigit(*text); ++text)
    value = std::min<int64_t>(value * 10 + (*text - '0'), INT64_C(1) << 40);
  return negative ? -value : value;
}

// Keeps a download to the floor on progress: a window opens at its first byte and
// must see its goal (the floor's bytes, or what is left to come) within the floor's
// time.
class Pace {
 public:
  explicit Pace(const DownloadJob& job) : job_(job) {}

  // After n bytes came; `left` is what was still wanted before them (-1 for a head,
  // whose goal is its own end). False when the window ran out before its goal.
  bool Received(int64_t n, int64_t left) {
    if (!job_.clock) return true;
    const uint64_t now = job_.clock();
    if (!open_) {
      open_ = true;
      start_ = now;
      got_ = 0;
      goal_ = left < 0 ? INT64_MAX : std::min(job_.floor.bytes, left);
    }
    got_ += n;
    if (got_ >= goal_) {
      open_ = false;  // the next window opens at the next byte
      return true;
    }
    return now - start_ < job_.floor.windowMs;
  }
  // A new head or the body begins.
  void Restart() { open_ = false; }

 private:
  const DownloadJob& job_;
  bool open_ = false;
  uint64_t start_ = 0;
  int64_t got_ = 0;
  int64_t goal_ = 0;
};

class Download {
 public:
  Download(DownloadJob& job, SocketPort& sockets, SocketHandle socket)
      : job_(job), sockets_(sockets), socket_(socket), pace_(job) {}

  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    job_.notifyWindow->Post(msg, wParam, lParam);
  }
  void Fail(int32_t code) {
    if (socket_ != kInvalidSocket) sockets_.Close(socket_);
    socket_ = kInvalidSocket;
    Post(WM_DOWNLOAD_DONE, static_cast<uintptr_t>(code), 0);
  }
  void CloseSocket() {
    if (socket_ != kInvalidSocket) sockets_.Close(socket_);
    socket_ = kInvalidSocket;
  }

  // Reads one header block into the header area from byte 0. The block ends at an
  // LF that lies less than 5 bytes after the previous one (the first counts from
  // byte 0), or where the connection ends; a zero byte marks its end. Bytes are
  // only taken from the socket up to the block's end, so the body stays unread.
  // kDownloadOk, kHeaderTooLong when the block does not fit the header area, or
  // kTooSlow when it does not come in time.
  int32_t ReadHeaderBlock() {
    char* header = reinterpret_cast<char*>(job_.receiveBuffer);
    size_t length = 0;
    size_t lastLineEnd = 0;
    pace_.Restart();
    for (;;) {
      if (length >= kHeaderAreaSize - 1) return kHeaderTooLong;
      size_t want = std::min(kPeekSize, kHeaderAreaSize - 1 - length);
      int64_t seen = sockets_.Peek(socket_, header + length, want);
      if (seen <= 0) {
        header[length] = '\0';
        return kDownloadOk;
      }
      size_t take = static_cast<size_t>(seen);
      bool complete = false;
      for (size_t i = 0; i < take; ++i) {
        size_t at = length + i;
        if (header[at] != '\n') continue;
        if (at - lastLineEnd < 5) {
          take = i + 1;
          complete = true;
          break;
        }
        lastLineEnd = at;
      }
      if (!ConsumeExactly(header + length, take)) {
        header[length] = '\0';
        return kDownloadOk;
      }
      length += take;
      if (complete) {
        header[length - 1] = '\0';  // over the final LF
        return kDownloadOk;
      }
      if (!pace_.Received(static_cast<int64_t>(take), -1)) return kTooSlow;
    }
  }

  // Takes `size` bytes that a look has already shown.
  bool ConsumeExactly(char* into, size_t size) {
    size_t got = 0;
    while (got < size) {
      int64_t n = sockets_.Receive(socket_, into + got, size - got);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }

  // The body, block by block, never past the announced length. Progress messages
  // as a byte-by-byte reader would post them: every multiple of 512 below the
  // length, and the length itself. False when the bytes come slower than the floor.
  bool ReadBody(int32_t expected) {
    const bool reportBlocks = job_.downloadKind > 2;
    int32_t received = 0;
    pace_.Restart();
    while (received < expected) {
      size_t want = std::min<size_t>(kBodyBlock, static_cast<size_t>(expected - received));
      int64_t n = sockets_.Receive(socket_, job_.receiveBuffer + received, want);
      if (n <= 0) break;
      int32_t before = received;
      received += static_cast<int32_t>(n);
      job_.receivedLength.store(received);
      if (reportBlocks) {
        for (int32_t mark = (before / kProgressStep + 1) * kProgressStep;
             mark <= received && mark < expected; mark += kProgressStep) {
          Post(WM_DOWNLOAD_PROGRESS, static_cast<uintptr_t>(mark), 1);
        }
        if (received == expected) Post(WM_DOWNLOAD_PROGRESS, static_cast<uintptr_t>(received), 1);
      }
      if (received < expected && !pace_.Received(n, expected - before)) return false;
    }
    return true;
  }

  SocketHandle socket() const { return socket_; }

 private:
  DownloadJob& job_;
  SocketPort& sockets_;
  SocketHandle socket_;
  Pace pace_;
};

// The head's first line and, after a redirect, its Location value, for the record of
// the download.
std::string LineAt(const char* text, const char* end) {
  const char* stop = text;
  while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
  return std::string(text, stop);
}

}  // namespace

const char* FindNoCase(const char* text, size_t length, const char* pattern) {
  size_t patternLength = std::strlen(pattern);
  if (patternLength > length) return nullptr;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  for (size_t at = 0; at + patternLength <= length; ++at) {
    size_t i = 0;
    while (i < patternLength && upper(text[at + i]) == upper(pattern[i])) ++i;
    if (i == patternLength) return text + at;
  }
  return nullptr;
}

void SplitHostPort(const std::string& hostPort, std::string* host, uint16_t* port) {
  size_t colon = hostPort.find(':');
  *host = hostPort.substr(0, colon);
  *port = 80;
  if (colon == std::string::npos) return;
  int64_t value = ReadInteger(hostPort.c_str() + colon + 1);
  if (value > 0 && value <= 65535) *port = static_cast<uint16_t>(value);
}

bool StartDownloadWorker(SystemPort& system, SocketPort& sockets,
                         const std::shared_ptr<DownloadJob>& job) {
  job->hops.clear();
  if (!job->clock) job->clock = [&system] { return system.MonotonicMilliseconds(); };
  ++job->liveWorkers;
  job->downloadThread = system.StartThread([job, &sockets] {
    DownloadWorker(*job, sockets);
    --job->liveWorkers;
  });
  if (job->downloadThread != 0) return true;
  --job->liveWorkers;
  return false;
}

void DownloadWorker(DownloadJob& job, SocketPort& sockets) {
  std::string host;
  uint16_t port = 80;
  SplitHostPort(job.updateHost, &host, &port);
  HttpGet(job, sockets, host, job.requestPath, port);
}

void HttpGet(DownloadJob& job, SocketPort& sockets, const std::string& host,
             const std::string& path, uint16_t port) {
  job.hops.push_back({host, port, path, {}, {}, -1});
  job.expectedLength = 0;
  job.receivedLength = 0;

  SocketHandle socket = sockets.CreateTcp();
  if (socket == kInvalidSocket) {
    job.notifyWindow->Post(WM_DOWNLOAD_DONE, kSocketFailed, 0);
    return;
  }
  Download download(job, sockets, socket);
  uint32_t address = 0;
  if (!sockets.ResolveIpv4(host, &address)) return download.Fail(kResolveFailed);
  if (!sockets.SetSendTimeout(socket, kSendTimeoutMs)) return download.Fail(kSendTimeoutFailed);
  if (!sockets.SetReceiveTimeout(socket, kReceiveTimeoutMs)) {
    return download.Fail(kReceiveTimeoutFailed);
  }
  if (!sockets.SetNonBlocking(socket, true)) return download.Fail(kNonBlockingFailed);
  if (!sockets.Connect(socket, address, port, kConnectWaitMs)) return download.Fail(kConnectFailed);
  if (!sockets.SetNonBlocking(socket, false)) return download.Fail(kBlockingFailed);

  char* buffer = reinterpret_cast<char*>(job.receiveBuffer);
  int requestLength = std::snprintf(buffer + kRequestOffset, kReceiveBufferSize - kRequestOffset,
                                    kRequestFormat, path.c_str(), host.c_str());
  sockets.Send(socket, buffer + kRequestOffset, static_cast<size_t>(std::max(requestLength, 0)));

  int64_t status = 0;
  for (int interim = 0;; ++interim) {
    // A host that answers "100 Continue" without end would hold the run for ever.
    if (interim > kInterimLimit) return download.Fail(kTooManyInterim);
    // Each block over a clean area: a shorter one, or none at all when the peer has
    // closed, must not show the status of the interim answer before it.
    std::memset(buffer, 0, kHeaderAreaSize);
    if (int32_t result = download.ReadHeaderBlock()) return download.Fail(result);
    status = ReadInteger(buffer + 9);
    if (status != 100) break;
  }
  size_t headerLength = std::strlen(buffer);
  job.hops.back().statusLine = LineAt(buffer, buffer + headerLength);

  if (status != 200) {
    download.CloseSocket();
    auto failRedirect = [&] { job.notifyWindow->Post(WM_DOWNLOAD_DONE, kBadStatus, 0); };
    const char* location = FindNoCase(buffer, headerLength, "Location");
    if (location) job.hops.back().location = LineAt(location, buffer + headerLength);
    if (++job.redirectCount >= kRedirectLimit) return failRedirect();
    if (!location) return failRedirect();
    const char* valueStart = location + 8;
    const char* end = buffer + headerLength;
    const char* scheme = FindNoCase(valueStart, static_cast<size_t>(end - valueStart), "http://");
    if (!scheme) return failRedirect();
    const char* hostStart = scheme + 7;
    const char* slash = std::find(hostStart, end, '/');
    if (slash == end) return failRedirect();
    std::string newHost(hostStart, slash);
    uint16_t newPort = 80;
    size_t colon = newHost.find(':');
    if (colon != std::string::npos) {
      int64_t value = ReadInteger(newHost.c_str() + colon + 1);
      // A port no connection can have: cut to 16 bits it would name another one.
      if (value < 1 || value > 65535) {
        job.notifyWindow->Post(WM_DOWNLOAD_DONE, kConnectFailed, 0);
        return;
      }
      newPort = static_cast<uint16_t>(value);
      newHost.resize(colon);
    }
    const char* pathEnd = slash;
    while (pathEnd < end && *pathEnd != '\r' && *pathEnd != '\n' && *pathEnd != ' ') ++pathEnd;
    return HttpGet(job, sockets, newHost, std::string(slash, pathEnd), newPort);
  }

  const char* label = FindNoCase(buffer, headerLength, "Content-Length:");
  if (!label) return download.Fail(kNoContentLength);
  const char* digits = label + 15;
  while (*digits && !IsDigit(*digits)) ++digits;
  int64_t length = ReadInteger(digits);
  // A sign right before the digits still counts: "-5" is not a length of 5.
  if (digits > label + 15 && digits[-1] == '-') length = -length;
  if (length > INT32_MAX) length = INT32_MAX;
  job.hops.back().contentLength = length;
  job.expectedLength = static_cast<int32_t>(length);
  // Nothing beyond the receive buffer may be written.
  if (length <= 0 || length > static_cast<int64_t>(kReceiveBufferSize)) {
    return download.Fail(kBadContentLength);
  }

  job.notifyWindow->Post(WM_DOWNLOAD_PROGRESS, 0, 0);
  job.receivedLength = 0;
  if (!download.ReadBody(static_cast<int32_t>(length))) {
    // What came stays counted; the code says why the rest will not.
    return download.Fail(kTooSlow);
  }
  download.CloseSocket();
  // The body reads as a zero-filled buffer would show it: zeros where nothing came,
  // and a terminator after the announced length. Bytes past it are never read, so
  // they need no second pass.
  int32_t received = job.receivedLength.load();
  std::memset(job.receiveBuffer + received, 0, static_cast<size_t>(length - received) + 1);
  job.notifyWindow->Post(WM_DOWNLOAD_DONE, kDownloadOk, 0);
}

}  // namespace ost
