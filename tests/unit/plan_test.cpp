#include <gtest/gtest.h>

#include "app/texts.h"
#include "unit/fakes.h"
#include "util/text.h"

namespace ost {
namespace {

using testing::Harness;

class PlanTest : public ::testing::Test {
 protected:
  PlanTest() : dialog(h.CheckedDialog()) {
    for (const char* name :
         {"CSOstraServer", "CSOstraAgent", "CSOstraMessage", "CSTuyoMess", "W3SVC"}) {
      h.services.services[name].binaryPath = std::string("C:\\OSTRA\\") + name + ".exe";
    }
    dialog.currentRow = 3;
  }

  // Marks entry i for the update as the manifest would.
  void Want(int i, const char* key, int32_t kind, const char* service, int seconds,
            const char* file = "x.exe") {
    ServiceEntry& entry = dialog.serviceTable[static_cast<size_t>(i)];
    entry.needsUpdate = 1;
    entry.kind = kind;
    entry.displayName = key;
    entry.description = std::string(key) + " desc";
    entry.serviceName = service;
    entry.fileName = file;
    entry.estimatedSeconds = seconds;
    if (kind == 4 || kind == 8) entry.installDir = dialog.db.cgiBinDir;
    if (kind == 4) dialog.velinEntry = i;
    if (kind == 8) dialog.ostDataEntry = i;
  }

  std::string Cell(int row, int column) { return h.list.GetItemText(row, column); }

