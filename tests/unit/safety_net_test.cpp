// The journal, the backup keeper and the rollback at their edges, in memory: what an
// operator reaches for when something already went wrong.
#include <gtest/gtest.h>

#include "app/texts.h"
#include "commands/rollback.h"
#include "journal/journal.h"
#include "unit/fakes.h"
#include "update/backup.h"
#include "util/text.h"

namespace ost {
namespace {

using testing::FakeFiles;
using testing::FakeSystem;
using testing::Harness;

const std::string kLog = "C:\\OSTRA\\OstServerUpdate.log";
const std::string kBom = "\xEF\xBB\xBF";
const std::string kServer = "C:\\OSTRA\\CSOstraServer.exe";
const std::string kPage = "D:\\wwwroot\\cgi-bin\\index.htm";

// A digest that shows what it summed: enough to tell contents apart.
std::string Sum(ByteSpan bytes) {
  return "sum(" + std::string(reinterpret_cast<const char*>(bytes.data), bytes.size) + ")";
}

int Lines(const std::string& text) {
  int n = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++n;
  return n;
}

class JournalLinesTest : public ::testing::Test {
 protected:
  void Open() {
    journal = std::make_unique<Journal>(files, system, "C:\\OSTRA\\", Sum);
    ASSERT_TRUE(journal->Begin("20261209-103005-00aa", "OstServerUpdate 5.0"));
  }
  FakeFiles files;
  FakeSystem system;
  std::unique_ptr<Journal> journal;
};

TEST_F(JournalLinesTest, AnEmptyLogGetsOneByteOrderMarkAndALineFeedNeverSplitsALine) {
  files.files[kLog] = "";
  Open();
  journal->Note("ROLLBACK", "first\nsecond\r\nthird");
  const std::string& text = files.files[kLog];
  EXPECT_EQ(text.rfind(kBom, 0), 0u);
  EXPECT_EQ(text.find(kBom, 1), std::string::npos);
  EXPECT_EQ(Lines(text), 2) << text;
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << "no bare line feed";
}

class BackupKeeperTest : public ::testing::Test {
 protected:
  BackupKeeperTest() {
    files.files[kPage] = "old page";
    step.kind = StepKind::kDetailFile;
    step.targetPath = kPage;
    keeper.SetNote([this](const std::string& why) { notes.push_back(why); });
  }
  bool Writing(const std::string& content) {
    return keeper.OnFileWriting(step, kPage, "", ByteSpan::Of(content));
  }
  BackupRecord Record() {
    BackupRecord record;
    std::string error;
    EXPECT_TRUE(
        BackupKeeper::Load(files, BackupKeeper::RunFolder("C:\\OSTRA\\", kRun), &record, &error))
        << error;
    return record;
  }
  static constexpr char kRun[] = "20261209-103005-00aa";
  FakeFiles files;
  BackupKeeper keeper{files, "C:\\OSTRA\\", kRun, Sum};
  PlanStep step;
  std::vector<std::string> notes;
};

TEST_F(BackupKeeperTest, TheRecordSaysWhatIsAboutToBeWrittenBeforeTheWrite) {
  ASSERT_TRUE(Writing("new page"));
  const BackupRecord record = Record();  // as a run killed now would leave it
  ASSERT_EQ(record.files.size(), 1u);
  EXPECT_TRUE(record.files[0].existed);
  EXPECT_TRUE(record.files[0].replaced);
  EXPECT_EQ(record.files[0].written, "sum(new page)");
  EXPECT_EQ(record.files[0].sha256, "sum(old page)");
  EXPECT_EQ(record.sequence, 1);
}

TEST_F(BackupKeeperTest, AFileThatCannotBeKeptIsNotWrittenOver) {
  // A copy whose close fails is no copy.
  files.failClose = true;
  EXPECT_FALSE(Writing("new page"));
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes.back().find("no copy of " + kPage), std::string::npos) << notes.back();
  files.failClose = false;

