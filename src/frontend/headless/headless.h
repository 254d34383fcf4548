// The dialog without a screen, for automation: every change is printed as a line and
// the end state can be written as JSON.
#pragma once

#include <string>

#include "platform/platform.h"

namespace ost {

// Exit statuses of a headless run (and of a usage error).
constexpr int kExitFinished = 0;
constexpr int kExitNotFinished = 1;
constexpr int kExitFinishedNotCleanly = 2;
constexpr int kExitRolledBack = 3;
constexpr int kExitUsage = 64;

struct HeadlessOptions {
  int route = -2;             // radio to check before the start click; -2: leave them
  bool start = false;         // click the start button once a plan is offered
  bool confirm = false;       // the answer to the confirmation box
  std::string snapshotFile;   // where to write the end state; empty: nowhere
  bool stage = false;         // the staged mode
  std::string outputFile;     // where the lines go instead of the standard output
  std::string proxy;          // --proxy host:port
  bool failover = false;      // --failover
  bool autoRollback = false;  // a run that fails after it changed anything rolls back
};

// Where a headless run's lines and files go: each build knows its own console and file
// names. All calls on the UI thread; texts are UTF-8, lines without their line break.
class HeadlessOutput {
 public:
  virtual ~HeadlessOutput() = default;
  // One line of the run (a change, a box, the end).
  virtual void Line(const std::string& text) = 0;
  // Something the operator must know that is not part of the run (a file that could
  // not be written); it also goes where the lines go.
  virtual void Complain(const std::string& text) = 0;
  // Writes bytes to the file named as the operator named it, replacing it; false when
  // that cannot be done completely.
  virtual bool WriteFile(const std::string& name, const std::string& bytes) = 0;
  // Everything written so far reaches its file or console (before the process ends).
  virtual void Flush() = 0;
};

// Runs the whole program on the machine's providers (sockets, registry, services,
// files, system, database); the window, list and controls are its own. Returns one of
// the exit statuses above: finished cleanly, finished not cleanly (a script batch
// failed, a service did not stop or did not start again, a row of the plan ended red),
// or not finished (a snapshot that cannot be written included).
int RunHeadless(const HeadlessOptions& options, const Platform& machine, HeadlessOutput& output);

}  // namespace ost
