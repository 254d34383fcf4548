// ost-server-update: the update tool on Linux, working on a machine root.
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/startup.h"
#include "commands/recover.h"
#include "commands/rollback.h"
#include "frontend/headless/headless.h"
#include "frontend/headless/options.h"
#include "frontend/headless/stdio_output.h"
#include "platform/posix/posix_platform.h"
#include "update/net_check.h"
#ifdef OST_HAVE_TUI
#include "frontend/tui/tui.h"
#endif

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: ost-server-update --root DIR [--tui] [--stage]\n"
               "       ost-server-update --root DIR --headless [--route 0|1] [--start]\n"
               "                         [--confirm yes|no] [--snapshot FILE] [--output FILE]\n"
               "                         [--stage] [--auto-rollback]\n"
               "                         [--proxy HOST:PORT] [--failover]\n"
               "       ost-server-update --root DIR --rollback [RUN]\n"
               "       ost-server-update --root DIR --recover\n"
               "       ost-server-update --root DIR --net-check [--proxy HOST:PORT]\n"
               "\n"
               "Runs the server update on the machine root DIR (see ost-sandbox). Without\n"
               "--headless it opens the dialog in the terminal when standard output is one.\n"
               "  --root DIR        the folder that stands for the server machine\n"
               "  --tui             the dialog in the terminal (full screen)\n"
               "  --headless        no screen: one line per change, boxes answered at once\n"
               "  --route 0|1       check this route radio before the start click\n"
               "  --start           click the start button once a plan is offered\n"
               "  --confirm yes|no  the answer to the confirmation box (default no)\n"
               "  --snapshot FILE   write the end state as JSON to FILE\n"
               "  --output FILE     write the lines to FILE instead of standard output\n"
               "  --stage           download and check every package before any service\n"
               "                    is stopped (the staged mode; also StageFirst = 1)\n"
               "  --proxy HOST:PORT the HTTP proxy to the update hosts (before UpdateProxy\n"
               "                    and the machine's WinHTTP proxy)\n"
               "  --failover        a download that fails on its host is tried once on the\n"
               "                    other route's host (also Failover = 1)\n"
               "  --net-check       try every way to the update hosts (proxy, direct, each\n"
               "                    route), one line each; exit 0 when one reaches server.txt\n"
               "  --auto-rollback   a run that fails after it changed anything puts the\n"
               "                    server back by itself, exit 3 (also AutoRollback = 1)\n"
               "  --rollback [RUN]  put back the files the run RUN replaced (the latest run\n"
               "                    with a backup when RUN is left out), then end\n"
               "  --recover         put the server back as before a run that was killed or\n"
               "                    lost its power half-way (no update host needed): exit 0\n"
               "                    when it is back or there was none, 1 when something\n"
               "                    stayed changed\n"
               "\n%s",
               ost::kExitStatusHelp);
}

}  // namespace

int main(int argc, char** argv) {
  ost::CommandLine line;
  std::string error = ost::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                            /*machineRoot=*/true, &line);
  if (!error.empty()) {
    std::fprintf(stderr, "ost-server-update: %s\n", error.c_str());
    PrintUsage(stderr);
    return ost::kExitUsage;
  }
  if (line.help) {
    PrintUsage(stdout);
    return 0;
  }
  ost::PosixPlatform machine(line.root);
  if (line.rollback) {
    const ost::Platform& platform = machine;
    return ost::RunRollback(platform, line.rollbackRun, ost::Sha256Of(platform),
                            [](const std::string& text) { std::printf("%s\n", text.c_str()); });
  }
  if (line.recover) {
    const ost::Platform& platform = machine;
    return ost::RunRecover(platform, ost::Sha256Of(platform), [](const std::string& text) {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    });
  }
  if (line.netCheck) {
    return ost::RunNetCheck(machine, line.options.proxy, [](const std::string& text) {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    });
  }
  if (line.headless) {
    ost::StdioOutput output;
    if (!line.options.outputFile.empty() && !output.OpenOutputFile(line.options.outputFile)) {
      std::fprintf(stderr, "ost-server-update: cannot write the output file %s\n",
                   line.options.outputFile.c_str());
      return ost::kExitNotFinished;
    }
    return ost::RunHeadless(line.options, machine, output);
  }
#ifdef OST_HAVE_TUI
  if (line.tui || isatty(STDOUT_FILENO)) return ost::RunTui(machine, line.options.stage);
  std::fprintf(stderr,
               "ost-server-update: standard output is no terminal: give --headless or --tui\n");
#else
  std::fprintf(stderr, "ost-server-update: only --headless is available in this build\n");
#endif
  return ost::kExitUsage;
}
