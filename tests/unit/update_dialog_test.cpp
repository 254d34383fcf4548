#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/texts.h"
#include "system/config_store.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Harness;
using testing::ManifestText;

const char kRoutePath[] = "C:\\OSTRA\\Ostra.rut";

// The route file read at construction.
struct RouteCase {
  const char* name;
  bool present;
  std::string bytes;
  int32_t choice;
  int32_t radios;  // what the radio group reads back after initialisation
};

class RouteFileTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteFileTest, ConstructionReadsTheChoice) {
  const RouteCase& c = GetParam();
  Harness h;
  if (c.present) h.files.files[kRoutePath] = c.bytes;
  UpdateDialog& dialog = h.OpenDialog();
  EXPECT_EQ(h.files.opened.front(), kRoutePath);
  EXPECT_EQ(dialog.routeChoice(), c.choice);
  EXPECT_EQ(h.controls.ReadRouteRadios(), c.radios);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RouteFileTest,
    ::testing::Values(RouteCase{"Missing", false, "", 0, 0},
                      RouteCase{"Secondary", true, std::string("\x01\0\0\0", 4), 1, 1},
                      RouteCase{"SevenBytes", true, std::string("\x01\0\0\0\x07\x07\x07", 7), 1, 1},
                      RouteCase{"ThreeBytes", true, std::string("\x01\x02\x03", 3), 0x030201, -1},
                      RouteCase{"Empty", true, "", 0, 0},
                      RouteCase{"OtherValue", true, std::string("\x07\0\0\0", 4), 7, -1},
                      RouteCase{"Negative", true, std::string("\xff\xff\xff\xff", 4), -1, -1}),
    [](const ::testing::TestParamInfo<RouteCase>& info) { return info.param.name; });

TEST(UpdateDialogStartUp, WithoutProgramFolderTheRouteFileIsLocal) {
  Harness h;
  h.system.programFolder = "";
  h.MakeDialog();
  EXPECT_EQ(h.files.opened.front(), "Ostra.rut");
}

TEST(UpdateDialogStartUp, SocketsFailureEndsBeforeAnyWindow) {
  Harness h;
  h.host.startupWorks = false;
  bool ran = false;
  EXPECT_EQ(RunApplication(h.platform, [&](UpdateDialog&) { ran = true; }), 1);
  EXPECT_FALSE(ran);
  ASSERT_EQ(h.window.boxes.size(), 1u);
  EXPECT_EQ(h.window.boxes[0].text, "初始化网络失败。");
  EXPECT_EQ(h.window.boxes[0].caption, text::kAppName);
  EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::kWarning);
}

TEST(UpdateDialogStartUp, AnotherRunOnTheMachineEndsThisOneBeforeAnyWindow) {
  Harness h;
  h.system.lockedElsewhere = true;
  bool ran = false;
  EXPECT_EQ(RunApplication(h.platform, [&](UpdateDialog&) { ran = true; }), 1);
  EXPECT_FALSE(ran);
  ASSERT_EQ(h.window.boxes.size(), 1u);
  EXPECT_EQ(h.window.boxes[0].text, "本机已有一个升级程序正在运行,不能同时运行!");
  EXPECT_EQ(h.window.boxes[0].caption, "提示");
  EXPECT_TRUE(h.database.logins.empty());
  EXPECT_TRUE(h.files.opened.empty());  // not even the route file
}

// No thread for a download: it fails as a download does, and the run can be closed.
TEST(DownloadWorker, AThreadThatCannotStartFailsItsDownload) {
  Harness h;
  h.system.refuseThreads = true;
  UpdateDialog& dialog = h.OpenDialog();
  h.Pump();
  EXPECT_EQ(h.Cell(2, 3), "与岚汐服务器通讯失败(12)...");
  EXPECT_EQ(h.system.beeps, (std::vector<std::pair<uint32_t, uint32_t>>{{500, 500}, {800, 500}}));
  EXPECT_EQ(dialog.phase(), RunPhase::kFailed);
  dialog.OnClose();
  EXPECT_EQ(h.window.endDialogs, 1);

  // The same in the chain: the row of the download shows it, the run stops.
  Harness h2;
  UpdateDialog& d2 = h2.Check(ManifestText("3.80 7.0", {"12\tServer\tv\td"}));
  h2.system.refuseThreads = true;
  h2.Click();
  EXPECT_EQ(h2.Cell(4, 3), "与岚汐服务器通讯失败(12)...");
  EXPECT_EQ(d2.updateRunning(), 0);
  EXPECT_EQ(d2.phase(), RunPhase::kFailed);
  EXPECT_EQ(h2.services.services["CSOstraServer"].state,
            1);  // stopped, as after any failed download
  d2.OnClose();
  EXPECT_EQ(h2.window.endDialogs, 1);
}

