// The command line of both builds: the headless options they share, and the machine
// root options only the Linux build takes.
#pragma once

#include <string>
#include <vector>

#include "frontend/headless/headless.h"

namespace ost {

struct CommandLine {
  bool help = false;
  bool headless = false;
  bool tui = false;  // machine root builds only
  std::string root;  // machine root builds only
  HeadlessOptions options;
  // --rollback [RUN]: put back a run's files instead of updating.
  bool rollback = false;
  std::string rollbackRun;  // empty: the latest run with a backup
  // --recover: rolls back a run that was killed half-way instead of updating.
  bool recover = false;
  // --net-check: tries every way to the update hosts instead of updating.
  bool netCheck = false;
  // The first option given that only a headless run takes ("" when none).
  std::string headlessOnly;
};

// Reads args (the program's name left out). machineRoot: the build works on a machine
// root and takes --root and --tui. Returns "" when the line is sound, else what is wrong
// with it, as one line for the operator (a usage error).
std::string ParseCommandLine(const std::vector<std::string>& args, bool machineRoot,
                             CommandLine* line);

// Whether the line asks for a headless run, looked for before it is parsed: a usage
// error is then reported as the headless run reports, not as the dialog would.
bool AsksForHeadless(const std::vector<std::string>& args);

// The exit statuses of a headless run, for the help texts of both builds.
extern const char kExitStatusHelp[];

}  // namespace ost
