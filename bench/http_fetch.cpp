// Downloads one path with the update tool's HTTP getter and prints what arrived, for
// the throughput benchmark. Usage: ost-http-fetch HOST:PORT PATH [KIND]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "net/http_getter.h"
#include "platform/posix/posix_sockets.h"

namespace {

// Counts the posted messages the way the dialog's queue would receive them.
class CountingWindow : public ost::WindowPort {
 public:
  void Post(uint32_t msg, uintptr_t wParam, intptr_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (msg == ost::WM_DOWNLOAD_DONE) result = static_cast<int>(wParam);
    if (msg == ost::WM_DOWNLOAD_PROGRESS && wParam == 0) progress = 0;  // a new download
    if (msg == ost::WM_DOWNLOAD_PROGRESS) ++progress;
  }
  void PostQuit() override {}
  ost::BoxAnswer ShowMessageBox(const std::string&, const std::string&, ost::BoxButtons,
                                ost::BoxIcon) override {
    return ost::BoxAnswer::kOk;
  }
  void ShowAboutBox() override {}
  bool AppendSystemMenuItem(uint32_t, const std::string&) override { return false; }
  void SetWindowIcon() override {}
  void EndDialog() override {}

  int result = -1;
  long progress = 0;

 private:
  std::mutex mutex_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ost-http-fetch HOST:PORT PATH [KIND]\n");
    return 64;
  }
  CountingWindow window;
  ost::DownloadJob job(&window);
  ost::PosixSockets sockets;
  job.AttachBuffer(std::unique_ptr<uint8_t[]>(new uint8_t[ost::kReceiveBufferSize + 1]));
  job.updateHost = argv[1];
  job.requestPath = argv[2];
  job.downloadKind = static_cast<ost::DownloadKind>(argc > 3 ? std::atoi(argv[3]) : 3);
  // The tool takes its buffer once and reuses it for every download; a first round
  // pays for the fresh pages, as the tool's first download does.
  ost::DownloadWorker(job, sockets);
  auto start = std::chrono::steady_clock::now();
  ost::DownloadWorker(job, sockets);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("result %d received %d expected %d progress %ld seconds %.6f\n", window.result,
              job.receivedLength.load(), job.expectedLength.load(), window.progress, seconds);
  return window.result == 0 && job.receivedLength.load() == job.expectedLength.load() ? 0 : 1;
}