  Harness h;
  UpdateDialog& dialog;
};

TEST_F(PlanTest, EstimateAndSummaryOfTheDocumentedExample) {
  dialog.versions.availableOstraVersion = 382;
  Want(0, "Server", 5, "CSOstraServer", 21);
  Want(2, "Velin", 4, "W3SVC", 101, "Velin.dll");
  dialog.detailFiles = {"a.htm"};
  dialog.BuildPlan();
  EXPECT_EQ(h.controls.statusText(), "◎共需进行 4 项更新+1个下载,预计所需时间 2 分 57 秒。");
  ASSERT_EQ(dialog.RowCount(), 8);
  EXPECT_EQ(Cell(3, 0), "※");
  EXPECT_EQ(Cell(3, 2), "※需要更新如下系统服务※");
  EXPECT_EQ(Cell(3, 3), "");
  EXPECT_EQ(dialog.progressList.Record(3)->textColor, kHeaderGrey);
  EXPECT_EQ(dialog.GetRowTag(4), 381);
  EXPECT_EQ(dialog.GetRowTag(5), 382);
  EXPECT_EQ(dialog.GetRowTag(6), 10000);
  EXPECT_EQ(dialog.GetRowTag(7), 10002);
  EXPECT_EQ(Cell(6, 0), "6");
  EXPECT_EQ(Cell(6, 3), "该服务正在运行");
  EXPECT_EQ(dialog.progressList.Record(6)->textColor, kRunningBlue);
  EXPECT_EQ(dialog.serviceTable[0].installDir, "C:\\OSTRA");
  EXPECT_EQ(dialog.serviceTable[2].installDir, "D:\\wwwroot\\cgi-bin");
  EXPECT_EQ(dialog.currentRow, 4);
  EXPECT_TRUE(h.controls.buttonEnabled());
}

TEST_F(PlanTest, SummaryFormsAroundOneMinute) {
  dialog.versions.availableOstraVersion = 383;  // three scripts, 60 s
  dialog.BuildPlan();
  EXPECT_EQ(h.controls.statusText(), "◎共需进行 3 项更新,预计所需时间 60 秒。");

  Harness h2;
  UpdateDialog& d2 = h2.CheckedDialog();
  d2.currentRow = 3;
  h2.services.services["CSOstraAgent"].binaryPath = "C:\\OSTRA\\CSOstraAgent.exe";
  ServiceEntry& agent = d2.serviceTable[1];
  agent.needsUpdate = 1;
  agent.kind = 3;
  agent.serviceName = "CSOstraAgent";
  agent.estimatedSeconds = 61;
  d2.BuildPlan();
  EXPECT_EQ(h2.controls.statusText(), "◎共需进行 1 项更新,预计所需时间 1 分 1 秒。");
}

TEST_F(PlanTest, EmptyPlanCountsNothing) {
  dialog.BuildPlan();
  EXPECT_EQ(h.controls.statusText(), "◎共需进行 0 项更新,预计所需时间 0 秒。");
  EXPECT_EQ(dialog.RowCount(), 4);
}

TEST_F(PlanTest, WebScriptsOnlyWithTheWebPlatform) {
  dialog.versions.availableVelinVersion = 72;
  dialog.BuildPlan();
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(Cell(4, 2), "更新数据库到:7.1版");
  EXPECT_EQ(Cell(5, 2), "更新数据库到:7.2版");

  Harness h2;
  UpdateDialog& d2 = h2.CheckedDialog();
  d2.currentRow = 3;
  d2.db.velinEnabled = 0;
  d2.versions.availableVelinVersion = 72;
  d2.serviceTable[2].needsUpdate = 1;
  d2.serviceTable[2].kind = 4;
  d2.serviceTable[2].serviceName = "W3SVC";
  d2.BuildPlan();
  EXPECT_EQ(d2.RowCount(), 4);
  EXPECT_EQ(d2.serviceTable[2].needsUpdate, 0);
}

TEST_F(PlanTest, DataInterfaceOnlyWithTheWebDll) {
  dialog.run.ostDataPending = 1;
  Want(4, "OstData", 8, "", 87, "OstData.dll");
  dialog.BuildPlan();  // no Velin entry
  EXPECT_EQ(dialog.serviceTable[4].needsUpdate, 0);
  EXPECT_EQ(dialog.run.ostDataPending, 0);
  EXPECT_EQ(dialog.RowCount(), 4);
}

TEST_F(PlanTest, DataInterfaceNeedsItsFileFound) {
  Want(2, "Velin", 4, "W3SVC", 101, "Velin.dll");
  Want(4, "OstData", 8, "", 87, "OstData.dll");
  dialog.run.ostDataPending = 0;
  dialog.BuildPlan();
  EXPECT_EQ(dialog.serviceTable[4].needsUpdate, 0);
  EXPECT_EQ(dialog.RowCount(), 5);
}

TEST_F(PlanTest, DataInterfaceCarriesTheWebServersState) {
  h.services.services["W3SVC"].state = 1;
  dialog.run.ostDataPending = 1;
  Want(2, "Velin", 4, "W3SVC", 101, "Velin.dll");
  Want(4, "OstData", 8, "", 87, "OstData.dll");
  dialog.BuildPlan();
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(dialog.serviceTable[4].stateBefore, 1);
  EXPECT_EQ(Cell(5, 3), "目前为停止状态");
  EXPECT_EQ(dialog.progressList.Record(5)->textColor, kStoppedPurple);
}

TEST_F(PlanTest, UnreachableServicesLeaveThePlan) {
  Want(0, "Server", 5, "CSOstraServer", 21);
  Want(1, "Agent", 3, "NotInstalled", 61);
  Want(3, "Message", 6, "CSOstraMessage", 31);
  Want(5, "Tuyom", 7, "CSTuyoMess", 32);
  h.services.services["CSOstraMessage"].binaryPath = std::string(256, 'p');  // too long
  h.services.services["CSTuyoMess"].binaryPath =
      "\"C:\\Program Files\\Tuyo\\CSTuyoMess.exe\" -k C:\\x";
  dialog.BuildPlan();
  EXPECT_EQ(dialog.serviceTable[1].needsUpdate, 0);
  EXPECT_EQ(dialog.serviceTable[3].needsUpdate, 0);
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(dialog.GetRowTag(4), 10000);
  EXPECT_EQ(dialog.GetRowTag(5), 10005);
  EXPECT_EQ(dialog.serviceTable[5].installDir, "C:\\Program Files\\Tuyo");
}

TEST_F(PlanTest, InstallFolderOfConfiguredPaths) {
  EXPECT_EQ(UpdateDialog::InstallFolderOf("C:\\OSTRA\\CSOstraServer.exe"), "C:\\OSTRA");
  EXPECT_EQ(UpdateDialog::InstallFolderOf("CSOstraServer.exe"), "CSOstraServer.exe");
  EXPECT_EQ(UpdateDialog::InstallFolderOf("\"C:\\A B\\x.exe\""), "C:\\A B");
}

class StartClickTest : public PlanTest {
 protected:
  void Plan() {
    dialog.versions.availableOstraVersion = 381;
    Want(0, "Server", 5, "CSOstraServer", 21);
    Want(2, "Velin", 4, "W3SVC", 101, "Velin.dll");
    Want(3, "Message", 6, "CSOstraMessage", 31);
    h.services.services["CSOstraMessage"].state = 1;
    dialog.BuildPlan();
    dialog.closeOnClick = 0;
    h.controls.WriteRouteRadios(dialog.routeChoice);
  }
};

TEST_F(StartClickTest, DecliningChangesNothing) {
  Plan();
  h.window.yesNoAnswer = BoxAnswer::kNo;
  dialog.OnStartClicked();
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
  EXPECT_EQ(dialog.run.updateRunning, 0);
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_TRUE(h.system.threads.empty());
}

TEST_F(StartClickTest, ConfirmingStopsTheRunningServicesAndStarts) {
  Plan();
  h.services.services["W3SVC"].refuseStop = true;
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop CSOstraServer", "stop W3SVC"}));
  EXPECT_EQ(Cell(5, 3), "停止服务 ok");
  EXPECT_EQ(dialog.progressList.Record(5)->textColor, kStoppedPurple);
  EXPECT_EQ(Cell(6, 3), "停止服务失败");
  EXPECT_EQ(dialog.progressList.Record(6)->textColor, kAlertRed);
  EXPECT_EQ(Cell(7, 3), "目前为停止状态");  // not running: left alone
  EXPECT_EQ(dialog.serviceTable[3].stopResult, 1);
  EXPECT_EQ(dialog.serviceTable[2].stopResult, 10);
  EXPECT_EQ(dialog.run.updateRunning, 1);
  EXPECT_EQ(h.controls.buttonText(), "▁▃▅▇ 正在更新 ▇▅▃▁");
  EXPECT_FALSE(h.controls.buttonEnabled());
  // The first download is the first plan row's script.
  ASSERT_EQ(h.system.threads.size(), 1u);
  EXPECT_EQ(dialog.job.requestPath, "/ostra/update1/sql/update381.sql.zip");
  EXPECT_EQ(dialog.job.downloadKind, 1);
  EXPECT_EQ(dialog.job.updateHost, dialog.config.primaryHost);
  EXPECT_EQ(h.files.files.count("C:\\OSTRA\\Ostra.rut"), 0u);  // route unchanged
}

TEST_F(StartClickTest, SecondRouteIsStoredAndUsed) {
  Plan();
  h.window.yesNoAnswer = BoxAnswer::kYes;
  h.controls.ClickRoute(1);
  dialog.OnStartClicked();
  EXPECT_EQ(dialog.routeChoice, 1);
  EXPECT_EQ(dialog.job.updateHost, dialog.config.secondaryHost);
  EXPECT_EQ(h.files.files["C:\\OSTRA\\Ostra.rut"], std::string("\x01\0\0\0", 4));
}

TEST_F(StartClickTest, NoRadioCheckedMeansPrimaryAndMinusOne) {
  Plan();
  dialog.routeChoice = 7;
  h.controls.WriteRouteRadios(7);
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  EXPECT_EQ(dialog.routeChoice, -1);
  EXPECT_EQ(dialog.job.updateHost, dialog.config.primaryHost);
  EXPECT_EQ(h.files.files["C:\\OSTRA\\Ostra.rut"], std::string("\xff\xff\xff\xff", 4));
}

TEST_F(StartClickTest, ConfirmationWithoutDatabaseUpgrade) {
  Want(2, "Velin", 4, "W3SVC", 101, "Velin.dll");
  dialog.BuildPlan();
  EXPECT_EQ(dialog.ConfirmationText(),
            "本次更新没有 Ostra 版本升级，不影响客户端操作\r\n"
            "由于要升级网站平台，网站服务会有短暂的停止\r\n"
            "━━━━━━━━━━━━━━━━━━━━━━━━\r\n"
            "现在立即开始更新系统吗？请确认！");
  dialog.serviceTable[2].needsUpdate = 0;
  EXPECT_EQ(dialog.ConfirmationText(),
            "本次更新没有 Ostra 版本升级，不影响客户端操作\r\n"
            "━━━━━━━━━━━━━━━━━━━━━━━━\r\n"
            "现在立即开始更新系统吗？请确认！");
  EXPECT_LE(Utf8ToGbk(dialog.ConfirmationText()).size(), 511u);
}

}  // namespace
}  // namespace ost

namespace ost {
namespace {

TEST_F(PlanTest, DataInterfaceBeforeTheWebDllStillCarriesTheWebServersState) {
  dialog.run.ostDataPending = 1;
  Want(2, "OstData", 8, "", 87, "OstData.dll");
  Want(4, "Velin", 4, "W3SVC", 101, "Velin.dll");
  dialog.BuildPlan();
  ASSERT_EQ(dialog.RowCount(), 6);
  EXPECT_EQ(dialog.serviceTable[2].stateBefore, 4);
  EXPECT_EQ(Cell(4, 3), "该服务正在运行");
}

}  // namespace
}  // namespace ost
