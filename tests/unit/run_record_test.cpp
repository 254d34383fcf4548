// The record of a run in progress, and what a later run makes of one left behind.
#include "update/run_record.h"

#include <gtest/gtest.h>

#include "unit/fakes.h"

namespace ost {
namespace {

constexpr char kProgram[] = "C:\\OSTRA\\";

struct RunRecordTest : ::testing::Test {
  testing::FakeFiles files;
  Plan plan;
  ServiceTable table{};

  void Component(int entry, const std::string& service, int32_t state) {
    PlanStep step;
    step.kind = StepKind::kComponent;
    step.entry = entry;
    plan.steps.push_back(step);
    table[static_cast<size_t>(entry)].serviceName = service;
    table[static_cast<size_t>(entry)].stateBefore = state;
  }
  RunRecordFile OnDisk() {
    RunRecordFile record;
    EXPECT_TRUE(ReadRunRecord(files, kProgram, &record));
    return record;
  }
};

TEST_F(RunRecordTest, WrittenWhenTheUpdateBeginsKeptPerBatchGoneAtTheEnd) {
  RunRecordKeeper keeper(files, kProgram, "run-1");
  EXPECT_FALSE(keeper.interrupted());
  Component(0, "CSOstraServer", 4);
  Component(2, "", 4);  // the web DLL's service is the web server
  Component(3, "CSOstraMessage", 1);
  keeper.OnPlanBuilt(plan, table);
  EXPECT_FALSE(files.Exists(RunRecordPath(kProgram)));  // a plan alone changes nothing

  keeper.OnPhaseChanged(RunPhase::kUpdating, "");
  RunRecordFile record = OnDisk();
  EXPECT_EQ(record.runId, "run-1");
  EXPECT_EQ(record.RunningBefore(), (std::vector<std::string>{"CSOstraServer", "W3SVC"}));
  EXPECT_EQ(record.services.back().stateBefore, 1);

  PlanStep script;
  script.requestPath = "/ostra/update1/sql/update381.sql.zip";
  keeper.OnBatchStarting(script, 3);
  EXPECT_EQ(OnDisk().script, script.requestPath);
  EXPECT_EQ(OnDisk().batch, 3);
  keeper.OnScriptRun(script, 4, 0);
  EXPECT_EQ(OnDisk().script, "");

  keeper.Finish();
  EXPECT_FALSE(files.Exists(RunRecordPath(kProgram)));
  EXPECT_FALSE(files.HasTemporaryFiles());
}

TEST_F(RunRecordTest, ScriptBatchByBatchRecordSavedOncePerScriptBatchesLoggedTornLinesIgnored) {
  RunRecordKeeper keeper(files, kProgram, "run-1");
  Component(0, "CSOstraServer", 4);
  keeper.OnPlanBuilt(plan, table);
  keeper.OnPhaseChanged(RunPhase::kUpdating, "");
  PlanStep script;
  script.requestPath = "/ostra/update1/sql/update381.sql.zip";
  files.opened.clear();
  for (int batch = 1; batch <= 200; ++batch) keeper.OnBatchStarting(script, batch);
  // A new record per batch cost more than a short batch itself.
  EXPECT_LE(files.opened.size(), 3u);
  EXPECT_EQ(OnDisk().script, script.requestPath);
  EXPECT_EQ(OnDisk().batch, 200);

  // Killed while appending the next line, or its power lost: the last whole line stands.
  std::string& log = files.files[RunBatchLogPath(kProgram)];
  log += "20";
  EXPECT_EQ(OnDisk().batch, 200);
  log += std::string(6, '\0') + "\n";
  EXPECT_EQ(OnDisk().batch, 200);
  // A log of another run's script names nothing: the record's own batch stands.
  const std::string ours = log;
  log.replace(0, log.find('\n'), "run-0 /ostra/update1/sql/update381.sql.zip");
  EXPECT_EQ(OnDisk().batch, 1);
  log = ours;

  keeper.OnScriptRun(script, 200, 0);
  EXPECT_EQ(OnDisk().script, "");
  PlanStep next;
  next.requestPath = "/ostra/update1/sql/update382.sql.zip";
  keeper.OnBatchStarting(next, 1);
  EXPECT_EQ(OnDisk().batch, 1);  // not the former script's 200
  keeper.OnBatchStarting(next, 2);
  EXPECT_EQ(OnDisk().script, next.requestPath);
  EXPECT_EQ(OnDisk().batch, 2);

  // A later run reads the same.
  RunRecordKeeper later(files, kProgram, "run-2");
  ASSERT_TRUE(later.interrupted());
  EXPECT_EQ(later.interrupted()->batch, 2);
  later.Finish();
  EXPECT_FALSE(files.Exists(RunRecordPath(kProgram)));
  EXPECT_FALSE(files.Exists(RunBatchLogPath(kProgram)));
}

TEST_F(RunRecordTest, ALaterRunKeepsWhatTheKilledOneFoundRunning) {
  RunRecordFile killed;
  killed.runId = "run-1";
  killed.services = {{"CSOstraServer", 4}, {"W3SVC", 4}, {"CSOstraMessage", 1}};
  killed.script = "/ostra/update1/sql/update381.sql.zip";
  killed.batch = 2;
  ASSERT_TRUE(WriteRunRecord(files, kProgram, killed));

  RunRecordKeeper keeper(files, kProgram, "run-2");
  ASSERT_TRUE(keeper.interrupted());
  EXPECT_EQ(keeper.interrupted()->batch, 2);
  EXPECT_TRUE(keeper.WasRunningBeforeInterruptedRun("csostraserver"));
  EXPECT_FALSE(keeper.WasRunningBeforeInterruptedRun("CSOstraMessage"));
  EXPECT_FALSE(keeper.WasRunningBeforeInterruptedRun(""));

  // The killed run left the server stopped: this run sees it so, and must not forget.
  Component(0, "CSOstraServer", 1);
  Component(1, "CSOstraAgent", 4);
  keeper.OnPlanBuilt(plan, table);
  keeper.OnPhaseChanged(RunPhase::kUpdating, "");
  EXPECT_EQ(OnDisk().RunningBefore(),
            (std::vector<std::string>{"CSOstraServer", "W3SVC", "CSOstraAgent"}));

  // The rollback command takes it over.
  EXPECT_EQ(TakeInterruptedRunServices(files, kProgram),
            (std::vector<std::string>{"CSOstraServer", "W3SVC", "CSOstraAgent"}));
  EXPECT_FALSE(files.Exists(RunRecordPath(kProgram)));
  EXPECT_TRUE(TakeInterruptedRunServices(files, kProgram).empty());
}

TEST_F(RunRecordTest, AnUnreadableRecordIsNoInterruptedRun) {
  files.files[RunRecordPath(kProgram)] = "{\"run\": \"x\", \"services\": [{\"name\": \"\"}]}";
  RunRecordKeeper keeper(files, kProgram, "run-2");
  EXPECT_FALSE(keeper.interrupted());
}

// With the record kept for a recovery, a file is written only once the record names it:
// on a full disk the write is refused (and the run rolls back) rather than made unnamed.
TEST_F(RunRecordTest, AFileTheRecordCannotNameIsNotWritten) {
  RunRecordKeeper keeper(files, kProgram, "run-1", /*recoverable=*/true);
  Component(0, "CSOstraServer", 4);
  keeper.OnPlanBuilt(plan, table);
  keeper.OnPhaseChanged(RunPhase::kUpdating, "");
  const std::string before = files.files.at(RunRecordPath(kProgram));
  EXPECT_TRUE(keeper.OnFileWriting(plan.steps[0], "C:\\OSTRA\\a.exe", "", ByteSpan()));
  files.diskSpace = 0;
  EXPECT_FALSE(keeper.OnFileWriting(plan.steps[0], "C:\\OSTRA\\b.exe", "", ByteSpan()));
  EXPECT_NE(files.files.at(RunRecordPath(kProgram)), before);  // the first is named
  files.diskSpace = -1;
  RunRecordKeeper plain(files, kProgram, "run-2");
  files.diskSpace = 0;
  EXPECT_TRUE(plain.OnFileWriting(plan.steps[0], "C:\\OSTRA\\b.exe", "", ByteSpan()));
}

}  // namespace
}  // namespace ost
