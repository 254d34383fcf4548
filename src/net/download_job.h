// The download job: one download's request and results, shared by the UI thread and
// the one worker that runs it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket_port.h"
#include "platform/system_port.h"
#include "platform/window_port.h"
#include "update/product_facts.h"
#include "util/bytes.h"

namespace ost {

// What a download brings. The numbers are the product's own: a component's package has
// its component's kind (3 to 8, as the catalogue numbers them).
enum class DownloadKind : int32_t {
  kIndex = -1,  // the signed index
  kManifest = 0,
  kOstraScript = 1,
  kVelinScript = 2,
  kAgent = 3,
  kVelin = 4,
  kServer = 5,
  kMessage = 6,
  kTuyom = 7,
  kOstData = 8,
  kDetailFile = 250,
};

inline bool IsComponentPackage(DownloadKind kind) {
  return kind >= DownloadKind::kAgent && kind <= DownloadKind::kOstData;
}

// Progress is posted block by block for packages of components and detail files only.
inline bool PostsBlockProgress(DownloadKind kind) {
  return IsComponentPackage(kind) || kind == DownloadKind::kDetailFile;
}

// One answer of the update host within a download: the first one, or one reached by a
// redirect.
struct DownloadHop {
  std::string host;
  uint16_t port = 80;
  std::string path;
  std::string statusLine;      // the head's first line, without its line end
  std::string location;        // the Location value of a redirect; empty otherwise
  int64_t contentLength = -1;  // as announced; -1 when the head named none
  std::string via;             // "proxy host:port" or "direct"
  int64_t rangeFrom = -1;      // the offset a resume asked for; -1: the whole file
  std::string contentRange;    // the Content-Range value of a 206
  std::string verdict;         // what became of a resume's answer, or of a 407
};

// The way to the update hosts: directly, or through an HTTP proxy.
struct ProxySettings {
  std::string host;  // empty: every request goes directly
  uint16_t port = 80;
  // Host patterns reached directly (';'-separated in the registry, '*' a wildcard,
  // "<local>" any name without a dot).
  std::vector<std::string> bypass;
  // Basic credentials, sent only after the proxy answered 407.
  std::string user;
  std::string password;

  // Whether a request to `target` goes through the proxy.
  bool Serves(const std::string& target) const;
  std::string Name() const;  // "host:port", or "direct"
};

// How a body that broke off is asked for again. The pause before a resume doubles
// with every attempt in a row that brought no new byte; an attempt that did bring some
// starts the count again, so a link that drops every few megabytes still finishes.
struct ResumePolicy {
  int fruitlessTries = 4;       // attempts in a row without a new byte, then give up
  uint32_t firstPauseMs = 250;  // 250, 500, 1000 ms before the second to fourth
  int maxResumes = 64;          // per download
  uint64_t maxMs = 300000;      // from the first break on (with a clock)
};

// The slowest a download may go once bytes flow. From the first byte of a window on, at
// least `bytes` bytes (or the rest of the body, when that is less) must arrive within
// `windowMs`, and a head must be complete within `windowMs` of its first byte;
// otherwise the download fails. Silence alone is the receive time-out's business.
struct ProgressFloor {
  uint32_t windowMs = 60000;
  int64_t bytes = 60000;  // 1,000 bytes a second: 24 MB in under seven hours
};

// The UI thread fills the request before it starts a worker and reads the results only
// after the worker's WM_DOWNLOAD_DONE, so nothing here needs a lock but the two
// counters, which the progress handler reads while the body arrives. Workers hold the
// job themselves: a dialog that goes away never frees what a running download writes.
struct DownloadJob {
  explicit DownloadJob(WindowPort* window) : notifyWindow(window) {}
  DownloadJob(const DownloadJob&) = delete;
  DownloadJob& operator=(const DownloadJob&) = delete;

  // Takes the receive buffer (kReceiveBufferSize bytes and one for a terminator).
  void AttachBuffer(std::unique_ptr<uint8_t[]> buffer) {
    buffer_ = std::move(buffer);
    receiveBuffer = buffer_.get();
  }
  // The body as received.
  ByteSpan Body() const {
    int32_t received = receivedLength.load();
    return {receiveBuffer, received > 0 ? static_cast<size_t>(received) : 0};
  }

  ThreadHandle downloadThread = 0;
  WindowPort* notifyWindow;
  std::string updateHost;   // host name, optionally with ":port"
  std::string requestPath;  // path of the request line
  std::string targetPath;   // where the consumer writes the body; shown in progress texts
  uint8_t* receiveBuffer = nullptr;
  std::atomic<int32_t> expectedLength{0};  // written by the worker
  std::atomic<int32_t> receivedLength{0};
  DownloadKind downloadKind = DownloadKind::kManifest;

  // Answers other than 100 and 200 over the whole run; only the running worker
  // touches it.
  int32_t redirectCount = 0;
  // The answers of the current download, in order (worker until WM_DOWNLOAD_DONE).
  std::vector<DownloadHop> hops;
  // Milliseconds of a clock that only moves forward, for the floor on progress; none:
  // no floor.
  std::function<uint64_t()> clock;
  ProgressFloor floor;
  // Pauses before a resume; none: resumes follow at once.
  std::function<void(uint32_t)> sleep;
  ResumePolicy resume;
  ProxySettings proxy;
  // A body begun by an earlier run: its first `resumeFrom` bytes are in the receive
  // buffer and the file had `resumeTotal` bytes then. The download first asks for the
  // rest; when that does not finish, it fetches the file as if nothing were here.
  int32_t resumeFrom = 0;
  int32_t resumeTotal = 0;
  // Workers started and not yet past their last post.
  std::atomic<int> liveWorkers{0};

 private:
  std::unique_ptr<uint8_t[]> buffer_;
};

// Starts a worker thread that holds the job and runs DownloadWorker on it, with the
// system's clock for the floor on progress. False when no thread could be started;
// nothing is posted then.
bool StartDownloadWorker(SystemPort& system, SocketPort& sockets,
                         const std::shared_ptr<DownloadJob>& job);

}  // namespace ost
