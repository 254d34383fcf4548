#include "platform/posix/posix_services.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ost {
namespace {

constexpr int32_t kStopped = 1;
constexpr int32_t kStartPending = 2;
constexpr int32_t kStopPending = 3;
constexpr int32_t kRunning = 4;

class PosixServicesTest : public testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/posix_services_test.XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
    file_ = dir_ + "/services.json";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  PosixServices Make() {
    return PosixServices(file_, [this] { return now_; });
  }

  void Write(const std::vector<ServiceRecord>& records) {
    std::string error;
    ASSERT_TRUE(WriteServicesFile(file_, records, &error)) << error;
  }

  void WriteText(const std::string& text) {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
  }

  std::string ReadText() {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The service as the file holds it now.
  ServiceRecord OnDisk(const std::string& name) {
    std::vector<ServiceRecord> records;
    std::string error;
    EXPECT_TRUE(ReadServicesFile(file_, &records, &error)) << error;
    const ServiceRecord* record = FindServiceRecord(records, name);
    EXPECT_NE(record, nullptr) << name;
    return record ? *record : ServiceRecord{};
  }

  ServiceHandle Open(PosixServices& services, const std::string& name,
                     ServiceAccess access = ServiceAccess::kAll) {
    ServiceHandle manager = services.OpenManager(ManagerAccess::kAll);
    EXPECT_NE(manager, 0u) << services.LastError();
    ServiceHandle service = services.OpenServiceNamed(manager, name, access);
    EXPECT_NE(service, 0u) << services.LastError();
    services.Close(manager);
    return service;
  }

  // Changes one service's state in the file, as another process would.
  void SetState(const std::string& name, int32_t state) {
    std::vector<ServiceRecord> records;
    std::string error;
    ASSERT_TRUE(ReadServicesFile(file_, &records, &error)) << error;
    for (ServiceRecord& record : records) {
      if (record.name == name) record.state = state;
    }
    Write(records);
  }

  int32_t State(PosixServices& services, ServiceHandle service) {
    int32_t state = -1;
    EXPECT_TRUE(services.QueryState(service, &state)) << services.LastError();
    return state;
  }

  static ServiceRecord Record(const std::string& name, int32_t state) {
    ServiceRecord record;
    record.name = name;
    record.state = state;
    record.binaryPath = "C:\\OSTRA\\" + name + ".exe";
    return record;
  }

  std::string dir_;
  std::string file_;
  int64_t now_ = 1'700'000'000'000;
};

TEST_F(PosixServicesTest, QueryGivesEveryStateAsWrittenWithNamesInAnyCase) {
  PosixServices services = Make();
  for (int32_t state = 1; state <= 7; ++state) {
    Write({Record("CSOstraServer", state)});
    ServiceHandle service = Open(services, "csostraSERVER", ServiceAccess::kQueryStatus);
    EXPECT_EQ(State(services, service), state);
    services.Close(service);
  }
  // A query does not touch a file with nothing to settle.
  std::string before = ReadText();
  ServiceHandle service = Open(services, "CSOSTRASERVER");
  EXPECT_EQ(State(services, service), 7);
  EXPECT_EQ(ReadText(), before);
}

TEST_F(PosixServicesTest, StartWithoutPendingTimeRunsAtOnce) {
  Write({Record("W3SVC", kStopped)});
  PosixServices services = Make();
  ServiceHandle service = Open(services, "w3svc");
  ASSERT_TRUE(services.Start(service)) << services.LastError();
  EXPECT_EQ(State(services, service), kRunning);
  ServiceRecord disk = OnDisk("W3SVC");
  EXPECT_EQ(disk.state, kRunning);
  EXPECT_FALSE(disk.settleAtMs.has_value());
}

TEST_F(PosixServicesTest, StartStaysPendingUntilItsDeadlineAcrossInstances) {
  ServiceRecord record = Record("CSOstraServer", kStopped);
  record.startPendingMs = 3000;
  Write({record});
  PosixServices services = Make();
  ServiceHandle service = Open(services, "CSOstraServer");
  ASSERT_TRUE(services.Start(service)) << services.LastError();

  ServiceRecord disk = OnDisk("CSOstraServer");
  EXPECT_EQ(disk.state, kStartPending);
  ASSERT_TRUE(disk.settleAtMs.has_value());
  EXPECT_EQ(*disk.settleAtMs, now_ + record.startPendingMs);

  now_ += record.startPendingMs - 1;
  EXPECT_EQ(State(services, service), kStartPending);
  EXPECT_EQ(OnDisk("CSOstraServer").state, kStartPending);

  // The deadline lives in the file, so another process sees the start settle too.
  now_ += 1;
  PosixServices other = Make();
  ServiceHandle otherService = Open(other, "CSOSTRASERVER", ServiceAccess::kQueryStatus);
  EXPECT_EQ(State(other, otherService), kRunning);
  disk = OnDisk("CSOstraServer");
  EXPECT_EQ(disk.state, kRunning);
  EXPECT_FALSE(disk.settleAtMs.has_value());
  EXPECT_EQ(State(services, service), kRunning);
}

TEST_F(PosixServicesTest, StopReportsPendingThenStopped) {
  ServiceRecord slow = Record("Slow", kRunning);
  slow.stopPendingMs = 2000;
  ServiceRecord quick = Record("Quick", kRunning);
  Write({slow, quick});
  PosixServices services = Make();

  ServiceHandle service = Open(services, "Quick");
  int32_t reported = -1;
  ASSERT_TRUE(services.Stop(service, &reported)) << services.LastError();
  EXPECT_EQ(reported, kStopped);
  EXPECT_EQ(OnDisk("Quick").state, kStopped);

  service = Open(services, "Slow");
  reported = -1;
  ASSERT_TRUE(services.Stop(service, &reported)) << services.LastError();
  EXPECT_EQ(reported, kStopPending);
  EXPECT_EQ(OnDisk("Slow").state, kStopPending);
  now_ += slow.stopPendingMs - 1;
  EXPECT_EQ(State(services, service), kStopPending);
  now_ += 1;
  EXPECT_EQ(State(services, service), kStopped);
  EXPECT_EQ(OnDisk("Slow").state, kStopped);
  EXPECT_EQ(OnDisk("Quick").state, kStopped);
}

// Every state a service takes is logged at the moment it took it: a pending state that
// settles is logged at its deadline, however late someone asks.
TEST_F(PosixServicesTest, StateChangesAreLoggedWhenTheyHappen) {
  ServiceRecord slow = Record("Slow", kRunning);
  slow.stopPendingMs = 2000;
  slow.startPendingMs = 500;
  Write({slow});
  PosixServices services = Make();
  ServiceHandle service = Open(services, "Slow");
  const int64_t t0 = now_;
  ASSERT_TRUE(services.Stop(service, nullptr)) << services.LastError();
  now_ += 5000;  // asked long after it stopped
  EXPECT_EQ(State(services, service), kStopped);
  EXPECT_EQ(State(services, service), kStopped);  // no change, no line
  ASSERT_TRUE(services.Start(service)) << services.LastError();
  now_ += 700;
  EXPECT_EQ(State(services, service), kRunning);

  std::ifstream in(dir_ + "/services.log");
  std::stringstream log;
  log << in.rdbuf();
  const std::string name = " Slow ";
  EXPECT_EQ(log.str(), std::to_string(t0) + name + "3\n" +             // stop pending
                           std::to_string(t0 + 2000) + name + "1\n" +  // stopped
                           std::to_string(t0 + 5000) + name + "2\n" +  // start pending
                           std::to_string(t0 + 5500) + name + "4\n");  // running
}

TEST_F(PosixServicesTest, ControlsAreRefusedByKnobOrState) {
  ServiceRecord noStart = Record("NoStart", kStopped);
  noStart.refuseStart = true;
  ServiceRecord noStop = Record("NoStop", kRunning);
  noStop.refuseStop = true;
  Write({noStart, noStop, Record("Running", kRunning), Record("Stopped", kStopped),
         Record("Starting", kStartPending), Record("Stopping", kStopPending)});
  PosixServices services = Make();
  std::string before = ReadText();

  int32_t reported = -1;
  EXPECT_FALSE(services.Start(Open(services, "NoStart")));
  EXPECT_NE(services.LastError().find("refuseStart"), std::string::npos) << services.LastError();
  EXPECT_FALSE(services.Stop(Open(services, "NoStop"), &reported));
  EXPECT_NE(services.LastError().find("refuseStop"), std::string::npos) << services.LastError();
  // As the manager: no second start, no stop control for a service that is not up.
  EXPECT_FALSE(services.Start(Open(services, "Running")));
  EXPECT_FALSE(services.Start(Open(services, "Starting")));
  EXPECT_FALSE(services.Stop(Open(services, "Stopped"), &reported));
  EXPECT_FALSE(services.Stop(Open(services, "Starting"), &reported));
  EXPECT_FALSE(services.Stop(Open(services, "Stopping"), &reported));
  EXPECT_EQ(reported, -1);
  EXPECT_EQ(ReadText(), before);

  // Each knob refuses only its own control.
  noStart.state = kRunning;
  noStop.state = kStopped;
  Write({noStart, noStop});
  EXPECT_TRUE(services.Stop(Open(services, "NoStart"), &reported)) << services.LastError();
  EXPECT_TRUE(services.Start(Open(services, "NoStop"))) << services.LastError();
  EXPECT_EQ(OnDisk("NoStart").state, kStopped);
  EXPECT_EQ(OnDisk("NoStop").state, kRunning);
}

TEST_F(PosixServicesTest, StartEndsStoppedWithAndWithoutPendingTime) {
  ServiceRecord dies = Record("Dies", kStopped);
  dies.startEndsStopped = true;
  ServiceRecord diesLater = dies;
  diesLater.name = "DiesLater";
  diesLater.startPendingMs = 1500;
  Write({dies, diesLater});
  PosixServices services = Make();

  ServiceHandle service = Open(services, "Dies");
  EXPECT_TRUE(services.Start(service)) << services.LastError();
  EXPECT_EQ(State(services, service), kStopped);

  service = Open(services, "DiesLater");
  EXPECT_TRUE(services.Start(service)) << services.LastError();
  EXPECT_EQ(State(services, service), kStartPending);
  now_ += diesLater.startPendingMs;
  EXPECT_EQ(State(services, service), kStopped);
  EXPECT_EQ(OnDisk("DiesLater").state, kStopped);
}

TEST_F(PosixServicesTest, NeverSettleStaysPending) {
  ServiceRecord stuckStart = Record("StuckStart", kStopped);
  stuckStart.neverSettle = true;
  ServiceRecord stuckStop = Record("StuckStop", kRunning);
  stuckStop.neverSettle = true;
  // Set by hand: a deadline that neverSettle overrides, and a pending state with none.
  ServiceRecord held = Record("Held", kStartPending);
  held.neverSettle = true;
  held.settleAtMs = now_ - 1;
  ServiceRecord hung = Record("Hung", kStopPending);
  Write({stuckStart, stuckStop, held, hung});
  PosixServices services = Make();

  ServiceHandle starting = Open(services, "StuckStart");
  ASSERT_TRUE(services.Start(starting)) << services.LastError();
  ServiceHandle stopping = Open(services, "StuckStop");
  int32_t reported = -1;
  ASSERT_TRUE(services.Stop(stopping, &reported)) << services.LastError();
  EXPECT_EQ(reported, kStopPending);

  now_ += int64_t{1} << 40;
  EXPECT_EQ(State(services, starting), kStartPending);
  EXPECT_EQ(State(services, stopping), kStopPending);
  EXPECT_FALSE(OnDisk("StuckStart").settleAtMs.has_value());
  EXPECT_EQ(OnDisk("StuckStop").state, kStopPending);
  EXPECT_EQ(State(services, Open(services, "Held")), kStartPending);
  EXPECT_EQ(State(services, Open(services, "Hung")), kStopPending);
}

TEST_F(PosixServicesTest, OpeningAServiceFailsWhenMissingOrDenied) {
  ServiceRecord denied = Record("Denied", kRunning);
  denied.denyAccess = true;
  Write({denied, Record("Present", kRunning)});
  PosixServices services = Make();
  ServiceHandle manager = services.OpenManager(ManagerAccess::kEnumerate);
  ASSERT_NE(manager, 0u) << services.LastError();

  EXPECT_EQ(services.OpenServiceNamed(manager, "Absent", ServiceAccess::kQueryStatus), 0u);
  EXPECT_NE(services.LastError().find("Absent"), std::string::npos) << services.LastError();
  EXPECT_EQ(services.OpenServiceNamed(manager, "Presen", ServiceAccess::kQueryStatus), 0u);
  for (ServiceAccess access :
       {ServiceAccess::kQueryStatus, ServiceAccess::kQueryConfig, ServiceAccess::kAll}) {
    EXPECT_EQ(services.OpenServiceNamed(manager, "denied", access), 0u);
    EXPECT_NE(services.LastError().find("denyAccess"), std::string::npos);
  }
  // A service handle is no manager.
  ServiceHandle present = services.OpenServiceNamed(manager, "Present", ServiceAccess::kAll);
  ASSERT_NE(present, 0u) << services.LastError();
  EXPECT_TRUE(services.LastError().empty());
  EXPECT_EQ(services.OpenServiceNamed(present, "Present", ServiceAccess::kAll), 0u);

  // Nor does a closed manager open anything.
  services.Close(manager);
  EXPECT_EQ(services.OpenServiceNamed(manager, "Present", ServiceAccess::kAll), 0u);
}

TEST_F(PosixServicesTest, ManagerNeedsAReadableValidFile) {
  PosixServices services = Make();
  EXPECT_EQ(services.OpenManager(ManagerAccess::kEnumerate), 0u);
  EXPECT_NE(services.LastError().find("services.json"), std::string::npos);

  const char* broken[] = {
      "",
      "{\"services\": {\"A\": {\"state\": 4,}}}",
      "[]",
      "{\"other\": {}}",
      "{\"services\": []}",
      "{\"services\": {\"A\": 4}}",
      "{\"services\": {\"A\": {\"binaryPath\": \"x\"}}}",
      "{\"services\": {\"A\": {\"state\": 0}}}",
      "{\"services\": {\"A\": {\"state\": 8}}}",
      "{\"services\": {\"A\": {\"state\": 4.0}}}",
      "{\"services\": {\"A\": {\"state\": \"4\"}}}",
      "{\"services\": {\"A\": {\"state\": 4, \"binaryPath\": 7}}}",
      "{\"services\": {\"A\": {\"state\": 4, \"stopPendingMs\": -1}}}",
      "{\"services\": {\"A\": {\"state\": 4, \"refuseStart\": 1}}}",
      "{\"services\": {\"A\": {\"state\": 4, \"refuseStrat\": true}}}",
      "{\"services\": {\"A\": {\"state\": 4}, \"a\": {\"state\": 1}}}",
      "{\"services\": {\"\": {\"state\": 4}}}",
  };
  for (const char* text : broken) {
    WriteText(text);
    EXPECT_EQ(services.OpenManager(ManagerAccess::kEnumerate), 0u) << text;
    EXPECT_FALSE(services.LastError().empty()) << text;
  }

  // Every call rereads: a file broken after opening fails the next call.
  Write({Record("A", kRunning)});
  ServiceHandle manager = services.OpenManager(ManagerAccess::kAll);
  ASSERT_NE(manager, 0u) << services.LastError();
  ServiceHandle service = services.OpenServiceNamed(manager, "A", ServiceAccess::kAll);
  ASSERT_NE(service, 0u) << services.LastError();
  WriteText("{\"services\": ");
  int32_t state = -1;
  EXPECT_FALSE(services.QueryState(service, &state));
  EXPECT_NE(services.LastError().find("services.json"), std::string::npos);
  EXPECT_EQ(services.OpenServiceNamed(manager, "A", ServiceAccess::kAll), 0u);
  EXPECT_FALSE(services.Start(service));
  EXPECT_EQ(state, -1);
}

TEST_F(PosixServicesTest, EveryCallSeesChangesMadeFromOutside) {
  Write({Record("A", kStopped), Record("B", kRunning)});
  PosixServices services = Make();
  ServiceHandle service = Open(services, "A");
  EXPECT_EQ(State(services, service), kStopped);

  Write({Record("A", kRunning), Record("B", kRunning)});
  EXPECT_EQ(State(services, service), kRunning);

  ServiceRecord refusing = Record("A", kRunning);
  refusing.refuseStop = true;
  Write({refusing});
  int32_t reported = -1;
  EXPECT_FALSE(services.Stop(service, &reported));

  Write({Record("B", kRunning)});
  int32_t state = -1;
  EXPECT_FALSE(services.QueryState(service, &state));
  EXPECT_NE(services.LastError().find("'A'"), std::string::npos) << services.LastError();
}

TEST_F(PosixServicesTest, EachCallNeedsTheRightAccessAndAnOpenHandle) {
  Write({Record("A", kStopped)});
  PosixServices services = Make();
  ServiceHandle status = Open(services, "A", ServiceAccess::kQueryStatus);
  ServiceHandle config = Open(services, "A", ServiceAccess::kQueryConfig);
  int32_t state = -1;
  std::string path;

  EXPECT_FALSE(services.QueryBinaryPath(status, 4096, &path));
  EXPECT_FALSE(services.Start(status));
  EXPECT_FALSE(services.QueryState(config, &state));
  EXPECT_FALSE(services.Start(config));
  EXPECT_TRUE(services.QueryBinaryPath(config, 4096, &path)) << services.LastError();
  EXPECT_EQ(OnDisk("A").state, kStopped);

  ServiceHandle all = Open(services, "A", ServiceAccess::kAll);
  EXPECT_NE(all, status);
  services.Close(all);
  EXPECT_FALSE(services.Start(all));
  EXPECT_FALSE(services.QueryState(all, &state));
  EXPECT_EQ(state, -1);
}

TEST_F(PosixServicesTest, BinaryPathNeedsRoomForTheWholeConfiguration) {
  ServiceRecord plain = Record("Plain", kRunning);
  plain.binaryPath = "\"C:\\Program Files\\OSTRA\\CSOstraServer.exe\" -service";
  ServiceRecord wide = Record("Wide", kRunning);
  wide.binaryPath = "D:\\服务\\\xF0\x9F\x98\x80.exe";
  ServiceRecord tooLarge = Record("TooLarge", kRunning);
  tooLarge.configTooLarge = true;
  Write({plain, wide, tooLarge});
  PosixServices services = Make();

  for (const ServiceRecord& record : {plain, wide}) {
    ServiceHandle service = Open(services, record.name, ServiceAccess::kQueryConfig);
    size_t exact = ServiceConfigBytes(record.binaryPath) / 2;  // in wide characters
    std::string path = "unchanged";
    EXPECT_FALSE(services.QueryBinaryPath(service, exact - 1, &path)) << record.name;
    EXPECT_EQ(path, "unchanged");
    ASSERT_TRUE(services.QueryBinaryPath(service, exact, &path)) << services.LastError();
    EXPECT_EQ(path, record.binaryPath);
  }

  // The size counts UTF-16 units: a CJK character is one, a character outside the
  // BMP two, whatever their UTF-8 lengths; each unit takes two bytes.
  EXPECT_EQ(ServiceConfigBytes("服务"), ServiceConfigBytes("ab"));
  EXPECT_EQ(ServiceConfigBytes("\xF0\x9F\x98\x80"), ServiceConfigBytes("ab"));
  EXPECT_EQ(ServiceConfigBytes("abc"), ServiceConfigBytes("ab") + 2);
  // The controller's 4096 characters hold a path far longer than its 255-byte field.
  EXPECT_LT(ServiceConfigBytes(std::string(255, 'x')), 2 * 4096u);

  ServiceHandle service = Open(services, "TooLarge", ServiceAccess::kAll);
  std::string path;
  EXPECT_FALSE(services.QueryBinaryPath(service, 1 << 20, &path));
  EXPECT_NE(services.LastError().find("configTooLarge"), std::string::npos);
}

TEST_F(PosixServicesTest, WriteBackKeepsTheRestOfTheFile) {
  WriteText(
      "{\"note\": \"kept\",\n"
      " \"services\": {\n"
      "  \"Zeta\": {\"binaryPath\": \"C:\\\\z.exe\", \"state\": 4, \"refuseStart\": false,\n"
      "           \"stopPendingMs\": 500},\n"
      "  \"Alpha\": {\"state\": 4, \"configTooLarge\": true}}}\n");
  PosixServices services = Make();
  int32_t reported = -1;
  ASSERT_TRUE(services.Stop(Open(services, "zeta"), &reported)) << services.LastError();

  std::string text = ReadText();
  EXPECT_NE(text.find("\"note\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"refuseStart\""), std::string::npos) << text;
  EXPECT_LT(text.find("Zeta"), text.find("Alpha")) << text;  // order as written
  std::vector<ServiceRecord> records;
  std::string error;
  ASSERT_TRUE(ReadServicesFile(file_, &records, &error)) << error;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, "Zeta");
  EXPECT_EQ(records[0].state, kStopPending);
  EXPECT_EQ(records[0].binaryPath, "C:\\z.exe");
  EXPECT_EQ(records[0].stopPendingMs, 500);
  EXPECT_EQ(records[1].state, kRunning);
  EXPECT_TRUE(records[1].configTooLarge);

