#include "frontend/headless/headless.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/startup.h"
#include "app/texts.h"
#include "frontend/headless/snapshot.h"
#include "frontend/posix_queue.h"
#include "platform/port_wrappers.h"
#include "ui/memory_view.h"

namespace ost {
namespace {

std::string OneLine(std::string text) {
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;)
    text.replace(at, 2, " / ");
  return text;
}

const char* AnswerName(BoxAnswer answer) {
  switch (answer) {
    case BoxAnswer::kOk:
      return "OK";
    case BoxAnswer::kYes:
      return "Yes";
    case BoxAnswer::kNo:
      return "No";
  }
  return "OK";
}

// The window: posted messages go to the queue, boxes are answered at once.
class HeadlessWindow : public WindowPort {
 public:
  HeadlessWindow(MessageQueue& queue, RunRecord& record, bool confirm)
      : queue_(queue), record_(record), confirm_(confirm) {}

  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    queue_.Post({msg, wParam, lParam});
  }
  void PostQuit() override { queue_.RequestQuit(); }

  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxButtons buttons,
                           BoxIcon /*icon*/) override {
    BoxAnswer answer = BoxAnswer::kOk;
    if (buttons == BoxButtons::kYesNo) answer = confirm_ ? BoxAnswer::kYes : BoxAnswer::kNo;
    record_.messageBoxes.push_back({caption, text, AnswerName(answer)});
    std::printf("box [%s] %s -> %s\n", caption.c_str(), OneLine(text).c_str(), AnswerName(answer));
    std::fflush(stdout);
    return answer;
  }

  void ShowAboutBox() override {
    std::printf("about [%s] %s\n", text::kAboutTitle, text::kAboutLine1);
    std::fflush(stdout);
  }
  bool AppendSystemMenuItem(uint32_t, const std::string&) override { return true; }
  void SetWindowIcon() override {}
  void EndDialog() override { closed_ = true; }

  bool closed() const { return closed_; }

 private:
  MessageQueue& queue_;
  RunRecord& record_;
  bool confirm_;
  bool closed_ = false;
};

// Prints one line per change of a row, the status line or the button.
class LinePrinter : public ViewObserver {
 public:
  LinePrinter(const MemoryReportList& list, const MemoryControls& controls)
      : list_(list), controls_(controls) {}

  void Attach(const UpdateDialog* dialog) { dialog_ = dialog; }

  void OnRowChanged(int row) override {
    if (!dialog_) return;
    const RowRecord* record = dialog_->progressList().Record(row);
    Rgb colour = record ? record->textColor : kBlack;
    std::printf("row %d | %s | %s | %s | %s | tag %d | (%d,%d,%d)\n", row,
                list_.GetItemText(row, 0).c_str(), list_.GetItemText(row, 1).c_str(),
                list_.GetItemText(row, 2).c_str(), list_.GetItemText(row, 3).c_str(),
                dialog_->GetRowTag(row), RedOf(colour), GreenOf(colour), BlueOf(colour));
    std::fflush(stdout);
  }
  void OnRowInserted(int row) override { OnRowChanged(row); }
  void OnStatusChanged() override {
    std::printf("status | %s\n", controls_.statusText().c_str());
    std::fflush(stdout);
  }
  void OnButtonChanged() override {
    std::printf("button | %s | %s\n", controls_.buttonText().c_str(),
                controls_.buttonEnabled() ? "enabled" : "disabled");
    std::fflush(stdout);
  }

 private:
  const MemoryReportList& list_;
  const MemoryControls& controls_;
  const UpdateDialog* dialog_ = nullptr;
};

// The machine's system, with the beeps recorded and printed and the time spent
// waiting (only for services) counted.
class RecordingSystem : public SystemWrapper {
 public:
  RecordingSystem(SystemPort& target, RunRecord& record) : SystemWrapper(target), record_(record) {}
  void Beep(uint32_t hertz, uint32_t milliseconds) override {
    record_.beeps.push_back({hertz, milliseconds});
    std::printf("beep | %u Hz | %u ms\n", hertz, milliseconds);
    std::fflush(stdout);
  }
  void Sleep(uint32_t milliseconds) override {
    slept_ += milliseconds;
    target_.Sleep(milliseconds);
  }
  uint64_t slept() const { return slept_; }

