#include "net/http_getter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

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
    CloseSocket();
    Post(WM_DOWNLOAD_DONE, static_cast<uintptr_t>(code), 0);
  }
  void CloseSocket() {
    if (socket_ != kInvalidSocket) sockets_.Close(socket_);
    socket_ = kInvalidSocket;
  }
  // A new connection of the same download (a redirect, a resume).
  void Use(SocketHandle socket) {
    CloseSocket();
    socket_ = socket;
  }

  // Reads one header block into the header area from byte 0. The block ends at an
  // LF that lies less than 5 bytes after the previous one (the first counts from
  // byte 0), or where the connection ends; a zero byte marks its end. Bytes are
  // only taken from the socket up to the block's end, so the body stays unread.
  // kDownloadOk, kHeaderTooLong when the block does not fit the header area, or
  // kTooSlow when it does not come in time.
  int32_t ReadHeaderBlock(char* header) {
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

  enum class BodyEnd { kComplete, kBroken, kTooSlow };

  // The body from byte `from` on, block by block, never past the announced length.
  // Progress messages as a byte-by-byte reader would post them: every multiple of 512
  // below the length, and the length itself; a mark already posted in this download
  // (before a resume started over) is not posted again.
  BodyEnd ReadBody(int32_t from, int32_t expected) {
    const bool reportBlocks = PostsBlockProgress(job_.downloadKind);
    int32_t received = from;
    job_.receivedLength.store(received);
    pace_.Restart();
    while (received < expected) {
      size_t want = std::min<size_t>(kBodyBlock, static_cast<size_t>(expected - received));
      int64_t n = sockets_.Receive(socket_, job_.receiveBuffer + received, want);
      if (n <= 0) return BodyEnd::kBroken;
      int32_t before = received;
      received += static_cast<int32_t>(n);
      job_.receivedLength.store(received);
      if (reportBlocks) {
        for (int32_t mark = (std::max(before, reported_) / kProgressStep + 1) * kProgressStep;
             mark <= received && mark < expected; mark += kProgressStep) {
          Post(WM_DOWNLOAD_PROGRESS, static_cast<uintptr_t>(mark), 1);
        }
        if (received == expected) Post(WM_DOWNLOAD_PROGRESS, static_cast<uintptr_t>(received), 1);
        reported_ = std::max(reported_, received);
      }
      if (received < expected && !pace_.Received(n, expected - before)) return BodyEnd::kTooSlow;
    }
    return BodyEnd::kComplete;
  }

  SocketHandle socket() const { return socket_; }

 private:
  DownloadJob& job_;
  SocketPort& sockets_;
  SocketHandle socket_;
  Pace pace_;
  int32_t reported_ = 0;
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
  if (!job->sleep) job->sleep = [&system](uint32_t ms) { system.Sleep(ms); };
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

namespace {

struct Target {
  std::string host;
  std::string path;
  uint16_t port = 80;
};

// Opens a connection for `target`, to the proxy when it serves the host. kDownloadOk
// with *socket set, or the result code of the step that failed.
int32_t Connect(DownloadJob& job, SocketPort& sockets, const Target& target, SocketHandle* socket) {
  *socket = sockets.CreateTcp();
  if (*socket == kInvalidSocket) return kSocketFailed;
  const bool viaProxy = job.proxy.Serves(target.host);
  const std::string& name = viaProxy ? job.proxy.host : target.host;
  const uint16_t port = viaProxy ? job.proxy.port : target.port;
  uint32_t address = 0;
  int32_t code = kDownloadOk;
  if (!sockets.ResolveIpv4(name, &address)) {
    code = kResolveFailed;
  } else if (!sockets.SetSendTimeout(*socket, kSendTimeoutMs)) {
    code = kSendTimeoutFailed;
  } else if (!sockets.SetReceiveTimeout(*socket, kReceiveTimeoutMs)) {
    code = kReceiveTimeoutFailed;
  } else if (!sockets.SetNonBlocking(*socket, true)) {
    code = kNonBlockingFailed;
  } else if (!sockets.Connect(*socket, address, port, kConnectWaitMs)) {
    code = kConnectFailed;
  } else if (!sockets.SetNonBlocking(*socket, false)) {
    code = kBlockingFailed;
  }
  if (code != kDownloadOk) {
    sockets.Close(*socket);
    *socket = kInvalidSocket;
  }
  return code;
}

// The request, sent in one call. Through a proxy the request line names the whole
// address; a resume asks for the bytes from `rangeFrom` on; `auth` adds the proxy's
// credentials. The request is formatted into the receive buffer at its offset, except
// while the buffer holds body bytes (a resume), which must stay where they are.
void SendRequest(DownloadJob& job, SocketPort& sockets, SocketHandle socket, const Target& target,
                 int64_t rangeFrom, bool auth) {
  std::string path = target.path;
  if (job.proxy.Serves(target.host)) {
    path = "http://" + target.host +
           (target.port == 80 ? std::string() : ":" + std::to_string(target.port)) + target.path;
  }
  std::string request(std::strlen(kRequestFormat) + path.size() + target.host.size(), '\0');
  const int length = std::snprintf(request.data(), request.size() + 1, kRequestFormat, path.c_str(),
                                   target.host.c_str());
  request.resize(static_cast<size_t>(std::max(length, 2)) - 2);  // before the blank line
  if (rangeFrom >= 0) request += "Range: bytes=" + std::to_string(rangeFrom) + "-\r\n";
  if (auth) {
    request +=
        "Proxy-Authorization: Basic " + Base64(job.proxy.user + ":" + job.proxy.password) + "\r\n";
  }
  request += "\r\n";
  if (job.receivedLength.load() > 0 || request.size() > kReceiveBufferSize - kRequestOffset) {
    sockets.Send(socket, request.data(), request.size());
    return;
  }
  char* area = reinterpret_cast<char*>(job.receiveBuffer) + kRequestOffset;
  std::memcpy(area, request.data(), request.size());
  sockets.Send(socket, area, request.size());
}

// Reads the answer's head past interim answers; kDownloadOk with *status, or a code.
int32_t ReadHead(Download& download, char* buffer, int64_t* status) {
  for (int interim = 0;; ++interim) {
    // A host that answers "100 Continue" without end would hold the run for ever.
    if (interim > kInterimLimit) return kTooManyInterim;
    // Each block over a clean area: a shorter one, or none at all when the peer has
    // closed, must not show the status of the interim answer before it.
    std::memset(buffer, 0, kHeaderAreaSize);
    if (int32_t result = download.ReadHeaderBlock(buffer)) return result;
    *status = ReadInteger(buffer + 9);
    if (*status != 100) return kDownloadOk;
  }
}

// The announced length of the head in the header area; -1 when it names none.
int64_t ContentLength(const char* buffer, size_t headerLength) {
  const char* label = FindNoCase(buffer, headerLength, "Content-Length:");
  if (!label) return -1;
  const char* digits = label + 15;
  while (*digits && !IsDigit(*digits)) ++digits;
  int64_t length = ReadInteger(digits);
  // A sign right before the digits still counts: "-5" is not a length of 5.
  if (digits > label + 15 && digits[-1] == '-') length = -length;
  return std::min<int64_t>(length, INT32_MAX);
}

// "bytes FIRST-LAST/TOTAL": first and total; false when the value is not of that form.
bool ParseContentRange(const std::string& value, int64_t* first, int64_t* total) {
  size_t at = value.find("bytes");
  if (at == std::string::npos) return false;
  const char* text = value.c_str() + at + 5;
  while (*text == ' ') ++text;
  if (!IsDigit(*text)) return false;
  *first = ReadInteger(text);
  const char* slash = std::strchr(text, '/');
  if (!slash || !IsDigit(slash[1])) return false;
  *total = ReadInteger(slash + 1);
  return true;
}

// Asks again for what is missing of a body that broke off, until it is whole or the
// policy gives up. Takes only a 206 whose range starts where the bytes end and names
// the same total; a 200 starts the body over. *slow: the latest break was the floor's.
void Resume(DownloadJob& job, SocketPort& sockets, Download& download, const Target& target,
            bool auth, bool* slow) {
  // The head of a resume's answer must not land on the body's first bytes.
  std::unique_ptr<char[]> head(new char[kHeaderAreaSize]);
  char* buffer = head.get();
  const ResumePolicy& policy = job.resume;
  const uint64_t began = job.clock ? job.clock() : 0;
  int fruitless = 0;
  bool whole = false;  // the next request asks for the whole file
  // A host too slow for the floor is given one resume (a stalled connection is worth
  // another); too slow again, and it keeps the services down no longer.
  bool floorResumed = false;
  for (int resumes = 0; job.receivedLength.load() < job.expectedLength.load(); ++resumes) {
    if (fruitless >= policy.fruitlessTries || resumes >= policy.maxResumes) return;
    if (job.clock && job.clock() - began >= policy.maxMs) return;
    if (*slow && floorResumed) return;
    floorResumed = *slow;
    // A link that just brought bytes is asked again at once; one that brought none
    // is given longer each time.
    if (job.sleep && fruitless > 0) job.sleep(policy.firstPauseMs << (fruitless - 1));
    const int32_t held = job.receivedLength.load();
    const int32_t expected = job.expectedLength.load();
    DownloadHop& hop = job.hops.emplace_back();
    hop.host = target.host;
    hop.port = target.port;
    hop.path = target.path;
    hop.via = job.proxy.Serves(target.host) ? "proxy " + job.proxy.Name() : "direct";
    hop.rangeFrom = whole ? -1 : held;
    ++fruitless;  // until bytes come
    SocketHandle socket = kInvalidSocket;
    if (int32_t code = Connect(job, sockets, target, &socket)) {
      hop.verdict = "no connection (code " + std::to_string(code) + ")";
      continue;
    }
    download.Use(socket);
    SendRequest(job, sockets, socket, target, hop.rangeFrom, auth);
    int64_t status = 0;
    if (int32_t code = ReadHead(download, buffer, &status)) {
      download.CloseSocket();
      hop.verdict = "no answer (code " + std::to_string(code) + ")";
      continue;
    }
    const size_t headerLength = std::strlen(buffer);
    hop.statusLine = LineAt(buffer, buffer + headerLength);
    hop.contentLength = ContentLength(buffer, headerLength);
    int32_t from = 0;
    if (status == 206 && hop.rangeFrom >= 0) {
      const char* label = FindNoCase(buffer, headerLength, "Content-Range:");
      if (label) hop.contentRange = LineAt(label + 14, buffer + headerLength);
      while (!hop.contentRange.empty() && hop.contentRange[0] == ' ') hop.contentRange.erase(0, 1);
      int64_t first = -1;
      int64_t total = -1;
      if (!ParseContentRange(hop.contentRange, &first, &total) || first != held ||
          total != expected) {
        download.CloseSocket();
        hop.verdict = "refused: not the missing part, the whole file next";
        whole = true;
        continue;
      }
      hop.verdict = "taken from " + std::to_string(held);
      from = held;
    } else if (status == 200 && hop.contentLength > 0 &&
               hop.contentLength <= static_cast<int64_t>(kReceiveBufferSize)) {
      hop.verdict = "the whole file again, from byte 0";
      job.expectedLength = static_cast<int32_t>(hop.contentLength);
    } else {
      download.CloseSocket();
      hop.verdict = "not usable";
      continue;
    }
    whole = false;
    Download::BodyEnd end = download.ReadBody(from, job.expectedLength.load());
    download.CloseSocket();
    *slow = end == Download::BodyEnd::kTooSlow;
    if (job.receivedLength.load() > held) fruitless = 0;
  }
}

}  // namespace

void HttpGet(DownloadJob& job, SocketPort& sockets, const std::string& host,
             const std::string& path, uint16_t port) {
  Target target{host, path, port};
  char* buffer = reinterpret_cast<char*>(job.receiveBuffer);
  Download download(job, sockets, kInvalidSocket);
  bool auth = false;  // the proxy's credentials go with the requests
  if (job.resumeFrom > 0 && job.resumeFrom < job.resumeTotal &&
      job.resumeTotal <= static_cast<int32_t>(kReceiveBufferSize)) {
    job.expectedLength = job.resumeTotal;
    job.receivedLength = job.resumeFrom;
    job.notifyWindow->Post(WM_DOWNLOAD_PROGRESS, 0, 0);
    bool slow = false;
    Resume(job, sockets, download, target, auth, &slow);
    if (job.receivedLength.load() == job.expectedLength.load()) {
      job.receiveBuffer[job.expectedLength.load()] = 0;
      job.notifyWindow->Post(WM_DOWNLOAD_DONE, kDownloadOk, 0);
      return;
    }
  }
  int64_t status = 0;
  size_t headerLength = 0;
  for (;;) {
    const bool viaProxy = job.proxy.Serves(target.host);
    job.hops.push_back({target.host,
                        target.port,
                        target.path,
                        {},
                        {},
                        -1,
                        viaProxy ? "proxy " + job.proxy.Name() : "direct",
                        -1,
                        {},
                        {}});
    job.expectedLength = 0;
    job.receivedLength = 0;

    SocketHandle socket = kInvalidSocket;
    if (int32_t code = Connect(job, sockets, target, &socket)) return download.Fail(code);
    download.Use(socket);
    SendRequest(job, sockets, socket, target, -1, auth);
    if (int32_t code = ReadHead(download, buffer, &status)) return download.Fail(code);
    headerLength = std::strlen(buffer);
    job.hops.back().statusLine = LineAt(buffer, buffer + headerLength);
    // Some proxies (tinyproxy) refuse wrong credentials with a 401; the update hosts ask
    // for none, so a 401 after the proxy's credentials went is the proxy's refusal.
    if (viaProxy && (status == 407 || (status == 401 && auth))) {
      // Credentials are offered once, and only when asked for.
      download.CloseSocket();
      const bool retry = !auth && !job.proxy.user.empty();
      job.hops.back().verdict = retry  ? "407: credentials sent next"
                                : auth ? "407: credentials refused"
                                       : "407: no credentials";
      if (!retry) return download.Fail(kProxyAuthRefused);
      auth = true;
      continue;
    }
    if (status == 200) break;

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
    target = Target{newHost, std::string(slash, pathEnd), newPort};
  }

  const int64_t length = ContentLength(buffer, headerLength);
  if (length < 0 && !FindNoCase(buffer, headerLength, "Content-Length:")) {
    return download.Fail(kNoContentLength);
  }
  job.hops.back().contentLength = length;
  job.expectedLength = static_cast<int32_t>(length);
  // Nothing beyond the receive buffer may be written.
  if (length <= 0 || length > static_cast<int64_t>(kReceiveBufferSize)) {
    return download.Fail(kBadContentLength);
  }

  job.notifyWindow->Post(WM_DOWNLOAD_PROGRESS, 0, 0);
  job.receivedLength = 0;
  Download::BodyEnd end = download.ReadBody(0, static_cast<int32_t>(length));
  download.CloseSocket();
  bool slow = end == Download::BodyEnd::kTooSlow;
  // A body that broke off after bytes came is asked for again from where it stopped.
  if (end != Download::BodyEnd::kComplete && job.receivedLength.load() > 0) {
    Resume(job, sockets, download, target, auth, &slow);
  }
  // What came stays counted; the code says why the rest will not.
  if (job.receivedLength.load() < job.expectedLength.load() && slow) {
    return download.Fail(kTooSlow);
  }
  // The body reads as a zero-filled buffer would show it: zeros where nothing came,
  // and a terminator after the announced length. Bytes past it are never read, so
  // they need no second pass.
  int32_t received = job.receivedLength.load();
  std::memset(job.receiveBuffer + received, 0,
              static_cast<size_t>(job.expectedLength.load() - received) + 1);
  job.notifyWindow->Post(WM_DOWNLOAD_DONE, kDownloadOk, 0);
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) |
                 (static_cast<uint8_t>(bytes[i + 1]) << 8) | static_cast<uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(v >> shift) & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

namespace {

// '*' stands for any run of characters; letters compare without case.
bool Matches(const char* pattern, const char* text) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    for (const char* at = text;; ++at) {
      if (Matches(pattern + 1, at)) return true;
      if (*at == '\0') return false;
    }
  }
  return *text != '\0' && lower(*pattern) == lower(*text) && Matches(pattern + 1, text + 1);
}

}  // namespace

bool ProxySettings::Serves(const std::string& target) const {
  if (host.empty()) return false;
  for (const std::string& pattern : bypass) {
    if (pattern == "<local>") {
      if (target.find('.') == std::string::npos) return false;
    } else if (!pattern.empty() && Matches(pattern.c_str(), target.c_str())) {
      return false;
    }
  }
  return true;
}

std::string ProxySettings::Name() const {
  return host.empty() ? std::string("direct") : host + ":" + std::to_string(port);
}

}  // namespace ost
