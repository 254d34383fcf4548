// Entry point of the Windows build: the Win32 providers, the dialog window, the run.
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/startup.h"
#include "app/texts.h"
#include "commands/recover.h"
#include "commands/rollback.h"
#include "console_output.h"
#include "dialog_controls.h"
#include "dll_search.h"
#include "frontend/headless/headless.h"
#include "frontend/headless/options.h"
#include "listview_report_list.h"
#include "platform/win32/win32_platform.h"
#include "update/net_check.h"
#include "update_window.h"
#include "wide_text.h"
#include "win32_headers.h"

namespace {

const char kUsage[] =
    "usage: OstServerUpdate.exe [--stage]\n"
    "       OstServerUpdate.exe --headless [--route 0|1] [--start] [--confirm yes|no]\n"
    "                           [--snapshot FILE] [--output FILE] [--stage]\n"
    "                           [--proxy HOST:PORT] [--failover]\n"
    "                           [--auto-rollback]\n"
    "       OstServerUpdate.exe --rollback [RUN]\n"
    "       OstServerUpdate.exe --recover\n"
    "       OstServerUpdate.exe --net-check [--proxy HOST:PORT]\n"
    "\n"
    "Without options: the update dialog. With --headless the same update runs without\n"
    "a window: one line per change on the console it was started from, every OK box\n"
    "answered with OK.\n"
    "  --headless        no window\n"
    "  --route 0|1       check this route radio before the start click\n"
    "  --start           click the start button once a plan is offered\n"
    "  --confirm yes|no  the answer to the confirmation box (default no)\n"
    "  --snapshot FILE   write the end state as JSON to FILE\n"
    "  --output FILE     write the lines to FILE (where there is no console, as under\n"
    "                    Task Scheduler)\n"
    "  --stage           download and check every package before any service is\n"
    "                    stopped (the staged mode; also the registry value StageFirst)\n"
    "  --proxy HOST:PORT the HTTP proxy to the update hosts (before UpdateProxy and\n"
    "                    the machine's WinHTTP proxy)\n"
    "  --failover        a download that fails on its host is tried once on the other\n"
    "                    route's host (also the registry value Failover)\n"
    "  --net-check       try every way to the update hosts (proxy, direct, each route),\n"
    "                    one line each; exit 0 when one of them reaches server.txt\n"
    "  --auto-rollback   a run that fails after it changed anything puts the server\n"
    "                    back by itself, exit 3 (also the registry value AutoRollback)\n"
    "  --rollback [RUN]  put back the files the run RUN replaced (the latest run with\n"
    "                    a backup when RUN is left out), then end\n"
    "  --recover         put the server back as before a run that was killed or lost\n"
    "                    its power half-way (no update host needed): exit 0 when it\n"
    "                    is back or there was none, 1 when something stayed changed\n"
    "\n";

// The program's arguments as UTF-8, its own name left out.
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(ost::WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

// Text for a box of the dialog's kind, without a window.
void ShowBox(const std::string& text, UINT icon) {
  MessageBoxW(nullptr, ost::Utf8ToWide(text).c_str(), ost::Utf8ToWide(ost::text::kAppName).c_str(),
              MB_OK | icon | MB_SETFOREGROUND);
}

int RunDialog(HINSTANCE instance, bool stage) {
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&classes);

  ost::Win32Platform machine;
  ost::ListViewReportList list;
  ost::Win32DialogControls controls;
  ost::Win32UpdateWindow window(instance, list, controls);
  ost::Platform platform = machine;
  platform.window = &window;
  platform.list = &list;
  platform.controls = &controls;

  ost::RunOptions options;
  options.stageFirst = stage;
  return ost::RunApplication(
      platform,
      [&window](ost::UpdateDialog& dialog) {
        window.RunModal(dialog);
        // A download may still run: its worker receives into the job and posts to this
        // window, on sockets this function would shut down. Nobody waits for it (a
        // stalled host can hold it for a quarter of an hour): the process ends here,
        // before anything the worker uses is torn down.
        if (dialog.DownloadRunning()) ExitProcess(0);
      },
      nullptr, options);
}

// The rollback command: its lines on the console it was started from; started without
// one (from Explorer), they are shown in one box at the end.
int RunRollbackCommand(ost::ConsoleOutput& output, const std::string& run) {
  std::string said;
  ost::Win32Platform machine;
  const ost::Platform platform = machine;
  const int status =
      ost::RunRollback(platform, run, ost::Sha256Of(platform), [&](const std::string& text) {
        output.Line(text);
        said += text + "\n";
      });
  output.Flush();
  if (!output.HasConsole()) ShowBox(said, status == 0 ? MB_ICONINFORMATION : MB_ICONWARNING);
  return status;
}

// --recover: its lines on the console when there is one. Never a box: at start-up under
// Task Scheduler nobody could answer it; the journal keeps every line.
int RunRecoverCommand(ost::ConsoleOutput& output) {
  ost::Win32Platform machine;
  const ost::Platform platform = machine;
  const int status = ost::RunRecover(platform, ost::Sha256Of(platform),
                                     [&](const std::string& text) { output.Line(text); });
  output.Flush();
  return status;
}

// --net-check: its lines on the console, or in one box without one.
int RunNetCheckCommand(ost::ConsoleOutput& output, const std::string& proxy) {
  std::string said;
  ost::Win32Platform machine;
  const int status = ost::RunNetCheck(machine, proxy, [&](const std::string& text) {
    output.Line(text);
    said += text + "\n";
  });
  output.Flush();
  if (!output.HasConsole()) ShowBox(said, status == 0 ? MB_ICONINFORMATION : MB_ICONWARNING);
  return status;
}

// The command line given: help, a usage error, or the headless run. A usage error is
// told the way the operator asked to be told: on the console for a headless run, in a
// box otherwise.
int RunCommandLine(HINSTANCE instance, const std::vector<std::string>& args) {
  ost::ConsoleOutput output;
  ost::CommandLine line;
  std::string error = ost::ParseCommandLine(args, /*machineRoot=*/false, &line);
  if (!error.empty()) {
    if (ost::AsksForHeadless(args)) {
      output.Error(error);
      output.Error("OstServerUpdate.exe --help lists the options");
    } else {
      ShowBox(error + "\n\n" + kUsage + ost::kExitStatusHelp, MB_ICONERROR);
    }
    return ost::kExitUsage;
  }
  if (line.help) {
    std::string usage = std::string(kUsage) + ost::kExitStatusHelp;
    if (output.HasConsole()) {
      output.Text(usage);
    } else {
      ShowBox(usage, MB_ICONINFORMATION);
    }
    return 0;
  }
  if (line.rollback) return RunRollbackCommand(output, line.rollbackRun);
  if (line.recover) return RunRecoverCommand(output);
  if (line.netCheck) return RunNetCheckCommand(output, line.options.proxy);
  if (!line.headless) return RunDialog(instance, line.options.stage);
  if (!line.options.outputFile.empty() && !output.OpenOutputFile(line.options.outputFile)) {
    output.Error("cannot write the output file " + line.options.outputFile);
    return ost::kExitNotFinished;
  }
  ost::Win32Platform machine;
  return ost::RunHeadless(line.options, machine, output);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  // First: before anything could load a DLL by name.
  if (!ost::RestrictDllSearch()) {
    ShowBox(ost::text::kDllSearchUnsafe, MB_ICONSTOP);
    return 1;
  }
  // The component-object layer is not needed by the tool itself; it is started for
  // whatever a shell or driver component loaded into the process may expect.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::vector<std::string> args = Arguments();
  // Without options it is the dialog, as it always was.
  int status = args.empty() ? RunDialog(instance, false) : RunCommandLine(instance, args);
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