 private:
  RunRecord& record_;
  uint64_t slept_ = 0;  // the UI thread's only
};

// Writes the end state to the snapshot file, when one was asked for; false, with a
// line on standard error, when it could not be written.
bool WriteSnapshot(const std::string& file, const UpdateDialog* dialog,
                   const MemoryControls& controls, const RunRecord& record) {
  if (file.empty()) return true;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << MakeSnapshot(dialog, controls, record)
             .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
      << '\n';
  out.close();
  if (out) return true;
  std::fprintf(stderr, "ost-server-update: cannot write the snapshot %s\n", file.c_str());
  return false;
}

}  // namespace

int RunHeadless(const HeadlessOptions& options, const Platform& machine) {
  MemoryReportList list;
  MemoryControls controls;
  MessageQueue queue;
  RunRecord record;
  HeadlessWindow window(queue, record, options.confirm);
  LinePrinter printer(list, controls);
  list.SetObserver(&printer);
  controls.SetObserver(&printer);
  RecordingSystem system(*machine.system, record);

  Platform platform = machine;
  platform.window = &window;
  platform.list = &list;
  platform.controls = &controls;
  platform.system = &system;

  bool finished = false;
  bool snapshotWritten = false;
  const auto started = std::chrono::steady_clock::now();
  RunOptions runOptions;
  runOptions.stageFirst = options.stage;
  runOptions.journalProblem = [](const std::string& why) {
    std::printf("warning | %s; the update goes on without it\n", why.c_str());
    std::fflush(stdout);
  };
  int status = RunApplication(
      platform,
      [&](UpdateDialog& dialog) {
        printer.Attach(&dialog);
        dialog.OnInitDialog();
        bool startClicked = false;
        for (;;) {
          if (window.closed()) {
            record.end = "close";
            break;
          }
          PostedMessage message;
          if (queue.Pop(&message, std::chrono::milliseconds(20))) {
            dialog.Dispatch(message.msg, message.wParam, message.lParam);
            continue;
          }
          if (queue.quitRequested()) {
            record.end = "quit";
            break;
          }
          // A worker posts before it ends, so once none is alive the queue holds all
          // that is coming.
          if (dialog.DownloadRunning() || !queue.Empty()) continue;
          if (options.start && !startClicked && controls.buttonEnabled() &&
              !dialog.closeOnClick()) {
            if (options.route != -2) controls.ClickRoute(options.route);
            startClicked = true;
            std::printf("click | start\n");
            std::fflush(stdout);
            dialog.OnStartClicked();
            continue;
          }
          std::printf("close | window\n");
          std::fflush(stdout);
          dialog.OnClose();
          if (!window.closed()) {
            // Refused while an update runs, and nothing is left to move it on.
            record.end = "close";
            break;
          }
        }
        finished = controls.buttonEnabled() && controls.buttonText() == text::kButtonClose;
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
        std::printf("time | %lld ms in all | %llu ms waiting for services\n",
                    static_cast<long long>(elapsed),
                    static_cast<unsigned long long>(system.slept()));
        std::printf("end | %s\n", record.end.c_str());
        std::fflush(stdout);
        snapshotWritten = WriteSnapshot(options.snapshotFile, &dialog, controls, record);
        // An end state that cannot be handed over is no clean end.
        finished = finished && snapshotWritten;
        if (dialog.DownloadRunning()) {
          // A download still runs into the dialog's buffer. Nobody waits for it: the
          // process ends here, as it does on Windows when the dialog ends.
          std::fflush(nullptr);
          std::_Exit(finished ? 0 : 1);
        }
      },
      nullptr, runOptions);
  if (status != 0) {
    // No window came up (the sockets layer, or another run on this machine).
    record.end = "quit";
    std::printf("end | %s\n", record.end.c_str());
    std::fflush(stdout);
    WriteSnapshot(options.snapshotFile, nullptr, controls, record);
    return 1;
  }
  return finished ? 0 : 1;
}

}  // namespace ost