  // No temporary file is left in its folder: only the file and the state log.
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    entries.push_back(entry.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"services.json", "services.log"}));
}

TEST_F(PosixServicesTest, ServicesFileRoundTripsAndRefusesWhatCannotBeRead) {
  ServiceRecord full = Record("Full", 3);
  full.binaryPath = "\"D:\\wwwroot\\服务.exe\" /k";
  full.startPendingMs = 1;
  full.stopPendingMs = 2;
  full.refuseStart = full.refuseStop = full.startEndsStopped = true;
  full.neverSettle = full.denyAccess = full.configTooLarge = true;
  full.settleAtMs = -5;
  ServiceRecord plain = Record("Plain", 7);
  Write({full, plain});

  std::vector<ServiceRecord> records;
  std::string error;
  ASSERT_TRUE(ReadServicesFile(file_, &records, &error)) << error;
  ASSERT_EQ(records.size(), 2u);
  const ServiceRecord& back = records[0];
  EXPECT_EQ(back.name, full.name);
  EXPECT_EQ(back.state, full.state);
  EXPECT_EQ(back.binaryPath, full.binaryPath);
  EXPECT_EQ(back.startPendingMs, full.startPendingMs);
  EXPECT_EQ(back.stopPendingMs, full.stopPendingMs);
  EXPECT_EQ(back.refuseStart, full.refuseStart);
  EXPECT_EQ(back.refuseStop, full.refuseStop);
  EXPECT_EQ(back.startEndsStopped, full.startEndsStopped);
  EXPECT_EQ(back.neverSettle, full.neverSettle);
  EXPECT_EQ(back.denyAccess, full.denyAccess);
  EXPECT_EQ(back.configTooLarge, full.configTooLarge);
  EXPECT_EQ(back.settleAtMs, full.settleAtMs);
  EXPECT_EQ(records[1].name, plain.name);
  EXPECT_FALSE(records[1].refuseStart);
  EXPECT_FALSE(records[1].settleAtMs.has_value());

  std::string before = ReadText();
  ServiceRecord bad = Record("Bad", 8);
  ServiceRecord negative = Record("Negative", 1);
  negative.startPendingMs = -1;
  ServiceRecord invalidUtf8 = Record("Bytes", 1);
  invalidUtf8.binaryPath = "C:\\\xC3";
  for (const auto& list :
       std::vector<std::vector<ServiceRecord>>{{bad},
                                               {negative},
                                               {Record("", 1)},
                                               {Record("Twice", 1), Record("TWICE", 4)},
                                               {invalidUtf8}}) {
    EXPECT_FALSE(WriteServicesFile(file_, list, &error)) << list[0].name;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(ReadText(), before);

  EXPECT_FALSE(ReadServicesFile(dir_ + "/absent.json", &records, &error));
  EXPECT_NE(error.find("absent.json"), std::string::npos) << error;
}

}  // namespace
}  // namespace ost

