// The HTTP getter: one file from the update host over plain HTTP/1.0, into the
// download job's receive buffer, reported back by posted messages only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/download_job.h"
#include "platform/socket_port.h"

namespace ost {

// Result codes of a download (wParam of WM_DOWNLOAD_DONE).
enum DownloadResult : int32_t {
  kDownloadOk = 0,
  kSocketFailed = 1,
  kResolveFailed = 2,
  kSendTimeoutFailed = 3,
  kReceiveTimeoutFailed = 4,
  kNonBlockingFailed = 5,
  kConnectFailed = 6,
  kBlockingFailed = 7,
  kBadStatus = 8,
  kNoContentLength = 9,
  kBadContentLength = 10,
  kHeaderTooLong = 11,     // the response head does not fit the header area
  kWorkerNotStarted = 12,  // no thread could be started for the download
  kTooManyInterim = 13,    // the host answered "100 Continue" without end
  kTooSlow = 14,           // the bytes came slower than the floor on progress
  kProxyAuthRefused = 15,  // the proxy answered 407 to the credentials, or none were set
};

constexpr size_t kHeaderAreaSize = 8000;
constexpr size_t kRequestOffset = 9000;
constexpr uint32_t kSendTimeoutMs = 300000;
constexpr uint32_t kReceiveTimeoutMs = 900000;
constexpr uint32_t kConnectWaitMs = 60000;
constexpr int32_t kRedirectLimit = 20;
// Interim answers ("100 Continue") taken in one download before it fails.
constexpr int kInterimLimit = 16;
constexpr int32_t kProgressStep = 512;

// Thread body: fetches job.requestPath from job.updateHost ("name" or "name:port",
// port 80 by default). Posts WM_DOWNLOAD_DONE exactly once.
void DownloadWorker(DownloadJob& job, SocketPort& sockets);

// The same for an explicit host, path and port; redirects call it again.
void HttpGet(DownloadJob& job, SocketPort& sockets, const std::string& host,
             const std::string& path, uint16_t port);

// First place in text[0..length) where pattern occurs, comparing a-z as A-Z; null
// when it occurs nowhere.
const char* FindNoCase(const char* text, size_t length, const char* pattern);

// Base64 of bytes, as Basic credentials are sent.
std::string Base64(const std::string& bytes);

// Splits "name:port" (port 80 when absent or unreadable).
void SplitHostPort(const std::string& hostPort, std::string* host, uint16_t* port);

}  // namespace ost
