#include "frontend/headless/options.h"

namespace ost {

const char kExitStatusHelp[] =
    "Exit status of a headless run:\n"
    "  0   finished: the update is done, or there was nothing to update\n"
    "  2   finished, but not cleanly: a script batch failed, a service did not stop\n"
    "      or did not start again, or a row of the plan ended red; look at the server\n"
    "  1   not finished: the check or the update stopped, the operator declined,\n"
    "      or the snapshot could not be written; or an automatic rollback could not\n"
    "      complete\n"
    "  3   rolled back: the update failed after it changed the server and was rolled\n"
    "      back by itself (--auto-rollback or AutoRollback = 1)\n"
    "  64  usage error\n";

bool AsksForHeadless(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--headless") return true;
  }
  return false;
}

std::string ParseCommandLine(const std::vector<std::string>& args, bool machineRoot,
                             CommandLine* line) {
  *line = CommandLine();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    // Takes the option's value into `value`; false when the line ends before it.
    auto take = [&]() {
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    auto headlessOnly = [&]() {
      if (line->headlessOnly.empty()) line->headlessOnly = arg;
    };
    if (arg == "--help" || arg == "-h") {
      line->help = true;
      return std::string();
    } else if (arg == "--headless") {
      line->headless = true;
    } else if (machineRoot && arg == "--root") {
      if (!take()) return arg + " needs a value";
      line->root = value;
    } else if (machineRoot && arg == "--tui") {
      line->tui = true;
    } else if (arg == "--route") {
      headlessOnly();
      if (!take()) return arg + " needs a value";
      if (value != "0" && value != "1") return "--route takes 0 or 1";
      line->options.route = value[0] - '0';
    } else if (arg == "--start") {
      headlessOnly();
      line->options.start = true;
    } else if (arg == "--confirm") {
      headlessOnly();
      if (!take()) return arg + " needs a value";
      if (value != "yes" && value != "no") return "--confirm takes yes or no";
      line->options.confirm = value == "yes";
    } else if (arg == "--snapshot" || arg == "--output") {
      headlessOnly();
      if (!take()) return arg + " needs a value";
      if (value.empty()) return arg + " needs a file name";
      (arg == "--snapshot" ? line->options.snapshotFile : line->options.outputFile) = value;
    } else if (arg == "--stage") {
      line->options.stage = true;
    } else if (arg == "--proxy") {
      if (!take()) return arg + " needs a value";
      if (value.empty() || value.find(' ') != std::string::npos) return "--proxy takes host:port";
      line->options.proxy = value;
    } else if (arg == "--failover") {
      headlessOnly();
      line->options.failover = true;
    } else if (arg == "--recover") {
      line->recover = true;
    } else if (arg == "--net-check") {
      line->netCheck = true;
    } else if (arg == "--auto-rollback") {
      headlessOnly();
      line->options.autoRollback = true;
    } else if (arg == "--rollback") {
      line->rollback = true;
      if (i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0) {
        line->rollbackRun = args[++i];
      }
    } else {
      return "unknown option " + arg;
    }
  }
  if (machineRoot && line->root.empty()) return "--root DIR is required";
  if (line->headless && line->tui) return "--headless and --tui exclude each other";
  if (line->rollback && (line->headless || line->tui || line->options.stage))
    return "--rollback takes no other option";
  if (line->recover && (line->rollback || line->netCheck || line->headless || line->tui ||
                        line->options.stage || !line->options.proxy.empty()))
    return "--recover takes no other option";
  if (line->netCheck && (line->rollback || line->headless || line->tui || line->options.stage ||
                         line->options.failover))
    return "--net-check takes no other option but --proxy";
  if (!line->options.proxy.empty() && !line->headless && !line->netCheck)
    return "--proxy needs --headless or --net-check";
  if (!line->headless && !line->headlessOnly.empty())
    return line->headlessOnly + " needs --headless";
  return std::string();
}

}  // namespace ost
