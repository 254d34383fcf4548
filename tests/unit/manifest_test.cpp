#include <gtest/gtest.h>

#include "app/texts.h"
#include "unit/fakes.h"
#include "update/detail_file.h"
#include "util/md5.h"
#include "util/text.h"

namespace ost {
namespace {

using testing::FakeFiles;
using testing::Harness;
using testing::ManifestText;

// Every component installed at update 10, services running in C:\OSTRA: the
// harness's machine.
class ManifestTest : public ::testing::Test {
 protected:
  UpdateDialog& Evaluate(const std::string& manifest) { return h.Check(manifest); }
  std::string Cell(int row, int column) { return h.Cell(row, column); }
  const ServiceEntry& Entry(int i) { return h.dialog->serviceTable()[static_cast<size_t>(i)]; }

  Harness h;
};

TEST_F(ManifestTest, NothingNewerOffersTheCloseButton) {
  UpdateDialog& dialog =
      Evaluate(ManifestText("3.80 7.0", {"10\tServer\tv10\tsame", "9\tAgent\tv9\tolder"}));
  EXPECT_EQ(Cell(2, 3), "查询岚汐完成");
  EXPECT_EQ(h.Colour(2), kDoneGreen);
  EXPECT_EQ(Cell(2, 2), "最新版本:3.80");
  ASSERT_EQ(dialog.RowCount(), 4);
  EXPECT_EQ(Cell(3, 0), "--");
  EXPECT_EQ(Cell(3, 1), "检测结果:");
  EXPECT_EQ(Cell(3, 2), "没有新服务程序需要更新!");
  EXPECT_EQ(h.Colour(3), kAlertRed);
  EXPECT_EQ(h.controls.buttonText(), "□□ 点击关闭 □□");
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_EQ(dialog.closeOnClick(), 1);
  EXPECT_EQ(dialog.phase(), RunPhase::kFinished);
  using B = std::vector<std::pair<uint32_t, uint32_t>>;
  EXPECT_EQ(h.system.beeps, (B{{462, 300}, {494, 300}, {530, 300}}));
  EXPECT_EQ(Entry(0).needsUpdate, 0);
  EXPECT_EQ(Entry(0).availableVersion, 10);
  EXPECT_EQ(Entry(1).availableVersion, 9);
  EXPECT_EQ(dialog.availableVelinVersion(), 70);
}

TEST_F(ManifestTest, NewerRowFillsItsEntryAndOffersAPlan) {
  UpdateDialog& dialog =
      Evaluate(ManifestText("3.80 7.0", {"10", Utf8ToGbk("12\tAgent\tv1.2\t新的代理服务")}));
  const ServiceEntry& agent = Entry(1);
  EXPECT_EQ(agent.needsUpdate, 1);
  EXPECT_EQ(agent.kind, 3);
  EXPECT_EQ(agent.displayName, "Ostra 代理服务");
  EXPECT_EQ(agent.fileName, "CSOstraAgent.exe");
  EXPECT_EQ(agent.serviceName, "CSOstraAgent");
  EXPECT_EQ(agent.versionLabel, "v1.2");
  EXPECT_EQ(agent.description, "新的代理服务");
  EXPECT_EQ(agent.installDir, "C:\\OSTRA");
  EXPECT_EQ(dialog.closeOnClick(), 0);
  EXPECT_EQ(dialog.phase(), RunPhase::kPlanOffered);
  ASSERT_EQ(dialog.RowCount(), 5);
  EXPECT_EQ(Cell(3, 1), "※检测结果※");
  EXPECT_EQ(Cell(4, 0), "4");
  EXPECT_EQ(Cell(4, 1), "Ostra 代理服务");
  EXPECT_EQ(dialog.GetRowTag(4), 10001);
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_EQ(h.controls.buttonText(), "◆ 开始升级服务器...");
  EXPECT_TRUE(h.system.beeps.empty());
}

TEST_F(ManifestTest, OnlyStrictlyGreaterVersionsAreNewer) {
  UpdateDialog& dialog =
      Evaluate(ManifestText("3.80 7.0", {"10\tServer\tv\td", "", "11\tVelin\tv\td"}));
  EXPECT_EQ(Entry(0).needsUpdate, 0);
  EXPECT_EQ(Entry(1).availableVersion, 0);  // an empty line uses up its index
  EXPECT_EQ(Entry(2).needsUpdate, 1);
  EXPECT_EQ(Entry(2).installDir, "D:\\wwwroot\\cgi-bin");
  ASSERT_EQ(dialog.plan().steps.size(), 1u);
  EXPECT_EQ(dialog.plan().steps[0].entry, 2);
}

TEST_F(ManifestTest, AtMostSixRowsEvenWithoutEnd) {
  std::vector<std::string> rows(6, "10");
  rows.push_back("99\tServer\tv\tseventh");
  Evaluate(ManifestText("3.80 7.0", rows, ""));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Entry(i).needsUpdate, 0);
  EXPECT_EQ(Cell(3, 2), "没有新服务程序需要更新!");

