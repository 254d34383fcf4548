#include "platform/posix/posix_services.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

namespace ost {

namespace {

// Keeps the member order a person wrote, so a written-back file still reads as theirs.
using Json = nlohmann::ordered_json;

constexpr int32_t kStopped = 1;
constexpr int32_t kStartPending = 2;
constexpr int32_t kStopPending = 3;
constexpr int32_t kRunning = 4;
constexpr int32_t kContinuePending = 5;
constexpr int32_t kPausePending = 6;
constexpr int32_t kPaused = 7;

// The fixed part of QUERY_SERVICE_CONFIGW on 64-bit Windows.
constexpr size_t kConfigRecordBytes = 64;

struct BoolKnob {
  const char* name;
  bool ServiceRecord::*field;
};

constexpr BoolKnob kBoolKnobs[] = {
    {"refuseStart", &ServiceRecord::refuseStart},
    {"refuseStop", &ServiceRecord::refuseStop},
    {"startEndsStopped", &ServiceRecord::startEndsStopped},
    {"neverSettle", &ServiceRecord::neverSettle},
    {"denyAccess", &ServiceRecord::denyAccess},
    {"configTooLarge", &ServiceRecord::configTooLarge},
};

bool IsPending(int32_t state) {
  return state == kStartPending || state == kStopPending || state == kContinuePending ||
         state == kPausePending;
}

int32_t SettledState(const ServiceRecord& record) {
  switch (record.state) {
    case kStartPending:
      return record.startEndsStopped ? kStopped : kRunning;
    case kStopPending:
      return kStopped;
    case kContinuePending:
      return kRunning;
    case kPausePending:
      return kPaused;
    default:
      return record.state;
  }
}

int64_t AddClamped(int64_t now, int64_t ms) {
  return ms > std::numeric_limits<int64_t>::max() - now ? std::numeric_limits<int64_t>::max()
                                                        : now + ms;
}

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

bool ReadInt64(const Json& value, int64_t* out) {
  if (value.is_number_unsigned()) {
    auto number = value.get<uint64_t>();
    if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    *out = static_cast<int64_t>(number);
    return true;
  }
  if (!value.is_number_integer()) return false;
  *out = value.get<int64_t>();
  return true;
}

bool CheckRecord(const ServiceRecord& record, std::string* error) {
  if (record.name.empty()) {
    *error = "a service has an empty name";
  } else if (record.state < kStopped || record.state > kPaused) {
    *error = "service " + Quoted(record.name) + ": state " + std::to_string(record.state) +
             " is not a service state (1 to 7)";
  } else if (record.startPendingMs < 0 || record.stopPendingMs < 0) {
    *error = "service " + Quoted(record.name) + ": a pending time is negative";
  } else if (record.processLingerMs < 0) {
    *error = "service " + Quoted(record.name) + ": the linger time is negative";
  } else {
    return true;
  }
  return false;
}

bool CheckRecords(const std::vector<ServiceRecord>& services, std::string* error) {
  for (size_t i = 0; i < services.size(); ++i) {
    if (!CheckRecord(services[i], error)) return false;
    for (size_t j = 0; j < i; ++j) {
      // The manager could not tell these apart.
      if (ServiceNamesEqual(services[i].name, services[j].name)) {
        *error = "services " + Quoted(services[j].name) + " and " + Quoted(services[i].name) +
                 " differ only in letter case";
        return false;
      }
    }
  }
  return true;
}

// Reads one member of a service into the record; false with the reason.
bool ReadMember(const std::string& key, const Json& value, ServiceRecord* record,
                std::string* error) {
  int64_t number = 0;
  if (key == "state") {
    if (!ReadInt64(value, &number) || number < kStopped || number > kPaused) {
      *error = "\"state\" must be an integer from 1 to 7";
      return false;
    }
    record->state = static_cast<int32_t>(number);
  } else if (key == "binaryPath") {
    if (!value.is_string()) {
      *error = "\"binaryPath\" must be a string";
      return false;
    }
    record->binaryPath = value.get<std::string>();
  } else if (key == "startPendingMs" || key == "stopPendingMs") {
    if (!ReadInt64(value, &number) || number < 0) {
      *error = "\"" + key + "\" must be a non-negative integer";
      return false;
    }
    (key == "startPendingMs" ? record->startPendingMs : record->stopPendingMs) = number;
  } else if (key == "processLingerMs") {
    if (!ReadInt64(value, &number) || number < 0) {
      *error = "\"processLingerMs\" must be a non-negative integer";
      return false;
    }
    record->processLingerMs = number;
  } else if (key == "dependsOn") {
    if (!value.is_array()) {
      *error = "\"dependsOn\" must be a list of service names";
      return false;
    }
    for (const Json& name : value) {
      if (!name.is_string() || name.get<std::string>().empty()) {
        *error = "\"dependsOn\" must be a list of service names";
        return false;
      }
      record->dependsOn.push_back(name.get<std::string>());
    }
  } else if (key == "settleAtMs" || key == "processEndsAtMs" || key == "crashAtMs") {
    if (!ReadInt64(value, &number)) {
      *error = "\"" + key + "\" must be an integer";
      return false;
    }
    (key == "settleAtMs"        ? record->settleAtMs
     : key == "processEndsAtMs" ? record->processEndsAtMs
                                : record->crashAtMs) = number;
  } else {
    for (const BoolKnob& knob : kBoolKnobs) {
      if (key != knob.name) continue;
      if (!value.is_boolean()) {
        *error = "\"" + key + "\" must be true or false";
        return false;
      }
      record->*knob.field = value.get<bool>();
      return true;
    }
    *error = "unknown member \"" + key + "\"";
    return false;
  }
  return true;
}

bool ParseServices(const Json& doc, std::vector<ServiceRecord>* services, std::string* error) {
  if (!doc.is_object()) {
    *error = "the top level is not an object";
    return false;
  }
  auto list = doc.find("services");
  if (list == doc.end() || !list->is_object()) {
    *error = "no \"services\" object";
    return false;
  }
  services->clear();
  for (auto it = list->begin(); it != list->end(); ++it) {
    ServiceRecord record;
    record.name = it.key();
    if (!it.value().is_object()) {
      *error = "service " + Quoted(record.name) + " is not an object";
      return false;
    }
    if (it.value().find("state") == it.value().end()) {
      *error = "service " + Quoted(record.name) + " has no \"state\"";
      return false;
    }
    for (auto member = it.value().begin(); member != it.value().end(); ++member) {
      std::string reason;
      if (!ReadMember(member.key(), member.value(), &record, &reason)) {
        *error = "service " + Quoted(record.name) + ": " + reason;
        return false;
      }
    }
    services->push_back(std::move(record));
  }
  return CheckRecords(*services, error);
}

Json RecordToJson(const ServiceRecord& record) {
  Json entry = Json::object();
  entry["state"] = record.state;
  entry["binaryPath"] = record.binaryPath;
  if (record.startPendingMs != 0) entry["startPendingMs"] = record.startPendingMs;
  if (record.stopPendingMs != 0) entry["stopPendingMs"] = record.stopPendingMs;
  for (const BoolKnob& knob : kBoolKnobs) {
    if (record.*knob.field) entry[knob.name] = true;
  }
  if (record.processLingerMs != 0) entry["processLingerMs"] = record.processLingerMs;
  if (!record.dependsOn.empty()) entry["dependsOn"] = record.dependsOn;
  if (record.processEndsAtMs) entry["processEndsAtMs"] = *record.processEndsAtMs;
  if (record.settleAtMs) entry["settleAtMs"] = *record.settleAtMs;
  if (record.crashAtMs) entry["crashAtMs"] = *record.crashAtMs;
  return entry;
}

bool ReadText(const std::string& path, std::string* text, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  char buffer[16384];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
  bool failed = std::ferror(file) != 0;
  int code = errno;
  std::fclose(file);
  if (failed) *error = path + ": " + std::strerror(code);
  return !failed;
}

bool LoadJson(const std::string& path, Json* doc, std::string* error) {
  std::string text;
  if (!ReadText(path, &text, error)) return false;
  try {
    *doc = Json::parse(text);
  } catch (const Json::exception& e) {
    *error = path + ": " + e.what();
    return false;
  }
  return true;
}

bool LoadServices(const std::string& path, Json* doc, std::vector<ServiceRecord>* services,
                  std::string* error) {
  if (!LoadJson(path, doc, error)) return false;
  std::string reason;
  if (!ParseServices(*doc, services, &reason)) {
    *error = path + ": " + reason;
    return false;
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// A temporary file of its own beside the target, so that two processes writing at
// once never share one, and a rename that readers see whole or not at all.
bool SaveJson(const std::string& path, const Json& doc, std::string* error) {
  std::string text;
  try {
    text = doc.dump(2) + "\n";
  } catch (const Json::exception& e) {
    *error = path + ": " + e.what();
    return false;
  }
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    *error = temporary + ": " + std::strerror(errno);
    return false;
  }
  // mkstemp makes the file private; the services file is for anyone to read.
  bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text);
  int code = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    *error = path + ": " + std::strerror(code);
    ::unlink(temporary.c_str());
  }
  return ok;
}

}  // namespace

