#include <gtest/gtest.h>

#include <map>

#include "app/texts.h"
#include "journal/journal.h"
#include "unit/fakes.h"
#include "util/text.h"

namespace ost {
namespace {

using testing::Harness;
using testing::ManifestText;

// The six entry rows of a manifest: update 12 for the slots named (by their key),
// update 10 (installed already) for the others.
std::vector<std::string> Offer(const std::map<int, std::string>& newer) {
  std::vector<std::string> rows;
  for (int slot = 0; slot < 6; ++slot) {
    auto found = newer.find(slot);
    rows.push_back(
        found == newer.end() ? "10" : "12\t" + found->second + "\tv12\t" + found->second + " desc");
  }
  return rows;
}

class PlanTest : public ::testing::Test {
 protected:
  UpdateDialog& Plan(const std::string& versions, const std::map<int, std::string>& newer,
                     const std::string& tail = "--END--\n") {
    return h.Check(ManifestText(versions, Offer(newer), tail));
  }
  std::string Cell(int row, int column) { return h.Cell(row, column); }
  const ServiceEntry& Entry(int i) { return h.dialog->serviceTable()[static_cast<size_t>(i)]; }

  Harness h;
};

TEST_F(PlanTest, EstimateAndSummaryOfTheDocumentedExample) {
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old";
  UpdateDialog& dialog = Plan(
      "3.82 7.0", {{0, "Server"}, {2, "Velin"}},
      "--END--\n--FILE DETAIL--\na.htm.zip+3=" + std::string(32, '0') + "\n--FILE DETAIL END--\n");
  EXPECT_EQ(h.controls.statusText(), "◎共需进行 4 项更新+1个下载,预计所需时间 2 分 57 秒。");
  ASSERT_EQ(dialog.RowCount(), 8);
  EXPECT_EQ(Cell(3, 0), "※");
  EXPECT_EQ(Cell(3, 2), "※需要更新如下系统服务※");
  EXPECT_EQ(Cell(3, 3), "");
  EXPECT_EQ(h.Colour(3), kHeaderGrey);
  EXPECT_EQ(dialog.GetRowTag(4), 381);
  EXPECT_EQ(dialog.GetRowTag(5), 382);
  EXPECT_EQ(dialog.GetRowTag(6), 10000);
  EXPECT_EQ(dialog.GetRowTag(7), 10002);
  EXPECT_EQ(Cell(6, 0), "6");
  EXPECT_EQ(Cell(6, 1), "Ostra 服务器");
  EXPECT_EQ(Cell(6, 2), "Server desc");
  EXPECT_EQ(Cell(6, 3), "该服务正在运行");
  EXPECT_EQ(h.Colour(6), kRunningBlue);
  EXPECT_TRUE(h.controls.buttonEnabled());

  // The plan as data: what each step fetches, where it goes and which row it reports on.
  const auto& steps = dialog.plan().steps;
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(dialog.plan().headerRow, 3);
  EXPECT_EQ(dialog.plan().rowCount, 4);
  EXPECT_EQ(dialog.plan().estimateSeconds, 177);
  EXPECT_EQ(steps[0].kind, StepKind::kDetailFile);
  EXPECT_EQ(steps[0].requestPath, "/ostra/update1/a.htm.zip");
  EXPECT_EQ(steps[0].targetPath, "D:\\wwwroot\\cgi-bin\\a.htm");
  EXPECT_EQ(steps[0].row, 3);
  EXPECT_EQ(steps[1].kind, StepKind::kOstraScript);
  EXPECT_EQ(steps[1].requestPath, "/ostra/update1/sql/update381.sql.zip");
  EXPECT_EQ(steps[1].row, 4);
  EXPECT_EQ(steps[3].kind, StepKind::kComponent);
  EXPECT_EQ(steps[3].entry, 0);
  EXPECT_EQ(steps[3].version, 12);
  EXPECT_EQ(steps[3].requestPath, "/ostra/update1/CSOstraServer.exe.zip");
  EXPECT_EQ(steps[3].targetPath, "C:\\OSTRA\\CSOstraServer.exe");
  EXPECT_EQ(steps[4].requestPath, "/ostra/update1/Velin.dll.zip");
  EXPECT_EQ(steps[4].targetPath, "D:\\wwwroot\\cgi-bin\\Velin.dll");
  EXPECT_EQ(steps[4].row, 7);
}

TEST_F(PlanTest, SummaryFormsAroundOneMinute) {
  Plan("3.83 7.0", {});  // three scripts, 60 s
  EXPECT_EQ(h.controls.statusText(), "◎共需进行 3 项更新,预计所需时间 60 秒。");

  Harness h2;
  h2.Check(ManifestText("3.80 7.0", Offer({{1, "Agent"}})));
  EXPECT_EQ(h2.controls.statusText(), "◎共需进行 1 项更新,预计所需时间 1 分 1 秒。");
}

TEST_F(PlanTest, EmptyPlanCountsNothing) {
  // The web DLL is newer but the web platform is not installed: nothing is left.
  h.database.platformFlag = "0";
  UpdateDialog& dialog = Plan("3.80 7.0", {{2, "Velin"}});
  EXPECT_EQ(h.controls.statusText(), "◎共需进行 0 项更新,预计所需时间 0 秒。");
  ASSERT_EQ(dialog.RowCount(), 5);
  EXPECT_EQ(Cell(3, 0), "※");
  EXPECT_EQ(Cell(4, 2), "没有新服务程序需要更新!");
  EXPECT_EQ(h.controls.buttonText(), "□□ 点击关闭 □□");
  EXPECT_EQ(dialog.closeOnClick(), 1);
}

TEST_F(PlanTest, WebScriptsOnlyWithTheWebPlatform) {
  UpdateDialog& dialog = Plan("3.81 7.2", {});
  ASSERT_EQ(dialog.RowCount(), 7);
  EXPECT_EQ(Cell(5, 2), "更新数据库到:7.1版");
  EXPECT_EQ(Cell(6, 2), "更新数据库到:7.2版");
  EXPECT_EQ(dialog.plan().steps[1].requestPath, "/ostra/update1/sql/v71.sql.zip");
  EXPECT_EQ(dialog.plan().steps[1].downloadKind, DownloadKind::kVelinScript);

  Harness h2;
  h2.database.platformFlag = "0";
  UpdateDialog& d2 = h2.Check(ManifestText("3.81 7.2", Offer({{2, "Velin"}})));
  EXPECT_EQ(d2.RowCount(), 5);  // the Ostra script alone
  EXPECT_EQ(d2.serviceTable()[2].needsUpdate, 0);
}

// Behind a web DLL that is current, the data interface is planned alone, with the
// web server to stop and start: a run that stopped between the two DLLs is mended.
TEST_F(PlanTest, DataInterfaceBehindACurrentWebDllGoesAlone) {
  h.services.services["W3SVC"].state = 1;
  UpdateDialog& dialog = Plan("3.80 7.0", {{0, "Server"}, {4, "OstData"}});
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(Cell(5, 1), "OstData 数据接口");
  EXPECT_EQ(Entry(4).serviceName, "W3SVC");
  EXPECT_EQ(Entry(4).stateBefore, 1);
  EXPECT_EQ(Cell(5, 3), "目前为停止状态");
  EXPECT_EQ(dialog.plan().steps[1].targetPath, "D:\\wwwroot\\cgi-bin\\OstData.dll");
}

// A web DLL that is newer but cannot be updated takes the data interface with it.
TEST_F(PlanTest, DataInterfaceLeavesWithAWebDllThatIsDropped) {
  h.services.services.erase("W3SVC");
  UpdateDialog& dialog = Plan("3.80 7.0", {{0, "Server"}, {2, "Velin"}, {4, "OstData"}});
  EXPECT_EQ(Entry(2).needsUpdate, 0);
  EXPECT_EQ(Entry(4).needsUpdate, 0);
  EXPECT_EQ(dialog.facts().ostDataPending, 0);
  EXPECT_EQ(dialog.RowCount(), 5);
}

TEST_F(PlanTest, DataInterfaceNeedsItsFileFound) {
  h.files.files.erase("D:\\wwwroot\\cgi-bin\\OstData.dll");
  UpdateDialog& dialog = Plan("3.80 7.0", {{2, "Velin"}, {4, "OstData"}});
  EXPECT_EQ(Entry(4).needsUpdate, 0);
  EXPECT_EQ(dialog.RowCount(), 5);
}

TEST_F(PlanTest, DataInterfaceCarriesTheWebServersState) {
  h.services.services["W3SVC"].state = 1;
  UpdateDialog& dialog = Plan("3.80 7.0", {{2, "Velin"}, {4, "OstData"}});
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(Entry(4).stateBefore, 1);
  EXPECT_EQ(Cell(5, 3), "目前为停止状态");
  EXPECT_EQ(h.Colour(5), kStoppedPurple);
}

TEST_F(PlanTest, DataInterfaceBeforeTheWebDllStillCarriesTheWebServersState) {
  UpdateDialog& dialog =
      h.Check(ManifestText("3.80 7.0", {"10", "10", "12\tOstData\tv\td", "10", "12\tVelin\tv\td"}));
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(Entry(2).stateBefore, 4);
  EXPECT_EQ(Cell(4, 3), "该服务正在运行");
}

TEST_F(PlanTest, UnreachableServicesLeaveThePlan) {
  h.services.services.erase("CSOstraAgent");
  h.services.services["CSOstraMessage"].binaryPath = std::string(256, 'p');  // too long
  h.services.services["CSTuyoMess"].binaryPath =
      "\"C:\\Program Files\\Tuyo\\CSTuyoMess.exe\" -k C:\\x";
  UpdateDialog& dialog =
      Plan("3.80 7.0", {{0, "Server"}, {1, "Agent"}, {3, "Message"}, {5, "Tuyom"}});
  EXPECT_EQ(Entry(1).needsUpdate, 0);
  EXPECT_EQ(Entry(3).needsUpdate, 0);
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(dialog.GetRowTag(4), 10000);
  EXPECT_EQ(dialog.GetRowTag(5), 10005);
  EXPECT_EQ(Entry(5).installDir, "C:\\Program Files\\Tuyo");
  EXPECT_EQ(dialog.plan().steps[1].targetPath, "C:\\Program Files\\Tuyo\\CSTuyoMess.exe");
  EXPECT_EQ(
      h.events.With("service"),
      (std::vector<std::string>{"service query CSOstraServer 4", "service path CSOstraServer 0",
                                "service query CSOstraAgent 9", "service query CSOstraMessage 4",
                                "service path CSOstraMessage 10", "service query CSTuyoMess 4",
                                "service path CSTuyoMess 0"}));
}

TEST(InstallFolder, OfConfiguredPaths) {
  EXPECT_EQ(InstallFolderOf("C:\\OSTRA\\CSOstraServer.exe"), "C:\\OSTRA");
  EXPECT_EQ(InstallFolderOf("CSOstraServer.exe"), "CSOstraServer.exe");
  EXPECT_EQ(InstallFolderOf("\"C:\\A B\\x.exe\""), "C:\\A B");
  EXPECT_EQ(InstallFolderOf("\"C:\\A B\\x.exe\" -k \"C:\\other\\y\""), "C:\\A B");
}

TEST_F(PlanTest, VelinPackageNamesItsVariantWhenLibxlLiesBesideIt) {
  h.files.files["D:\\wwwroot\\cgi-bin\\libxl.dll"] = "x";
  UpdateDialog& dialog = Plan("3.80 7.0", {{2, "Velin"}});
  EXPECT_EQ(dialog.plan().steps[0].requestPath, "/ostra/update1/Velin.dllx.zip");
  EXPECT_EQ(dialog.plan().steps[0].targetPath, "D:\\wwwroot\\cgi-bin\\Velin.dll");
}

// Where no backup can be kept, a file that is there is not written over: the operator
// hears it with the plan, and the journal says why.
TEST_F(PlanTest, NoBackupFolderIsSaidBeforeTheConfirmation) {
  h.system.programFolder = "\\\\FILESRV\\ostra\\";
  Journal journal(h.files, h.system, h.system.programFolder, nullptr);
  ASSERT_TRUE(journal.Begin("20261209-103005-00aa", "OstServerUpdate 5.0"));
  TeeObserver both(journal, h.events);
  h.host.bodies[std::string(kUpdatePath) + kManifestName] =
      ManifestText("3.80 7.0", Offer({{0, "Server"}}));
  h.dialog = std::make_unique<UpdateDialog>(h.platform, h.system.programFolder, &both);
  h.dialog->OnInitDialog();
  h.Pump();
  EXPECT_EQ(h.controls.statusText(), text::kNoBackupFolder);
  ASSERT_EQ(h.events.With("no backups: ").size(), 1u);
  EXPECT_NE(h.events.With("no backups: ")[0].find("network path"), std::string::npos);
  const std::string& log = h.files.files["\\\\FILESRV\\ostra\\OstServerUpdate.log"];
  EXPECT_NE(log.find("BACKUP"), std::string::npos) << log;
  EXPECT_NE(log.find("will not be written over"), std::string::npos) << log;
  EXPECT_TRUE(h.controls.buttonEnabled()) << "the operator may still run the scripts";
  h.dialog.reset();

  // A local folder whose backup folder is a link: the same.
  Harness local;
  local.files.links.insert("C:\\OSTRA\\backup");
  local.Check(ManifestText("3.80 7.0", Offer({{0, "Server"}})));
  EXPECT_EQ(local.controls.statusText(), text::kNoBackupFolder);

  // A plan of scripts only writes no file over: the summary as always.
  Harness scripts;
  scripts.system.programFolder = h.system.programFolder;
  scripts.Check(ManifestText("3.81 7.0", Offer({})));
  EXPECT_TRUE(scripts.events.With("no backups: ").empty());
  EXPECT_EQ(scripts.controls.statusText().rfind("◎共需进行 1 项更新", 0), 0u)
      << scripts.controls.statusText();
}

class StartClickTest : public PlanTest {
 protected:
  UpdateDialog& Offered() {
    h.services.services["CSOstraMessage"].state = 1;
    return Plan("3.81 7.0", {{0, "Server"}, {2, "Velin"}, {3, "Message"}});
  }
};

TEST_F(StartClickTest, DecliningChangesNothing) {
  UpdateDialog& dialog = Offered();
  h.Click(false);
  ASSERT_EQ(h.window.boxes.size(), 1u);
  EXPECT_EQ(h.window.boxes[0].caption, "确认提示");
  EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::kQuestion);
  EXPECT_EQ(h.window.boxes[0].text,
            "━━━━━━━※特※别※提※示※━━━━━━━━\r\n"
            "*需要升级 Ostra 版本：从 3.80 到 3.81\r\n"
            "*强烈建议升级之前，通过【系统信使】发出通知:暂停操作\r\n"
            "*让所有 Ostra 客户端关闭！\r\n"
            "*等待约10分钟的升级完成后再登入系统。\r\n"
            "━━━━━━━━━━━━━━━━━━━━━━━━\r\n"
            "                现在立即开始更新系统吗？请确认！");
  EXPECT_LE(Utf8ToGbk(h.window.boxes[0].text).size(), 511u);
  EXPECT_TRUE(h.services.calls.empty());
  EXPECT_EQ(dialog.updateRunning(), 0);
  EXPECT_EQ(dialog.phase(), RunPhase::kPlanOffered);
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_EQ(h.host.requests.size(), 1u);  // the manifest only
}

TEST_F(StartClickTest, ConfirmingStopsTheRunningServicesAndStarts) {
  UpdateDialog& dialog = Offered();
  h.services.services["W3SVC"].refuseStop = true;
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop CSOstraServer", "stop W3SVC"}));
  EXPECT_EQ(Cell(5, 3), "停止服务 ok");
  EXPECT_EQ(h.Colour(5), kStoppedPurple);
  EXPECT_EQ(Cell(6, 3), "停止服务失败");
  EXPECT_EQ(h.Colour(6), kAlertRed);
  EXPECT_EQ(Cell(7, 3), "目前为停止状态");  // not running: left alone
  EXPECT_EQ(Entry(3).stopResult, 1);
  EXPECT_EQ(Entry(2).stopResult, 10);
  EXPECT_EQ(dialog.updateRunning(), 1);
  EXPECT_EQ(h.controls.buttonText(), "▁▃▅▇ 正在更新 ▇▅▃▁");
  EXPECT_FALSE(h.controls.buttonEnabled());
  // The first download is the first plan row's script, from the primary host.
  ASSERT_EQ(h.system.threads.size(), 1u);
  h.RunDownloads();
  EXPECT_EQ(h.host.requests.back(),
            "update1.lanxi-ostra.com:80 /ostra/update1/sql/update381.sql.zip");
  EXPECT_EQ(h.files.files.count("C:\\OSTRA\\Ostra.rut"), 0u);  // route unchanged
}

TEST_F(StartClickTest, AServiceStoppedSinceThePlanShowsAsStopped) {
  UpdateDialog& dialog = Offered();
  h.services.services["CSOstraServer"].state = 1;  // stopped by someone meanwhile
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  EXPECT_EQ(Cell(5, 3), "停止服务 ok");
  EXPECT_EQ(h.Colour(5), kStoppedPurple);
  EXPECT_EQ(Entry(0).stopResult, 0);
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop W3SVC"}));
}

TEST_F(StartClickTest, SecondRouteIsStoredAndUsed) {
  h.registry.SetString("SOFTWARE\\OSTRA", "UpdateHost2", "mirror.example:8080");
  UpdateDialog& dialog = Offered();
  h.controls.ClickRoute(1);
  h.Click();
  EXPECT_EQ(dialog.routeChoice(), 1);
  EXPECT_EQ(h.host.requests.front(), "update1.lanxi-ostra.com:80 /ostra/update1/server.txt");
  EXPECT_EQ(h.host.requests[1], "mirror.example:8080 /ostra/update1/sql/update381.sql.zip");
  EXPECT_EQ(h.files.files["C:\\OSTRA\\Ostra.rut"], std::string("\x01\0\0\0", 4));
}

TEST_F(StartClickTest, NoRadioCheckedMeansPrimaryAndMinusOne) {
  h.files.files["C:\\OSTRA\\Ostra.rut"] = std::string("\x07\0\0\0", 4);
  UpdateDialog& dialog = Offered();
  EXPECT_EQ(dialog.routeChoice(), 7);
  h.Click();
  EXPECT_EQ(dialog.routeChoice(), -1);
  EXPECT_EQ(h.host.requests[1], "update1.lanxi-ostra.com:80 /ostra/update1/sql/update381.sql.zip");
  EXPECT_EQ(h.files.files["C:\\OSTRA\\Ostra.rut"], std::string("\xff\xff\xff\xff", 4));
}

TEST_F(StartClickTest, ConfirmationWithoutDatabaseUpgrade) {
  Plan("3.80 7.0", {{2, "Velin"}});
  h.Click(false);
  EXPECT_EQ(h.window.boxes.back().text,
            "本次更新没有 Ostra 版本升级，不影响客户端操作\r\n"
            "由于要升级网站平台，网站服务会有短暂的停止\r\n"
            "━━━━━━━━━━━━━━━━━━━━━━━━\r\n"
            "现在立即开始更新系统吗？请确认！");

  // The web DLL's entry is known but left out of the plan: no web line.
  Harness h2;
  h2.database.platformFlag = "0";
  h2.Check(ManifestText("3.80 7.0", Offer({{0, "Server"}, {2, "Velin"}})));
  h2.Click(false);
  EXPECT_EQ(h2.window.boxes.back().text,
            "本次更新没有 Ostra 版本升级，不影响客户端操作\r\n"
            "━━━━━━━━━━━━━━━━━━━━━━━━\r\n"
            "现在立即开始更新系统吗？请确认！");
  EXPECT_LE(Utf8ToGbk(h2.window.boxes.back().text).size(), 511u);
}

}  // namespace
}  // namespace ost
