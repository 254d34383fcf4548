// ost-server-update: the update tool on Linux, working on a machine root.
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "app/startup.h"
#include "frontend/headless/headless.h"
#include "frontend/posix_machine.h"
#include "update/rollback.h"
#ifdef OST_HAVE_TUI
#include "frontend/tui/tui.h"
#endif

namespace {

constexpr int kUsageError = 64;

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: ost-server-update --root DIR [--tui] [--stage]\n"
               "       ost-server-update --root DIR --headless [--route 0|1] [--start]\n"
               "                         [--confirm yes|no] [--snapshot FILE] [--stage]\n"
               "       ost-server-update --root DIR --rollback [RUN]\n"
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
               "  --stage           download and check every package before any service\n"
               "                    is stopped (the staged mode; also StageFirst = 1)\n"
               "  --rollback [RUN]  put back the files the run RUN replaced (the latest run\n"
               "                    with a backup when RUN is left out), then end\n");
}

}  // namespace

int main(int argc, char** argv) {
  ost::HeadlessOptions options;
  std::string root;
  bool headless = false;
  bool tui = false;
  bool rollback = false;
  std::string rollbackRun;
  const char* headlessOption = nullptr;  // an option only the headless run takes
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ost-server-update: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--root") {
      const char* v = value("--root");
      if (!v) return kUsageError;
      root = v;
    } else if (arg == "--headless") {
      headless = true;
    } else if (arg == "--tui") {
      tui = true;
    } else if (arg == "--route") {
      headlessOption = "--route";
      const char* v = value("--route");
      if (!v) return kUsageError;
      if (std::strcmp(v, "0") != 0 && std::strcmp(v, "1") != 0) {
        std::fprintf(stderr, "ost-server-update: --route takes 0 or 1\n");
        return kUsageError;
      }
      options.route = v[0] - '0';
    } else if (arg == "--start") {
      headlessOption = "--start";
      options.start = true;
    } else if (arg == "--confirm") {
      headlessOption = "--confirm";
      const char* v = value("--confirm");
      if (!v) return kUsageError;
      if (std::strcmp(v, "yes") != 0 && std::strcmp(v, "no") != 0) {
        std::fprintf(stderr, "ost-server-update: --confirm takes yes or no\n");
        return kUsageError;
      }
      options.confirm = std::strcmp(v, "yes") == 0;
    } else if (arg == "--snapshot") {
      headlessOption = "--snapshot";
      const char* v = value("--snapshot");
      if (!v) return kUsageError;
      options.snapshotFile = v;
    } else if (arg == "--stage") {
      options.stage = true;
    } else if (arg == "--rollback") {
      rollback = true;
      if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) rollbackRun = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "ost-server-update: unknown option %s\n", arg.c_str());
      PrintUsage(stderr);
      return kUsageError;
    }
  }
  if (root.empty()) {
    std::fprintf(stderr, "ost-server-update: --root DIR is required\n");
    PrintUsage(stderr);
    return kUsageError;
  }
  if (headless && tui) {
    std::fprintf(stderr, "ost-server-update: --headless and --tui exclude each other\n");
    return kUsageError;
  }
  if (rollback && (headless || tui || headlessOption || options.stage)) {
    std::fprintf(stderr, "ost-server-update: --rollback takes no other option but --root\n");
    return kUsageError;
  }
  ost::PosixMachine machine(root);
  if (rollback) {
    return ost::RunRollback(machine.Providers(), rollbackRun, ost::Sha256Of(machine.Providers()),
                            [](const std::string& line) { std::printf("%s\n", line.c_str()); });
  }
  if (headless) return ost::RunHeadless(options, machine.Providers());
  if (headlessOption) {
    std::fprintf(stderr, "ost-server-update: %s needs --headless\n", headlessOption);
    return kUsageError;
  }
#ifdef OST_HAVE_TUI
  if (tui || isatty(STDOUT_FILENO)) return ost::RunTui(machine.Providers(), options.stage);
  std::fprintf(stderr,
               "ost-server-update: standard output is no terminal: give --headless or --tui\n");
#else
  (void)tui;
  std::fprintf(stderr, "ost-server-update: only --headless is available in this build\n");
#endif
  return kUsageError;
}