struct ServicesDocument {
  Json json;
  std::vector<ServiceRecord> services;
  size_t index = 0;      // the service the call is about
  int64_t nowMs = 0;     // one reading of the clock per call
  bool changed = false;  // its state differs from the file's
  // Each state the service took in this call, with when it took it.
  std::vector<std::pair<int64_t, int32_t>> transitions;
};

namespace {

// When a stopped service's process ends: it lingers after a stop, not after a start
// that failed.
std::optional<int64_t> ProcessEnd(const ServiceRecord& record, int32_t from, int64_t stoppedAtMs) {
  if (record.processLingerMs == 0 || from == kStartPending) return std::nullopt;
  return AddClamped(stoppedAtMs, record.processLingerMs);
}

void SetState(ServicesDocument* doc, int32_t state, int64_t atMs) {
  ServiceRecord& record = doc->services[doc->index];
  if (record.state != state) {
    doc->transitions.emplace_back(atMs, state);
    record.processEndsAtMs =
        state == kStopped ? ProcessEnd(record, record.state, atMs) : std::nullopt;
  }
  record.state = state;
  doc->changed = true;
}

// True when the service is stopped and its process no longer lingers (its record
// settled as of nowMs).
bool ProcessEnded(const ServiceRecord& record, int64_t nowMs) {
  return record.state == kStopped && (!record.processEndsAtMs || *record.processEndsAtMs <= nowMs);
}

// The state a service is in at nowMs, a pending one whose time has come settled.
int32_t StateAt(const ServiceRecord& record, int64_t nowMs) {
  if (IsPending(record.state) && record.settleAtMs && !record.neverSettle &&
      nowMs >= *record.settleAtMs) {
    return SettledState(record);
  }
  if (record.state == kRunning && record.crashAtMs && nowMs >= *record.crashAtMs) return kStopped;
  return record.state;
}

}  // namespace