TEST(UpdateDialogInit, SetsUpControlsStateAndStartsTheCheck) {
  Harness h;
  UpdateDialog& dialog = h.OpenDialog();

  const auto& columns = h.list.columns();
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_EQ(columns[0].heading, "步骤");
  EXPECT_EQ(columns[0].width, 50);
  EXPECT_EQ(columns[1].heading, "项目名称");
  EXPECT_EQ(columns[1].width, 110);
  EXPECT_EQ(columns[2].heading, "说明");
  EXPECT_EQ(columns[2].width, 190);
  EXPECT_EQ(columns[3].heading, "执行状态...");
  EXPECT_EQ(columns[3].width, 250);

  ASSERT_EQ(h.window.menuItems.size(), 1u);
  EXPECT_EQ(h.window.menuItems[0].first, 0x0010u);
  EXPECT_EQ(h.window.menuItems[0].second, "关于 OstServerUpdate(&A)...");
  EXPECT_TRUE(h.window.iconSet);

  EXPECT_EQ(h.controls.buttonText(), "◆ 开始升级服务器...");
  EXPECT_FALSE(h.controls.buttonEnabled());
  EXPECT_EQ(h.controls.progressHigh(), 100);
  EXPECT_EQ(dialog.closeOnClick(), 1);
  EXPECT_EQ(dialog.failed(), 0);
  EXPECT_EQ(dialog.phase(), RunPhase::kChecking);
  for (const ServiceEntry& entry : dialog.serviceTable()) {
    EXPECT_EQ(entry.stopResult, 1);
    EXPECT_EQ(entry.needsUpdate, 0);
    EXPECT_EQ(entry.kind, 0);
  }
  EXPECT_EQ(dialog.config().dataSourceName, "ostra");
  // The manifest download waits on its worker, from the primary host.
  ASSERT_EQ(h.system.threads.size(), 1u);
  EXPECT_TRUE(dialog.DownloadRunning());
  h.RunDownloads();
  EXPECT_FALSE(dialog.DownloadRunning());
  EXPECT_EQ(h.host.requests,
            (std::vector<std::string>{"update1.lanxi-ostra.com:80 /ostra/update1/server.txt"}));
  EXPECT_EQ(h.Cell(2, 3), "开始查询...");  // until the worker's message is handled
}

TEST(UpdateDialogInit, MissingBufferStopsBeforeTheCheck) {
  for (int failing : {1, 2}) {
    Harness h;
    h.system.failAllocationNumber = failing;
    h.OpenDialog();
    EXPECT_EQ(h.list.ItemCount(), 0) << failing;
    EXPECT_TRUE(h.window.boxes.empty());
    EXPECT_EQ(h.controls.statusText(), "内存不足，无法初始化更新程序！");
    EXPECT_FALSE(h.controls.buttonEnabled());
  }
}

TEST(UpdateDialogClose, RefusedWhileUpdatingAllowedOnceItStopped) {
  Harness h;
  UpdateDialog& dialog = h.Check(ManifestText("3.80 7.0", {"12\tServer\tv\td", "12\tAgent\tv\td"}));
  h.ServePackage("CSOstraServer.exe.zip", "new server");
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  // The server's package is on its way: the update runs.
  EXPECT_EQ(dialog.updateRunning(), 1);
  dialog.OnClose();
  EXPECT_EQ(h.window.endDialogs, 0);
  ASSERT_EQ(h.window.boxes.size(), 2u);
  EXPECT_EQ(h.window.boxes[1].text, "正在升级系统,不能退出程序!");
  EXPECT_EQ(h.window.boxes[1].caption, "提示");
  EXPECT_EQ(h.window.boxes[1].icon, BoxIcon::kStop);

  // The agent's package is missing: the run stops and the window may close.
  h.Pump();
  EXPECT_EQ(dialog.updateRunning(), 0);
  EXPECT_EQ(dialog.phase(), RunPhase::kFailed);
  dialog.OnClose();
  EXPECT_EQ(h.window.endDialogs, 1);
  EXPECT_EQ(h.window.boxes.size(), 2u);
  EXPECT_EQ(h.database.closes, 1);  // the connection is released
  EXPECT_EQ(dialog.phase(), RunPhase::kClosed);
}

