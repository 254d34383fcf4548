// The Linux stand-in for the Service Control Manager: the services of a machine root,
// kept in DIR/services.json. Every call reads the file afresh, so another process (the
// sandbox tool, a test, a person with an editor) may change it between calls, and every
// change of state is written back so that they can watch it.
//
//   {"services": {"CSOstraServer": {"state": 4, "binaryPath": "C:\\OSTRA\\CSOstraServer.exe"}}}
//
// Members of a service (only "state" is required; unknown members are an error, so that
// a misspelt knob does not pass unnoticed):
//   state             Windows state number: 1 stopped, 2 start pending, 3 stop pending,
//                     4 running, 5 continue pending, 6 pause pending, 7 paused.
//   binaryPath        the executable path exactly as configured (quotes and arguments
//                     included), UTF-8; default "".
//   startPendingMs    how long an accepted start stays in state 2 before it settles;
//                     default 0, the start settles at once.
//   stopPendingMs     the same for the stop control and state 3. With 0 the stop control
//                     reports 1 (stopped) at once, otherwise it reports 3.
//   refuseStart       the start call fails; the state stays.
//   refuseStop        the stop control fails; the state stays.
//   startEndsStopped  the start is accepted but settles to 1 instead of 4, as a service
//                     that dies while it starts.
//   neverSettle       an accepted start or stop stays pending for ever.
//   denyAccess        opening the service fails, as for a caller without the right.
//   configTooLarge    the configuration query fails whatever the buffer, as for a
//                     configuration larger than the caller's buffer.
//   processLingerMs   how long the service's process goes on after the service reported
//                     stopped, holding its program, as a process still shutting down;
//                     default 0.
//   dependsOn         names of services this one depends on: while it is not stopped,
//                     they refuse the stop control.
//   processEndsAtMs   kept by the stand-in while a stopped service's process lingers:
//                     the wall-clock time at which it ends.
//   crashAtMs         kept by the stand-in while a running service's program is one that
//                     stops by itself (its bytes hold OST-CRASH-AFTER-START): the
//                     wall-clock time, 2 s after it reached running, at which it stops.
//                     A program holding OST-CRASH-AT-START never reaches running: its
//                     start settles to 1, as with startEndsStopped.
//   settleAtMs        kept by the stand-in while a state is pending: the wall-clock time
//                     (Unix epoch, milliseconds) at which it settles: 2 to 4 (1 with
//                     startEndsStopped), 3 to 1, 5 to 4, 6 to 7. Wall-clock, because the
//                     processes sharing the file share no other clock. A pending state
//                     without it, or with neverSettle, stays pending.
// Top-level members other than "services" are kept when the file is written back.
//
// What the controls accept, as the real manager does: a start only from state 1; the
// stop control only from 4, 5, 6 and 7. A start or stop needs a service opened with
// ServiceAccess::kAll, the state query kQueryStatus or kAll, the configuration query
// kQueryConfig or kAll, the list of dependents kEnumerateDependents alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/services_port.h"

namespace ost {

// One service of services.json, with every knob at its default unless set.
struct ServiceRecord {
  std::string name;  // the key name, as spelt in the file
  int32_t state = 1;
  std::string binaryPath;
  int64_t startPendingMs = 0;
  int64_t stopPendingMs = 0;
  bool refuseStart = false;
  bool refuseStop = false;
  bool startEndsStopped = false;
  bool neverSettle = false;
  bool denyAccess = false;
  bool configTooLarge = false;
  int64_t processLingerMs = 0;
  std::vector<std::string> dependsOn;
  std::optional<int64_t> processEndsAtMs;
  std::optional<int64_t> settleAtMs;
  std::optional<int64_t> crashAtMs;
};

// The services that depend on `name` and are not stopped at nowMs, in file order.
std::vector<std::string> ActiveDependentsOf(const std::vector<ServiceRecord>& services,
                                            std::string_view name, int64_t nowMs);

// Service names compare as the manager compares them: ASCII letters in any case.
bool ServiceNamesEqual(std::string_view a, std::string_view b);

// The service of this name, or nullptr.
const ServiceRecord* FindServiceRecord(const std::vector<ServiceRecord>& services,
                                       std::string_view name);

// Reads and checks services.json; the services in file order. False with the reason
// (file name, and line and column for a syntax error) in *error.
bool ReadServicesFile(const std::string& path, std::vector<ServiceRecord>* services,
                      std::string* error);

// Writes services.json through a temporary file and a rename, so a reader never sees
// half of it. Fails, leaving the file as it was, for services the reader would reject
// (state outside 1..7, a negative time, an empty or repeated name).
bool WriteServicesFile(const std::string& path, const std::vector<ServiceRecord>& services,
                       std::string* error);

// The bytes a configuration query needs for this binary path: the 64-byte fixed part of
// QUERY_SERVICE_CONFIGW on 64-bit Windows plus the path in UTF-16 with its terminator.
size_t ServiceConfigBytes(std::string_view binaryPath);

// Milliseconds since the Unix epoch from the system clock.
int64_t WallClockMs();

// What Windows keeps from being overwritten or deleted while it runs: the programs of
// services whose process is alive (any state but stopped, a pending one that has
// settled by nowMs counted as settled), as configured paths (the text inside quotes of
// a quoted path); and whether the web server (W3SVC) is alive, which holds the web
// DLLs it has loaded.
struct ProgramsInUse {
  std::vector<std::string> programs;
  bool webServerAlive = false;
};
ProgramsInUse ProgramsInUseAt(const std::vector<ServiceRecord>& services, int64_t nowMs);

struct ServicesDocument;

// Meant for one thread, like the other providers; it takes no locks. Handles are never
// reused, so a stale one stays invalid.
class PosixServices : public ServicesPort {
 public:
  using Clock = std::function<int64_t()>;  // Unix epoch milliseconds
  using Sleeper = std::function<void(int64_t milliseconds)>;