std::vector<std::string> ActiveDependentsOf(const std::vector<ServiceRecord>& services,
                                            std::string_view name, int64_t nowMs) {
  std::vector<std::string> names;
  for (const ServiceRecord& record : services) {
    if (StateAt(record, nowMs) == kStopped) continue;
    for (const std::string& needed : record.dependsOn) {
      if (ServiceNamesEqual(needed, name)) {
        names.push_back(record.name);
        break;
      }
    }
  }
  return names;
}

bool ServiceNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

const ServiceRecord* FindServiceRecord(const std::vector<ServiceRecord>& services,
                                       std::string_view name) {
  for (const ServiceRecord& record : services) {
    if (ServiceNamesEqual(record.name, name)) return &record;
  }
  return nullptr;
}

bool ReadServicesFile(const std::string& path, std::vector<ServiceRecord>* services,
                      std::string* error) {
  Json doc;
  std::string reason;
  bool ok = LoadServices(path, &doc, services, &reason);
  if (!ok && error) *error = reason;
  return ok;
}

bool WriteServicesFile(const std::string& path, const std::vector<ServiceRecord>& services,
                       std::string* error) {
  std::string reason;
  bool ok = CheckRecords(services, &reason);
  if (!ok) {
    reason = path + ": " + reason;
  } else {
    Json doc = Json::object();
    doc["services"] = Json::object();
    for (const ServiceRecord& record : services)
      doc["services"][record.name] = RecordToJson(record);
    ok = SaveJson(path, doc, &reason);
  }
  if (!ok && error) *error = reason;
  return ok;
}