  // A link at the target is never read through.
  BackupKeeper other(files, "C:\\OSTRA\\", "20261209-103006-00bb", Sum);
  files.links.insert(kPage);
  files.opened.clear();
  EXPECT_FALSE(other.OnFileWriting(step, kPage, "", ByteSpan::Of(std::string("x"))));
  EXPECT_EQ(std::count(files.opened.begin(), files.opened.end(), kPage), 0);
}

TEST_F(BackupKeeperTest, NoBackupInANetworkProgramFolderSoNothingIsWrittenOver) {
  BackupKeeper shared(files, "\\\\FILESRV\\ostra\\", kRun, Sum);
  shared.SetNote([this](const std::string& why) { notes.push_back(why); });
  EXPECT_FALSE(shared.OnFileWriting(step, kPage, "", ByteSpan::Of(std::string("new page"))));
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes.front().find("network path"), std::string::npos) << notes.front();
  EXPECT_TRUE(files.folders.empty()) << "nothing made on the share";
  // A long-path name of a local drive is no network path.
  EXPECT_EQ(BackupKeeper::Unavailable(files, "\\\\?\\C:\\OSTRA\\"), "");
  EXPECT_NE(BackupKeeper::Unavailable(files, "\\\\?\\UNC\\FILESRV\\ostra\\"), "");
}

TEST_F(BackupKeeperTest, OnlyRealRunFoldersArePrunedOldestBySequence) {
  const std::string backups = "C:\\OSTRA\\backup";
  // Three earlier runs whose ids sort the other way round from their order.
  const char* runs[] = {"20301231-000000-0001", "20200101-000000-0002", "20100101-000000-0003"};
  for (int i = 0; i < 3; ++i) {
    BackupRecord record;
    record.runId = runs[i];
    record.sequence = i + 1;
    files.MakeFolders(backups + "\\" + runs[i]);
    ASSERT_TRUE(BackupKeeper::Store(files, backups + "\\" + runs[i], record));
  }
  files.MakeFolders(backups + "\\keep-me");
  files.files[backups + "\\keep-me\\data"] = "not a run";
  files.links.insert(backups + "\\20000101-000000-0000");

  ASSERT_TRUE(Writing("new page"));
  EXPECT_EQ(BackupKeeper::Runs(files, "C:\\OSTRA\\"),
            (std::vector<std::string>{runs[1], runs[2], kRun}))
      << "the oldest by sequence went, though its id sorts last; this run is the latest";
  EXPECT_EQ(Record().sequence, 4);
  EXPECT_EQ(files.files.count(backups + "\\keep-me\\data"), 1u);
}

class RollbackTest : public ::testing::Test {
 protected:
  // A record of one run that replaced the server's program, as the keeper leaves it.
  void Recorded(const std::string& run, int64_t sequence, const std::string& before,
                const std::string& written) {
    BackupRecord record;
    record.runId = run;
    record.sequence = sequence;
    BackupFile file;
    file.original = kServer;
    file.copy = BackupKeeper::CopyName(1, kServer);
    file.existed = true;
    file.size = static_cast<int64_t>(before.size());
    file.sha256 = Sum(ByteSpan::Of(before));
    file.service = "CSOstraServer";
    file.slot = 0;
    file.component = "Ostra 服务器";
    file.oldNumber = 10;
    file.newNumber = 11;
    file.replaced = true;
    file.written = Sum(ByteSpan::Of(written));
    file.runningBefore = true;
    record.files.push_back(file);
    const std::string folder = BackupKeeper::RunFolder("C:\\OSTRA\\", run);
    h.files.MakeFolders(folder);
    h.files.files[folder + "\\" + file.copy] = before;
    ASSERT_TRUE(BackupKeeper::Store(h.files, folder, record));
  }
  int Rollback(const std::string& run = "") {
    said.clear();
    return RunRollback(h.platform, run, digest,
                       [this](const std::string& line) { said.push_back(line); });
  }
  Harness h;
  Sha256Hex digest = Sum;
  std::vector<std::string> said;
};

TEST_F(RollbackTest, RefusedWhileAnotherRunHoldsTheLock) {
  Recorded("20261209-103005-00aa", 1, "old CSOstraServer", "new");
  h.files.files[kServer] = "new";
  h.system.lockedElsewhere = true;
  EXPECT_EQ(Rollback(), 1);
  EXPECT_EQ(said, std::vector<std::string>{text::kAlreadyRunning});
  EXPECT_EQ(h.files.files[kServer], "new");
  EXPECT_TRUE(h.services.calls.empty());
}