  // An empty clock means WallClockMs, an empty sleeper the thread's own sleep.
  explicit PosixServices(std::string servicesFile, Clock clock = {}, Sleeper sleep = {});
  ~PosixServices() override;

  // Fails when the file is missing, unreadable or not a valid services file.
  ServiceHandle OpenManager(ManagerAccess access) override;
  // Fails for an invalid manager handle, a file that no longer reads, a name not in the
  // file, and a service with denyAccess.
  ServiceHandle OpenServiceNamed(ServiceHandle manager, const std::string& name,
                                 ServiceAccess access) override;
  // A pending state whose deadline has passed settles first, and is written back.
  bool QueryState(ServiceHandle service, int32_t* state) override;
  bool Start(ServiceHandle service) override;
  // *state is written only on success.
  bool Stop(ServiceHandle service, int32_t* state) override;
  // Fails when ServiceConfigBytes of the path exceeds bufferChars wide characters, and
  // with configTooLarge.
  bool QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) override;
  void Close(ServiceHandle handle) override;
  // A service that is not stopped, or whose process still lingers, has one.
  ProcessHandle OpenOwnProcess(ServiceHandle service) override;
  // Follows the service's file: its process ends once it is stopped and has lingered.
  bool WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) override;
  void CloseProcess(ProcessHandle process) override;
  std::vector<std::string> ActiveDependents(ServiceHandle service) override;

  // Reads a service's program (its configured binary path, as in the file) for the
  // crash markers; none set, or empty bytes: no program fails by itself.
  void SetProgramReader(std::function<std::string(const std::string& binaryPath)> read) {
    readProgram_ = std::move(read);
  }

  // Why the last call failed, empty after a success; a query that succeeded but could
  // not write its settled state back leaves that reason here too. For logs.
  const std::string& LastError() const { return lastError_; }

 private:
  struct OpenHandle {
    bool isService = false;
    std::string name;
    ServiceAccess access = ServiceAccess::kQueryStatus;
  };

  // The open service behind the handle, when it was opened with `right` or kAll.
  const OpenHandle* ServiceFor(ServiceHandle handle, ServiceAccess right, const char* action);
  // Reads the file and finds the handle's service in it (doc->index), settling a pending
  // state whose time has come.
  bool LoadService(const OpenHandle& handle, ServicesDocument* doc);
  // Its program holds the marker of one that never reaches running.
  bool DiesAtStart(const ServiceRecord& record) const;
  // Writes the service's state back; false with lastError_ set when that fails.
  bool WriteBack(ServicesDocument* doc);
  void LogTransitions(const std::string& name, ServicesDocument* doc);

  std::string path_;
  std::function<std::string(const std::string&)> readProgram_;
  Clock clock_;
  Sleeper sleep_;
  std::unordered_map<ServiceHandle, OpenHandle> open_;
  std::unordered_map<ProcessHandle, std::string> processes_;  // the service's name
  ServiceHandle nextHandle_ = 1;
  std::string lastError_;
};

}  // namespace ost