TEST(UpdateDialogCommands, AboutBox) {
  Harness h;
  UpdateDialog& dialog = h.OpenDialog();
  EXPECT_TRUE(dialog.OnSysCommand(0x0010));
  EXPECT_TRUE(dialog.OnSysCommand(0x001F));   // low four bits do not matter
  EXPECT_FALSE(dialog.OnSysCommand(0xF060));  // close goes the default way
  EXPECT_FALSE(dialog.OnSysCommand(0x0020));
  EXPECT_EQ(h.window.aboutBoxes, 2);
}

// The start button through the run's phases: its caption, whether it is enabled and
// what a click does.
TEST(UpdateDialogButton, FollowsTheRunsPhases) {
  Harness h;
  h.ServePackage("CSOstraServer.exe.zip", "new server");
  UpdateDialog& dialog = h.OpenDialog();
  EXPECT_EQ(h.controls.buttonText(), "◆ 开始升级服务器...");
  EXPECT_FALSE(h.controls.buttonEnabled());
  h.host.bodies["/ostra/update1/server.txt"] = ManifestText("3.80 7.0", {"12\tServer\tv\td"});
  h.Pump();
  EXPECT_EQ(dialog.phase(), RunPhase::kPlanOffered);
  EXPECT_EQ(h.controls.buttonText(), "◆ 开始升级服务器...");
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_EQ(dialog.closeOnClick(), 0);

  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();  // the package waits on its worker
  EXPECT_EQ(dialog.phase(), RunPhase::kUpdating);
  EXPECT_EQ(h.controls.buttonText(), "▁▃▅▇ 正在更新 ▇▅▃▁");
  EXPECT_FALSE(h.controls.buttonEnabled());
  EXPECT_EQ(h.window.quitRequests, 0);

  h.Pump();
  EXPECT_EQ(dialog.phase(), RunPhase::kFinished);
  EXPECT_EQ(h.controls.buttonText(), "□□ 点击关闭 □□");
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_EQ(dialog.closeOnClick(), 1);
  dialog.OnStartClicked();
  EXPECT_EQ(h.window.quitRequests, 1);
  EXPECT_EQ(h.events.With("phase"),
            (std::vector<std::string>{"phase checking", "phase plan offered",
                                      "phase updating: the operator confirmed the plan",
                                      "phase finished: every step of the plan was done",
                                      "phase closed: the close button was clicked"}));
}

TEST(CheckSequence, ConfigurationRowShowsTheUser) {
  Harness h;
  h.WriteConfig("ostra", "secret", "ostadmin");
  UpdateDialog& dialog = h.OpenDialog();
  EXPECT_EQ(h.database.logins, (std::vector<std::string>{"ostra ostadmin secret"}));
  ASSERT_GE(h.list.ItemCount(), 1);
  EXPECT_EQ(h.list.GetItemText(0, 0), "1");
  EXPECT_EQ(h.list.GetItemText(0, 1), "读取验证配置数据");
  EXPECT_EQ(h.list.GetItemText(0, 2), "ostadmin");
  EXPECT_EQ(h.list.GetItemText(0, 3), "读取验证完成");
  EXPECT_EQ(h.Colour(0), kDoneGreen);
  EXPECT_EQ(dialog.config().dbPassword, "secret");
  EXPECT_EQ(h.window.quitRequests, 0);
  // The database step comes next, on its own row.
  ASSERT_GE(h.list.ItemCount(), 2);
  EXPECT_EQ(h.list.GetItemText(1, 1), "连接查询数据库");
}

TEST(CheckSequence, MissingConfigurationEndsTheProgram) {
  Harness h;
  h.registry.keys.clear();
  h.OpenDialog();
  EXPECT_EQ(h.list.ItemCount(), 1);
  EXPECT_EQ(h.list.GetItemText(0, 3), "开始读取...");
  ASSERT_EQ(h.window.boxes.size(), 2u);
  EXPECT_EQ(h.window.boxes[0].text, "注册表读取失败！");
  EXPECT_EQ(h.window.boxes[1].caption, "服务器验证失败提示");
  EXPECT_EQ(h.window.boxes[1].text,
            "读取 Ostra 系统验证失败\r\n不能确定本机为 Ostra 系统服务器。\r\n"
            "任何问题，请联系岚汐技术服务人员。\r\n点击确定，退出升级程序...");
  EXPECT_EQ(h.window.boxes[1].icon, BoxIcon::kInformation);
  EXPECT_EQ(h.window.quitRequests, 1);
  EXPECT_TRUE(h.database.logins.empty());
}

}  // namespace
}  // namespace ost