size_t ServiceConfigBytes(std::string_view binaryPath) {
  size_t units = 0;
  for (char c : binaryPath) {
    auto byte = static_cast<unsigned char>(c);
    // A lead byte starts a character; four-byte characters need a surrogate pair.
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return kConfigRecordBytes + 2 * (units + 1);
}

int64_t WallClockMs() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::system_clock;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

PosixServices::PosixServices(std::string servicesFile, Clock clock, Sleeper sleep)
    : path_(std::move(servicesFile)),
      clock_(clock ? std::move(clock) : Clock(WallClockMs)),
      sleep_(sleep ? std::move(sleep) : Sleeper([](int64_t ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      })) {}

PosixServices::~PosixServices() = default;

ServiceHandle PosixServices::OpenManager(ManagerAccess /*access*/) {
  lastError_.clear();
  Json doc;
  std::vector<ServiceRecord> services;
  if (!LoadServices(path_, &doc, &services, &lastError_)) return 0;
  ServiceHandle handle = nextHandle_++;
  open_.emplace(handle, OpenHandle{});
  return handle;
}

ServiceHandle PosixServices::OpenServiceNamed(ServiceHandle manager, const std::string& name,
                                              ServiceAccess access) {
  lastError_.clear();
  auto it = open_.find(manager);
  if (it == open_.end() || it->second.isService) {
    lastError_ = "handle " + std::to_string(manager) + " is not an open service manager";
    return 0;
  }
  Json doc;
  std::vector<ServiceRecord> services;
  if (!LoadServices(path_, &doc, &services, &lastError_)) return 0;
  const ServiceRecord* record = FindServiceRecord(services, name);
  if (!record) {
    lastError_ = path_ + ": no service " + Quoted(name);
    return 0;
  }
  if (record->denyAccess) {
    lastError_ = "service " + Quoted(record->name) + ": access denied (denyAccess)";
    return 0;
  }
  ServiceHandle handle = nextHandle_++;
  open_.emplace(handle, OpenHandle{true, record->name, access});
  return handle;
}

const PosixServices::OpenHandle* PosixServices::ServiceFor(ServiceHandle handle,
                                                           ServiceAccess right,
                                                           const char* action) {
  auto it = open_.find(handle);
  if (it == open_.end() || !it->second.isService) {
    lastError_ = "handle " + std::to_string(handle) + " is not an open service";
    return nullptr;
  }
  if (it->second.access != right && it->second.access != ServiceAccess::kAll) {
    lastError_ =
        "service " + Quoted(it->second.name) + " was not opened with the right to " + action;
    return nullptr;
  }
  return &it->second;
}

bool PosixServices::LoadService(const OpenHandle& handle, ServicesDocument* doc) {
  if (!LoadServices(path_, &doc->json, &doc->services, &lastError_)) return false;
  const ServiceRecord* found = FindServiceRecord(doc->services, handle.name);
  if (!found) {
    lastError_ = path_ + ": service " + Quoted(handle.name) + " is gone";
    return false;
  }
  doc->index = static_cast<size_t>(found - doc->services.data());
  doc->nowMs = clock_();
  ServiceRecord& record = doc->services[doc->index];
  if (IsPending(record.state) && record.settleAtMs && !record.neverSettle &&
      doc->nowMs >= *record.settleAtMs) {
    // It settled when its pending time ran out, not when someone looked.
    int32_t settled = SettledState(record);
    if (record.state == kStartPending && settled == kRunning && DiesAtStart(record)) {
      settled = kStopped;
    }
    SetState(doc, settled, *record.settleAtMs);
    record.settleAtMs.reset();
  }
  if (record.crashAtMs && (record.state != kRunning || doc->nowMs >= *record.crashAtMs)) {
    // Its program ended by itself, as a broken build does.
    if (record.state == kRunning) SetState(doc, kStopped, *record.crashAtMs);
    record.crashAtMs.reset();
    doc->changed = true;
  }
  return true;
}

// The markers, put together at run time: a program built with this code (a component
// made from the stand-ins) must not carry them by accident.
static std::string CrashMarker(const char* when) { return std::string("OST-CRASH-") + when; }

bool PosixServices::DiesAtStart(const ServiceRecord& record) const {
  return readProgram_ &&
         readProgram_(record.binaryPath).find(CrashMarker("AT-START")) != std::string::npos;
}

bool PosixServices::WriteBack(ServicesDocument* doc) {
  if (!doc->changed) return true;
  const ServiceRecord& record = doc->services[doc->index];
  Json& entry = doc->json["services"][record.name];
  entry["state"] = record.state;
  if (record.settleAtMs) {
    entry["settleAtMs"] = *record.settleAtMs;
  } else {
    entry.erase("settleAtMs");
  }
  if (record.processEndsAtMs) {
    entry["processEndsAtMs"] = *record.processEndsAtMs;
  } else {
    entry.erase("processEndsAtMs");
  }
  if (record.crashAtMs) {
    entry["crashAtMs"] = *record.crashAtMs;
  } else {
    entry.erase("crashAtMs");
  }
  doc->changed = false;
  if (!SaveJson(path_, doc->json, &lastError_)) return false;
  LogTransitions(record.name, doc);
  return true;
}

// services.log beside the services file: one line per state taken, "<ms since the
// epoch> <service> <state>", so that a test can measure how long a service was down.
void PosixServices::LogTransitions(const std::string& name, ServicesDocument* doc) {
  if (doc->transitions.empty()) return;
  const size_t slash = path_.find_last_of('/');
  const std::string log =
      (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) + "services.log";
  std::string lines;
  for (const auto& [atMs, state] : doc->transitions) {
    lines += std::to_string(atMs) + " " + name + " " + std::to_string(state) + "\n";
  }
  doc->transitions.clear();
  const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;  // a record for tests only; the service manager works without it
  WriteAll(fd, lines);
  ::close(fd);
}

bool PosixServices::QueryState(ServiceHandle service, int32_t* state) {
  lastError_.clear();
  const OpenHandle* handle = ServiceFor(service, ServiceAccess::kQueryStatus, "query its state");
  ServicesDocument doc;
  if (!handle || !LoadService(*handle, &doc)) return false;
  // The settled state is the answer even when it cannot be recorded: the next call
  // settles it again from the same deadline.
  WriteBack(&doc);
  if (state) *state = doc.services[doc.index].state;
  return true;
}

bool PosixServices::Start(ServiceHandle service) {
  lastError_.clear();
  const OpenHandle* handle = ServiceFor(service, ServiceAccess::kAll, "start it");
  ServicesDocument doc;
  if (!handle || !LoadService(*handle, &doc)) return false;
  ServiceRecord& record = doc.services[doc.index];
  std::string refusal;
  if (record.state != kStopped) {
    refusal = "is not stopped (state " + std::to_string(record.state) + ")";
  } else if (record.refuseStart) {
    refusal = "refuses to start (refuseStart)";
  }
  if (!refusal.empty()) {
    WriteBack(&doc);  // a state that settled on the way is still recorded
    lastError_ = "service " + Quoted(record.name) + " " + refusal;
    return false;
  }
  const std::string program = readProgram_ ? readProgram_(record.binaryPath) : std::string();
  const bool diesAtStart = DiesAtStart(record);
  const bool diesAfterStart = program.find(CrashMarker("AFTER-START")) != std::string::npos;
  // A program that dies at start settles as one with startEndsStopped, for this start.
  const bool endsStopped = record.startEndsStopped || diesAtStart;
  if (record.neverSettle) {
    SetState(&doc, kStartPending, doc.nowMs);
    record.settleAtMs.reset();
  } else if (record.startPendingMs > 0) {
    SetState(&doc, kStartPending, doc.nowMs);
    record.settleAtMs = AddClamped(doc.nowMs, record.startPendingMs);
  } else {
    SetState(&doc, endsStopped ? kStopped : kRunning, doc.nowMs);
    record.settleAtMs.reset();
  }
  record.crashAtMs.reset();
  if (diesAfterStart && !diesAtStart) {
    record.crashAtMs = AddClamped(record.settleAtMs.value_or(doc.nowMs), 2000);
  }
  doc.changed = true;
  return WriteBack(&doc);
}

bool PosixServices::Stop(ServiceHandle service, int32_t* state) {
  lastError_.clear();
  const OpenHandle* handle = ServiceFor(service, ServiceAccess::kAll, "stop it");
  ServicesDocument doc;
  if (!handle || !LoadService(*handle, &doc)) return false;
  ServiceRecord& record = doc.services[doc.index];
  std::string refusal;
  if (record.state == kStopped) {
    refusal = "is not running";
  } else if (record.state == kStartPending || record.state == kStopPending) {
    refusal = "cannot accept the stop control in state " + std::to_string(record.state);
  } else if (record.refuseStop) {
    refusal = "refuses to stop (refuseStop)";
  } else if (!ActiveDependentsOf(doc.services, record.name, doc.nowMs).empty()) {
    refusal = "has dependent services running";
  }
  if (!refusal.empty()) {
    WriteBack(&doc);
    lastError_ = "service " + Quoted(record.name) + " " + refusal;
    return false;
  }
  if (record.neverSettle) {
    SetState(&doc, kStopPending, doc.nowMs);
    record.settleAtMs.reset();
  } else if (record.stopPendingMs > 0) {
    SetState(&doc, kStopPending, doc.nowMs);
    record.settleAtMs = AddClamped(doc.nowMs, record.stopPendingMs);
  } else {
    SetState(&doc, kStopped, doc.nowMs);
    record.settleAtMs.reset();
  }
  doc.changed = true;
  if (!WriteBack(&doc)) return false;
  if (state) *state = record.state;
  return true;
}

bool PosixServices::QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) {
  const size_t bufferSize = bufferChars * 2;  // as the wide record takes it
  lastError_.clear();
  const OpenHandle* handle =
      ServiceFor(service, ServiceAccess::kQueryConfig, "query its configuration");
  ServicesDocument doc;
  if (!handle || !LoadService(*handle, &doc)) return false;
  WriteBack(&doc);
  const ServiceRecord& record = doc.services[doc.index];
  size_t needed = ServiceConfigBytes(record.binaryPath);
  if (record.configTooLarge || needed > bufferSize) {
    lastError_ = "service " + Quoted(record.name) + ": the configuration does not fit in " +
                 std::to_string(bufferSize) + " bytes" +
                 (record.configTooLarge ? std::string(" (configTooLarge)")
                                        : " (needs " + std::to_string(needed) + ")");
    return false;
  }
  if (path) *path = record.binaryPath;
  return true;
}

