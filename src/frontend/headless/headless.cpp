#include "frontend/headless/headless.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/texts.h"
#include "frontend/headless/snapshot.h"
#include "frontend/message_queue.h"
#include "platform/port_wrappers.h"
#include "system/service_controller.h"
#include "ui/memory_view.h"
#include "update/run_events.h"
#include "util/text.h"

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
  HeadlessWindow(MessageQueue& queue, RunRecord& record, HeadlessOutput& output, bool confirm)
      : queue_(queue), record_(record), output_(output), confirm_(confirm) {}

  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    queue_.Post({msg, wParam, lParam});
  }
  void PostQuit() override { queue_.RequestQuit(); }

  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxButtons buttons,
                           BoxIcon /*icon*/) override {
    BoxAnswer answer = BoxAnswer::kOk;
    if (buttons == BoxButtons::kYesNo) answer = confirm_ ? BoxAnswer::kYes : BoxAnswer::kNo;
    record_.messageBoxes.push_back({caption, text, AnswerName(answer)});
    output_.Line("box [" + caption + "] " + OneLine(text) + " -> " + AnswerName(answer));
    return answer;
  }

  void ShowAboutBox() override {
    output_.Line(std::string("about [") + text::kAboutTitle + "] " + text::kAboutLine1);
  }
  bool AppendSystemMenuItem(uint32_t, const std::string&) override { return true; }
  void SetWindowIcon() override {}
  void EndDialog() override { closed_ = true; }

  bool closed() const { return closed_; }

 private:
  MessageQueue& queue_;
  RunRecord& record_;
  HeadlessOutput& output_;
  bool confirm_;
  bool closed_ = false;
};

// Prints one line per change of a row, the status line or the button.
class LinePrinter : public ViewObserver {
 public:
  LinePrinter(const MemoryReportList& list, const MemoryControls& controls, HeadlessOutput& output)
      : list_(list), controls_(controls), output_(output) {}

  void Attach(const UpdateDialog* dialog) { dialog_ = dialog; }

  void OnRowChanged(int row) override {
    if (!dialog_) return;
    const RowRecord* record = dialog_->progressList().Record(row);
    Rgb colour = record ? record->textColor : kBlack;
    output_.Line(Format("row %d | ", row) + list_.GetItemText(row, 0) + " | " +
                 list_.GetItemText(row, 1) + " | " + list_.GetItemText(row, 2) + " | " +
                 list_.GetItemText(row, 3) +
                 Format(" | tag %d | (%d,%d,%d)", static_cast<int>(dialog_->GetRowTag(row)),
                        RedOf(colour), GreenOf(colour), BlueOf(colour)));
  }
  void OnRowInserted(int row) override { OnRowChanged(row); }
  void OnStatusChanged() override { output_.Line("status | " + controls_.statusText()); }
  void OnButtonChanged() override {
    output_.Line("button | " + controls_.buttonText() + " | " +
                 (controls_.buttonEnabled() ? "enabled" : "disabled"));
  }

 private:
  const MemoryReportList& list_;
  const MemoryControls& controls_;
  HeadlessOutput& output_;
  const UpdateDialog* dialog_ = nullptr;
};

// The machine's system, with the beeps recorded and printed and the time spent
// waiting (only for services) counted.
class RecordingSystem : public SystemWrapper {
 public:
  RecordingSystem(SystemPort& target, RunRecord& record, HeadlessOutput& output)
      : SystemWrapper(target), record_(record), output_(output) {}
  void Beep(uint32_t hertz, uint32_t milliseconds) override {
    record_.beeps.push_back({hertz, milliseconds});
    output_.Line(Format("beep | %u Hz | %u ms", static_cast<unsigned>(hertz),
                        static_cast<unsigned>(milliseconds)));
  }
  void Sleep(uint32_t milliseconds) override {
    slept_ += milliseconds;
    target_.Sleep(milliseconds);
  }
  uint64_t slept() const { return slept_; }

 private:
  RunRecord& record_;
  HeadlessOutput& output_;
  uint64_t slept_ = 0;  // the UI thread's only
};

// What leaves a run that reached its end in need of a look: told by the run's events
// (a batch that failed shows no colour of its own), and by the plan's rows at the end.
class ProblemRecorder : public RunObserver {
 public:
  void OnBatchFailed(const BatchFailure& failure) override {
    problems_.push_back(
        Format("row %d: batch %d of the script failed", failure.row, failure.batch));
  }
  void OnServiceEvent(const ServiceEvent& event) override {
    const bool settled = event.result == kServiceNothingToDo;
    if (event.action == ServiceEvent::Action::kStop && !settled &&
        event.result != kServiceStopped) {
      problems_.push_back(Format("service %s did not stop (%d)", event.service.c_str(),
                                 static_cast<int>(event.result)));
    } else if (event.action == ServiceEvent::Action::kStart && !settled &&
               event.result != kServiceRunning) {
      problems_.push_back(Format("service %s did not start again (%d)", event.service.c_str(),
                                 static_cast<int>(event.result)));
    }
  }