  Harness h2;
  UpdateDialog& d2 = h2.Check("3.80 7.0\n--BEGIN--\n11\tServer\tv\tlast line without end");
  EXPECT_EQ(d2.serviceTable()[0].needsUpdate, 1);
  EXPECT_EQ(d2.serviceTable()[0].description, "");  // no line feed after it
}

TEST_F(ManifestTest, ABrokenRowEndsTheScan) {
  Evaluate(ManifestText("3.80 7.0", {"11\tNoSuchKey\tv\td", "12\tAgent\tv\td"}));
  EXPECT_EQ(Entry(0).kind, 0);
  EXPECT_EQ(Entry(0).needsUpdate, 0);  // marked, then dropped by the plan: no service
  EXPECT_EQ(Entry(1).needsUpdate, 0);
  EXPECT_EQ(Entry(1).availableVersion, 0);  // not even read
  // The marked entry has no service to ask, so no plan row: nothing to update.
  EXPECT_EQ(Cell(4, 2), "没有新服务程序需要更新!");
}

TEST_F(ManifestTest, RowWithoutLabelTabKeepsItsIdentity) {
  Evaluate(ManifestText("3.80 7.0", {"11\tServer\tlabel-without-third-tab", "12\tAgent\tv\td"}));
  EXPECT_EQ(Entry(0).needsUpdate, 1);
  EXPECT_EQ(Entry(0).kind, 5);
  EXPECT_EQ(Entry(0).versionLabel, "");
  EXPECT_EQ(Entry(1).needsUpdate, 0);

  Harness h2;
  UpdateDialog& d2 = h2.Check(ManifestText("3.80 7.0", {"11\tServer", "12\tAgent\tv\td"}));
  EXPECT_EQ(d2.serviceTable()[0].kind, 0);         // no second TAB: the key is not read
  EXPECT_EQ(d2.serviceTable()[0].needsUpdate, 0);  // marked, then dropped by the plan
  EXPECT_EQ(d2.serviceTable()[1].availableVersion, 0);
  // Marked as newer: the manifest row says the check is done, the plan has no row.
  EXPECT_EQ(h2.Cell(3, 0), "※");
  EXPECT_EQ(h2.Cell(4, 2), "没有新服务程序需要更新!");
}

TEST_F(ManifestTest, FieldsAreBoundedAndDecoded) {
  // GBK text: 200 double-byte characters make 400 bytes, cut to 127 characters.
  std::string gbkDescription;
  for (int i = 0; i < 200; ++i) gbkDescription += "\xd6\xd0";  // 中
  std::string label(40, 'L');
  Evaluate(ManifestText("3.80 7.0", {"11\tServer\t" + label + "\t" + gbkDescription}));
  EXPECT_EQ(Entry(0).versionLabel, std::string(31, 'L'));
  std::string expected;
  for (int i = 0; i < 127; ++i) expected += "中";
  EXPECT_EQ(Entry(0).description, expected);
}

TEST_F(ManifestTest, NewerDatabaseVersionPlansItsScripts) {
  UpdateDialog& dialog = Evaluate(ManifestText("3.82 7.0", {"10"}));
  EXPECT_EQ(Cell(2, 2), "版本:3.80 -> 3.82 需要升级!");
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(Cell(4, 1), "Ostra 版本升级");
  EXPECT_EQ(Cell(4, 2), "更新数据库到:3.81版");
  EXPECT_EQ(dialog.GetRowTag(5), 382);
  EXPECT_EQ(h.Colour(5), kScriptBlue);
}

TEST_F(ManifestTest, NewerWebVersionAloneStartsNothing) {
  UpdateDialog& dialog = Evaluate(ManifestText("3.80 7.2", {"10"}));
  EXPECT_EQ(dialog.availableVelinVersion(), 72);
  EXPECT_EQ(Cell(3, 2), "没有新服务程序需要更新!");
}

TEST_F(ManifestTest, FirstNumberInThreeCharactersMisplacesTheSecond) {
  // "3.8 7.2": offset 5 lies inside the second number, which then reads as 2.
  UpdateDialog& dialog = Evaluate(ManifestText("3.8 7.2", {"10"}));
  EXPECT_EQ(dialog.availableOstraVersion(), 380);
  EXPECT_EQ(dialog.availableVelinVersion(), 20);
}

TEST_F(ManifestTest, WithoutBeginNothingIsWritten) {
  UpdateDialog& dialog = Evaluate("3.80 7.0\nno markers here\n");
  EXPECT_EQ(Cell(2, 3), "开始查询...");
  EXPECT_EQ(dialog.RowCount(), 3);
  EXPECT_EQ(dialog.updateRunning(), 0);
  EXPECT_EQ(dialog.phase(), RunPhase::kFailed);
  EXPECT_FALSE(h.controls.buttonEnabled());

  // Only the first number: the second is searched behind it and the markers are lost.
  Harness h2;
  EXPECT_EQ(h2.Check("3.80\n--BEGIN--\n11\tServer\tv\td\n--END--\n").RowCount(), 3);
}

// A number that names no release would plan a script row for every step up to it (the
// largest would never end), and a Velin number from 30.0 on would give script rows
// the tags of Ostra scripts. Such a number drops only the rows that depend on it.
TEST_F(ManifestTest, VersionsBeyondAnyReleaseDropOnlyTheirScripts) {
  struct Case {
    const char* versions;
    int scriptRows;  // planned script rows
  };
  for (const Case& c :
       {Case{"3.80 30.0", 0}, Case{"3.80 100.0", 0}, Case{"3.80 7000.0", 0}, Case{"1e2 x7.1", 1},
        Case{"-1e3 7.0", 0}, Case{"-1.00 7.0", 0}, Case{"nan 7.0", 0}, Case{"3.81 400.0", 1}}) {
    Harness h2;
    UpdateDialog& d2 = h2.Check(ManifestText(c.versions, {"11\tServer\tv\td"}));
    EXPECT_EQ(d2.phase(), RunPhase::kPlanOffered) << c.versions;
    EXPECT_EQ(d2.serviceTable()[0].needsUpdate, 1) << c.versions;
    EXPECT_EQ(d2.plan().rowCount, c.scriptRows + 1) << c.versions;
    EXPECT_EQ(h2.Cell(2, 3), "查询岚汐完成") << c.versions;
  }
  Harness h3;
  h3.Check(ManifestText("1e2 7.0", {"10"}));
  EXPECT_EQ(h3.Cell(2, 2), "最新版本:3.80");
  EXPECT_EQ(h3.Cell(3, 2), "没有新服务程序需要更新!");

  // The largest that still name one (the first number has four characters).
  UpdateDialog& dialog = Evaluate(ManifestText("99.9 29.9", {"10"}));
  EXPECT_EQ(dialog.availableOstraVersion(), 9990);
  EXPECT_EQ(dialog.availableVelinVersion(), 299);
  EXPECT_EQ(dialog.RowCount(), 3 + 1 + (9990 - 380) + (299 - 70));
  EXPECT_EQ(dialog.plan().steps.back().requestPath, "/ostra/update1/sql/v299.sql.zip");
}

TEST_F(ManifestTest, DetailFilesThatDifferAreQueued) {
  const std::string same = "same content";
  const std::string local = "old content";
  char sameDigest[33];
  Md5Hex(same.data(), same.size(), sameDigest);
  std::string upper(sameDigest);
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = same;
  h.files.files["D:\\wwwroot\\cgi-bin\\b.htm"] = local;
  std::string tail =
      "--END--\n--FILE DETAIL--\r\n"
      "a.htm.zip+12=" +
      upper +
      "\r\n"
      "b.htm.zip+11=" +
      std::string(sameDigest) +
      "\r\n"
      "missing.htm.zip+5=" +
      std::string(sameDigest) +
      "\r\n"
      "--FILE DETAIL END--\n";
  UpdateDialog& dialog = Evaluate(ManifestText("3.80 7.0", {"11\tServer\tv\td"}, tail));
  EXPECT_EQ(dialog.detailFiles(), (std::vector<std::string>{"b.htm"}));
  EXPECT_NE(h.controls.statusText().find("+1个下载"), std::string::npos);
}

TEST_F(ManifestTest, DetailBlockNeedsItsEndAndStopsAtAShortLine) {
  h.files.files["D:\\wwwroot\\cgi-bin\\b.htm"] = "x";
  const std::string line = "b.htm.zip+1=" + std::string(32, '0') + "\n";
  EXPECT_TRUE(Evaluate(ManifestText("3.80 7.0", {"10"}, "--END--\n--FILE DETAIL--\n" + line))
                  .detailFiles()
                  .empty());

  Harness h2;
  h2.files.files["D:\\wwwroot\\cgi-bin\\b.htm"] = "x";
  UpdateDialog& d2 = h2.Check(ManifestText(
      "3.80 7.0", {"10"}, "--END--\n--FILE DETAIL--\nshort\n" + line + "--FILE DETAIL END--\n"));
  EXPECT_TRUE(d2.detailFiles().empty());
}

TEST(DetailLine, ResultCodes) {
  FakeFiles files;
  const std::string folder = "D:\\wwwroot\\cgi-bin";
  const std::string digest(32, 'a');
  // The line's code, or the comparison's when the line parses.
  auto compare = [&](const std::string& line) {
    DetailLine parsed;
    int result = ParseDetailLine(line, &parsed);
    return result != 0 ? result : CompareWithLocalFile(files, folder, parsed);
  };
  EXPECT_EQ(compare("a.zip+1=x"), -1);
  EXPECT_EQ(compare(std::string(256, 'a')), -1);
  EXPECT_EQ(compare("name.htm.zip=" + digest), -2);
  EXPECT_EQ(compare("name.htm+12=" + digest), -3);
  EXPECT_EQ(compare("name.htm.zip+12 " + digest), -4);
  EXPECT_EQ(compare("name.htm.zip+12=" + digest), -5);
  EXPECT_EQ(compare("..\\..\\boot.ini.zip+12=" + digest), -6);
  EXPECT_EQ(compare("C:boot.ini.zip+12=" + digest), -6);
  EXPECT_EQ(compare("sub/x.htm.zip+12=" + digest), -6);
  for (const char* device : {"CON", "nul.txt", "Com1", "LPT9.htm", "aux "}) {
    files.files[folder + "\\" + device] = "";
    EXPECT_EQ(compare(std::string(device) + ".zip+12=" + digest), -6) << device;
  }
  EXPECT_EQ(compare("trailing..zip+12=" + digest), -6);
  // A detail file would collide with the web DLL it names.
  for (const char* dll : {"Velin.dll", "OSTDATA.dll", "velin.DLL"}) {
    EXPECT_EQ(compare(std::string(dll) + ".zip+12=" + digest), -6) << dll;
  }
  files.files[folder + "\\Velin.dll.htm"] = "";
  EXPECT_EQ(compare("Velin.dll.htm.zip+12=" + digest), 1);
  files.files[folder + "\\COM10"] = "";
  EXPECT_EQ(compare("COM10.zip+12=" + digest), 1);  // not a device: differs
  files.files[folder + "\\name.htm"] = "";
  EXPECT_EQ(compare("name.htm.zip+12=d41d8cd98f00b204e9800998ecf8427e"), 0);
  EXPECT_EQ(compare("name.htm.zip+12=D41D8CD98F00B204E9800998ECF8427E"), 0);
  EXPECT_EQ(compare("name.htm.zip+12=d41d8cd98f00b204e9800998ecf8427"), 1);  // 31 digits

  // Names are checked as the characters they stand for.
  for (const char* device : {"CONIN$", "conout$.txt"}) {
    EXPECT_EQ(compare(std::string(device) + ".zip+12=" + digest), -6) << device;
  }
  EXPECT_EQ(compare(".zip+12=" + digest), -6);
  EXPECT_EQ(compare("..zip+12=" + digest), -6);
  EXPECT_EQ(compare("a?b.htm.zip+12=" + digest), -6);
  EXPECT_EQ(compare("bad\xff.htm.zip+12=" + digest), -6);  // does not decode
  files.files[folder + "\\jquery..min.js"] = "";
  EXPECT_EQ(compare("jquery..min.js.zip+12=" + digest), 1);
  // 運 is DF 5C in GBK: its trail byte is a backslash's.
  files.files[folder + "\\運.htm"] = "";
  EXPECT_EQ(compare("\xdf\x5c.htm.zip+12=" + digest), 1);

  DetailLine parsed;
  ASSERT_EQ(ParseDetailLine("\xdf\x5c.htm.zip+12=" + digest, &parsed), 0);
  EXPECT_EQ(parsed.name, "運.htm");
  ASSERT_EQ(ParseDetailLine("name.htm.zip+12=" + digest + "\r", &parsed), 0);
  EXPECT_EQ(parsed.name, "name.htm");
  EXPECT_EQ(parsed.size, 12);
  EXPECT_EQ(parsed.digest, digest);
}

TEST_F(ManifestTest, WithoutTheWebPlatformDetailFilesAreNotLookedAt) {
  h.database.platformFlag = "0";
  h.files.files["\\a.htm"] = "old";  // where an empty web folder would point
  UpdateDialog& dialog = Evaluate(ManifestText(
      "3.80 7.0", {"11\tServer\tv\td"},
      "--END--\n--FILE DETAIL--\na.htm.zip+3=" + std::string(32, '0') + "\n--FILE DETAIL END--\n"));
  EXPECT_TRUE(dialog.detailFiles().empty());
  EXPECT_EQ(std::count(h.files.opened.begin(), h.files.opened.end(), "\\a.htm"), 0);
  EXPECT_EQ(h.controls.statusText(), "◎共需进行 1 项更新,预计所需时间 21 秒。");
}

// A queued detail file returns its size; the evaluation ignores what comes back.
TEST_F(ManifestTest, DetailResultsReachTheObserverNotTheScreen) {
  h.files.files["D:\\wwwroot\\cgi-bin\\COM10"] = "x";
  const std::string tail = "--END--\n--FILE DETAIL--\nCOM10.zip+12=" + std::string(32, 'a') +
                           "\nCON.zip+12=" + std::string(32, 'a') + "\n--FILE DETAIL END--\n";
  UpdateDialog& dialog = Evaluate(ManifestText("3.80 7.0", {"11\tServer\tv\td"}, tail));
  EXPECT_EQ(dialog.detailFiles(), (std::vector<std::string>{"COM10"}));
  EXPECT_EQ(h.events.With("plan"),
            (std::vector<std::string>{"plan 36s /ostra/update1/COM10.zip@3 "
                                      "/ostra/update1/CSOstraServer.exe.zip@4"}));
}

}  // namespace
}  // namespace ost