void PosixServices::Close(ServiceHandle handle) { open_.erase(handle); }

ProcessHandle PosixServices::OpenOwnProcess(ServiceHandle service) {
  lastError_.clear();
  const OpenHandle* handle = ServiceFor(service, ServiceAccess::kQueryStatus, "query its state");
  ServicesDocument doc;
  if (!handle || !LoadService(*handle, &doc)) return 0;
  WriteBack(&doc);
  const ServiceRecord& record = doc.services[doc.index];
  if (ProcessEnded(record, doc.nowMs)) return 0;
  ProcessHandle process = nextHandle_++;
  processes_.emplace(process, record.name);
  return process;
}

bool PosixServices::WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) {
  auto it = processes_.find(process);
  if (it == processes_.end()) return false;
  const OpenHandle owner{true, it->second, ServiceAccess::kQueryStatus};
  const int64_t deadline = AddClamped(clock_(), milliseconds);
  for (;;) {
    ServicesDocument doc;
    if (!LoadService(owner, &doc)) return false;
    WriteBack(&doc);
    const ServiceRecord& record = doc.services[doc.index];
    if (ProcessEnded(record, doc.nowMs)) return true;
    if (doc.nowMs >= deadline) return false;
    // Until its end where it is known, otherwise a short look again.
    int64_t until = record.state == kStopped ? *record.processEndsAtMs : doc.nowMs + 50;
    if (record.state != kStopped && record.settleAtMs) until = std::min(until, *record.settleAtMs);
    sleep_(std::max<int64_t>(1, std::min(until, deadline) - doc.nowMs));
  }
}