  // Adds the plan's rows that ended red. Rows outside the plan (the check's, or the
  // one that says nothing is to be updated) are red as news, not as a fault.
  void AddRedRows(const UpdateDialog& dialog) {
    const ReportList& list = dialog.progressList().list();
    for (const PlanStep& step : dialog.plan().steps) {
      if (step.kind == StepKind::kDetailFile || step.row < 0) continue;
      const RowRecord* record = dialog.progressList().Record(step.row);
      if (record && record->textColor == kAlertRed) {
        problems_.push_back(Format("row %d ended red: ", step.row) + list.GetItemText(step.row, 3));
      }
    }
  }

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  std::vector<std::string> problems_;
};

// Writes the end state to the snapshot file, when one was asked for; false, with a
// complaint, when it could not be written.
bool WriteSnapshot(HeadlessOutput& output, const std::string& file, const UpdateDialog* dialog,
                   const MemoryControls& controls, const RunRecord& record) {
  if (file.empty()) return true;
  std::string text = MakeSnapshot(dialog, controls, record)
                         .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                     "\n";
  if (output.WriteFile(file, text)) return true;
  output.Complain("cannot write the snapshot " + file);
  return false;
}

}  // namespace

int RunHeadless(const HeadlessOptions& options, const Platform& machine, HeadlessOutput& output) {
  MemoryReportList list;
  MemoryControls controls;
  MessageQueue queue;
  RunRecord record;
  HeadlessWindow window(queue, record, output, options.confirm);
  LinePrinter printer(list, controls, output);
  list.SetObserver(&printer);
  controls.SetObserver(&printer);
  RecordingSystem system(*machine.system, record, output);
  ProblemRecorder problems;

  Platform platform = machine;
  platform.window = &window;
  platform.list = &list;
  platform.controls = &controls;
  platform.system = &system;

  int exitStatus = kExitNotFinished;
  const auto started = std::chrono::steady_clock::now();
  RunOptions runOptions;
  runOptions.stageFirst = options.stage;
  runOptions.proxy = options.proxy;
  runOptions.failover = options.failover;
  runOptions.notice = [&output](const std::string& line) { output.Line(line); };
  runOptions.autoRollback = options.autoRollback;
  runOptions.journalProblem = [&output](const std::string& why) {
    output.Line("warning | " + why + "; the update goes on without it");
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
            output.Line("click | start");
            dialog.OnStartClicked();
            continue;
          }
          output.Line("close | window");
          dialog.OnClose();
          if (!window.closed()) {
            // Refused while an update runs, and nothing is left to move it on.
            record.end = "close";
            break;
          }
        }
        const bool finished =
            controls.buttonEnabled() && controls.buttonText() == text::kButtonClose;
        // Why a finished run is not clean; an unfinished one says so in its rows.
        if (finished) {
          problems.AddRedRows(dialog);
          for (const std::string& problem : problems.problems()) {
            output.Line("problem | " + problem);
          }
        }
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
        output.Line("time | " + std::to_string(elapsed) + " ms in all | " +
                    std::to_string(system.slept()) + " ms waiting for services");
        output.Line("end | " + record.end);
        // An end state that cannot be handed over is no clean end, nor any end.
        const bool written = WriteSnapshot(output, options.snapshotFile, &dialog, controls, record);
        if (finished && written) {
          exitStatus = problems.problems().empty() ? kExitFinished : kExitFinishedNotCleanly;
        }
        // Rolled back by itself: back as before the run, or not (then what stayed
        // changed is in the lines of the status and the journal).
        if (dialog.autoRolledBack() != 0) {
          exitStatus = dialog.autoRolledBack() > 0 && written ? kExitRolledBack : kExitNotFinished;
        }
        if (dialog.DownloadRunning()) {
          // A download still runs into the dialog's buffer. Nobody waits for it: the
          // process ends here, as it does on Windows when the dialog ends.
          output.Flush();
          std::_Exit(exitStatus);
        }
      },
      &problems, runOptions);
  if (status != 0) {
    // No window came up (the sockets layer, or another run on this machine).
    record.end = "quit";
    output.Line("end | " + record.end);
    WriteSnapshot(output, options.snapshotFile, nullptr, controls, record);
    return kExitNotFinished;
  }
  return exitStatus;
}

}  // namespace ost