TEST_F(RollbackTest, PutsBackOnlyAFileThatStillHoldsWhatTheRunWrote) {
  Recorded("20261209-103005-00aa", 1, "old CSOstraServer", "new");
  h.files.files[kServer] = "changed by hand";
  EXPECT_EQ(Rollback(), 1);
  EXPECT_EQ(h.files.files[kServer], "changed by hand");

  // A killed earlier rollback already put it back and left the service stopped.
  h.files.files[kServer] = "old CSOstraServer";
  h.services.services["CSOstraServer"].state = 1;
  EXPECT_EQ(Rollback(), 0);
  EXPECT_EQ(said.back(), text::kRollbackDone);
  EXPECT_EQ(h.services.services["CSOstraServer"].state, 4) << "it ran before the update";
  EXPECT_NE(
      std::find(
          h.database.statements.begin(), h.database.statements.end(),
          "{CALL ostra.dbo.cp_sys_server_update_set(0,10,'Ostra 服务器','回滚到第10次更新')}"),
      h.database.statements.end());
}

// The web folder checked when the rollback read the installation has become a junction
// by the time a file is put back or removed: neither goes through it.
TEST_F(RollbackTest, NothingIsRestoredOrRemovedThroughAWebFolderThatBecameAJunction) {
  const std::string velin = "d:\\wwwroot\\cgi-bin\\Velin.dll";
  const std::string data = "d:\\wwwroot\\cgi-bin\\OstData.dll";
  BackupRecord record;
  record.runId = "20261209-103005-00aa";
  record.sequence = 1;
  for (const std::string& path : {velin, data}) {
    BackupFile file;
    file.original = path;
    file.copy = BackupKeeper::CopyName(record.files.size() + 1, path);
    file.existed = path == velin;
    file.size = file.existed ? 9 : 0;
    file.sha256 = file.existed ? Sum(ByteSpan::Of("old velin")) : "";
    file.slot = path == velin ? 2 : 4;
    file.component = path == velin ? "Velin 网站后台" : "OstData 数据接口";
    file.oldNumber = 10;
    file.newNumber = 11;
    file.replaced = true;
    file.written = Sum(ByteSpan::Of("new"));
    record.files.push_back(file);
  }
  const std::string folder = BackupKeeper::RunFolder("C:\\OSTRA\\", record.runId);
  h.files.MakeFolders(folder);
  h.files.files[folder + "\\" + record.files[0].copy] = "old velin";
  ASSERT_TRUE(BackupKeeper::Store(h.files, folder, record));
  h.files.files[velin] = "new";
  h.files.files[data] = "new";
  h.files.elsewhere = {"d:\\wwwroot"};
  std::map<std::string, std::string> before = h.files.files;
  EXPECT_EQ(Rollback(), 1);
  std::map<std::string, std::string> after = h.files.files;
  before.erase(kLog);
  after.erase(kLog);  // the rollback's own journal
  EXPECT_EQ(after, before);
  EXPECT_NE(
      std::find(said.begin(), said.end(),
                Format(text::kRollbackNotRestored, velin.c_str(), text::kRollbackFolderMoved)),
      said.end());
  EXPECT_NE(std::find(said.begin(), said.end(),
                      Format(text::kRollbackNotRestored, data.c_str(), text::kRollbackFolderMoved)),
            said.end());
  EXPECT_EQ(said.back(), Format(text::kRollbackIncomplete, 2));

  // The journal says why the update's own write was refused.
  FakeSystem system;
  Journal journal(h.files, system, "C:\\OSTRA\\", Sum);
  ASSERT_TRUE(journal.Begin("20261209-110000-00bb", "OstServerUpdate 5.0"));
  WriteReport refused;
  refused.path = velin;
  refused.failedStep = "folder";
  PlanStep step;
  step.targetPath = velin;
  journal.OnFileWritten(step, ByteSpan::Of("new"), refused);
  EXPECT_NE(h.files.files[kLog].find(velin + " not written: its folder leads elsewhere now"),
            std::string::npos);
}

}  // namespace
}  // namespace ost