void PosixServices::CloseProcess(ProcessHandle process) { processes_.erase(process); }

std::vector<std::string> PosixServices::ActiveDependents(ServiceHandle service) {
  lastError_.clear();
  auto it = open_.find(service);
  if (it == open_.end() || !it->second.isService ||
      it->second.access != ServiceAccess::kEnumerateDependents) {
    lastError_ = "handle " + std::to_string(service) + " may not list the dependents";
    return {};
  }
  ServicesDocument doc;
  if (!LoadService(it->second, &doc)) return {};
  return ActiveDependentsOf(doc.services, it->second.name, doc.nowMs);
}

ProgramsInUse ProgramsInUseAt(const std::vector<ServiceRecord>& services, int64_t nowMs) {
  ProgramsInUse inUse;
  for (const ServiceRecord& record : services) {
    const int32_t state = StateAt(record, nowMs);
    if (state == kStopped) {
      // A stop that settled unseen started its linger then.
      std::optional<int64_t> endsAt = record.processEndsAtMs;
      if (record.state == kStopPending && record.settleAtMs) {
        endsAt = ProcessEnd(record, record.state, *record.settleAtMs);
      }
      if (!endsAt || *endsAt <= nowMs) continue;
    }
    std::string program = record.binaryPath;
    if (!program.empty() && program.front() == '"') {
      size_t close = program.find('"', 1);
      program = program.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    if (!program.empty()) inUse.programs.push_back(program);
    if (ServiceNamesEqual(record.name, "W3SVC")) inUse.webServerAlive = true;
  }
  return inUse;
}

}  // namespace ost