namespace ost {
namespace {

// What Windows would keep from being overwritten: the programs of live services.
// A service's process may go on after it reported stopped, holding its program: a
// waiter follows the file to the process's end, within its bound.
TEST_F(PosixServicesTest, AProcessThatLingersIsWaitedForWithinTheBound) {
  ServiceRecord slow = Record("Slow", kRunning);
  slow.stopPendingMs = 1000;
  slow.processLingerMs = 3000;
  ServiceRecord shared = Record("Plain", kRunning);
  Write({slow, shared});
  std::vector<int64_t> sleeps;
  PosixServices services(
      file_, [this] { return now_; },
      [&](int64_t ms) {
        sleeps.push_back(ms);
        now_ += ms;
      });
  const int64_t t0 = now_;
  ServiceHandle service = Open(services, "Slow");
  ProcessHandle process = services.OpenOwnProcess(service);
  ASSERT_NE(process, 0u);
  ASSERT_TRUE(services.Stop(service, nullptr));
  EXPECT_FALSE(services.WaitProcessEnd(process, 500));  // still stopping
  EXPECT_EQ(now_, t0 + 500);
  now_ = t0 + 1000;
  EXPECT_EQ(State(services, service), kStopped);
  EXPECT_EQ(OnDisk("Slow").processEndsAtMs, t0 + 4000);
  EXPECT_EQ(ProgramsInUseAt({OnDisk("Slow")}, t0 + 3999).programs.size(), 1u);
  EXPECT_TRUE(ProgramsInUseAt({OnDisk("Slow")}, t0 + 4000).programs.empty());
  sleeps.clear();
  EXPECT_TRUE(services.WaitProcessEnd(process, 20000));
  EXPECT_EQ(now_, t0 + 4000);  // woke at its end, not at the bound
  EXPECT_EQ(sleeps, std::vector<int64_t>{3000});
  services.CloseProcess(process);
  EXPECT_FALSE(services.WaitProcessEnd(process, 1));  // a closed handle
  // Stopped and ended: no process to wait for. One that stops at once lingers too.
  EXPECT_EQ(services.OpenOwnProcess(service), 0u);
  ServiceHandle plain = Open(services, "Plain");
  process = services.OpenOwnProcess(plain);
  ASSERT_NE(process, 0u);
  ASSERT_TRUE(services.Stop(plain, nullptr));
  EXPECT_TRUE(services.WaitProcessEnd(process, 20000));
  // A stop that settled while nobody looked started its linger then.
  ASSERT_TRUE(services.Start(service));
  EXPECT_FALSE(OnDisk("Slow").processEndsAtMs.has_value());
  ASSERT_TRUE(services.Stop(service, nullptr));
  EXPECT_EQ(ProgramsInUseAt({OnDisk("Slow")}, now_ + 3999).programs.size(), 1u);
  EXPECT_TRUE(ProgramsInUseAt({OnDisk("Slow")}, now_ + 4000).programs.empty());
}

// As the manager: a service refuses the stop while a service that depends on it runs,
// and only a handle opened to list dependents may list them.
TEST_F(PosixServicesTest, RunningDependentsRefuseTheStopAndAreNamed) {
  ServiceRecord base = Record("Base", kRunning);
  ServiceRecord first = Record("First", kRunning);
  first.dependsOn = {"BASE"};
  ServiceRecord second = Record("Second", kStopped);
  second.dependsOn = {"Other", "Base"};
  Write({base, first, second, Record("Other", kRunning)});
  PosixServices services = Make();
  ServiceHandle handle = Open(services, "Base");
  EXPECT_FALSE(services.Stop(handle, nullptr));
  EXPECT_NE(services.LastError().find("dependent"), std::string::npos);
  EXPECT_TRUE(services.ActiveDependents(handle).empty());  // kAll may not list them
  ServiceHandle lister = Open(services, "Base", ServiceAccess::kEnumerateDependents);
  EXPECT_EQ(services.ActiveDependents(lister), std::vector<std::string>{"First"});
  SetState("Second", kRunning);
  EXPECT_EQ(services.ActiveDependents(lister), (std::vector<std::string>{"First", "Second"}));
  SetState("First", kStopped);
  SetState("Second", kStopped);
  EXPECT_TRUE(services.Stop(handle, nullptr)) << services.LastError();
  EXPECT_EQ(OnDisk("Base").dependsOn, std::vector<std::string>{});
  EXPECT_EQ(OnDisk("Second").dependsOn, (std::vector<std::string>{"Other", "Base"}));
}

TEST(ProgramsInUse, LiveServicesHoldTheirPrograms) {
  auto service = [](const char* name, int32_t state, const char* program) {
    ServiceRecord record;
    record.name = name;
    record.state = state;
    record.binaryPath = program;
    return record;
  };
  std::vector<ServiceRecord> services = {
      service("CSOstraServer", 4, "C:\\OSTRA\\CSOstraServer.exe"),
      service("CSOstraAgent", 1, "C:\\OSTRA\\CSOstraAgent.exe"),
      service("CSTuyoMess", 7, "\"C:\\Program Files\\Tuyo\\CSTuyoMess.exe\" -k"),
      service("CSOstraMessage", 3, "C:\\OSTRA\\CSOstraMessage.exe"),
      service("w3svc", 2, "C:\\Windows\\system32\\inetsrv\\inetinfo.exe")};
  services[3].settleAtMs = 1000;  // stops at 1000
  ProgramsInUse before = ProgramsInUseAt(services, 999);
  EXPECT_EQ(before.programs,
            (std::vector<std::string>{
                "C:\\OSTRA\\CSOstraServer.exe", "C:\\Program Files\\Tuyo\\CSTuyoMess.exe",
                "C:\\OSTRA\\CSOstraMessage.exe", "C:\\Windows\\system32\\inetsrv\\inetinfo.exe"}));
  EXPECT_TRUE(before.webServerAlive);
  ProgramsInUse after = ProgramsInUseAt(services, 1000);
  EXPECT_EQ(after.programs.size(), 3u);  // the stop has settled
  services[4].state = 1;
  EXPECT_FALSE(ProgramsInUseAt(services, 0).webServerAlive);
}

}  // namespace
}  // namespace ost
