#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/texts.h"
#include "system/config_store.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Harness;

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
  h.WriteConfig("ostra", "pw", "sa");
  if (c.present) h.files.files[kRoutePath] = c.bytes;
  UpdateDialog& dialog = h.OpenDialog();
  EXPECT_EQ(h.files.opened.front(), kRoutePath);
  EXPECT_EQ(dialog.routeChoice, c.choice);
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
  h.sockets.startupWorks = false;
  bool ran = false;
  EXPECT_EQ(RunApplication(h.platform, [&](UpdateDialog&) { ran = true; }), 1);
  EXPECT_FALSE(ran);
  ASSERT_EQ(h.window.boxes.size(), 1u);
  EXPECT_EQ(h.window.boxes[0].text, "初始化网络失败。");
  EXPECT_EQ(h.window.boxes[0].caption, text::kAppName);
  EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::kWarning);
}

TEST(UpdateDialogInit, SetsUpControlsStateAndBuffers) {
  Harness h;
  h.WriteConfig("ostra", "pw", "sa");
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
  EXPECT_EQ(dialog.closeOnClick, 1);
  EXPECT_EQ(dialog.failed, 0);
  EXPECT_EQ(dialog.velinEntry, -1);
  EXPECT_EQ(dialog.ostDataEntry, -1);
  EXPECT_EQ(dialog.webRow, -1);
  EXPECT_EQ(dialog.versions.installedVelinVersion, 70);
  for (const ServiceEntry& entry : dialog.serviceTable) {
    EXPECT_EQ(entry.stopResult, 1);
    EXPECT_EQ(entry.needsUpdate, 0);
    EXPECT_EQ(entry.kind, 0);
  }
  EXPECT_NE(dialog.receiveBuffer, nullptr);
  EXPECT_NE(dialog.unpackBuffer, nullptr);
  EXPECT_EQ(dialog.job.receiveBuffer, dialog.receiveBuffer.get());
  EXPECT_EQ(dialog.job.notifyWindow, &h.window);
  EXPECT_FALSE(dialog.job.updateHost.empty());
  EXPECT_EQ(dialog.config.dataSourceName, "ostra");
}

TEST(UpdateDialogInit, MissingBufferStopsBeforeTheCheck) {
  for (int failing : {1, 2}) {
    Harness h;
    h.WriteConfig("ostra", "pw", "sa");
    h.system.failAllocationNumber = failing;
    h.OpenDialog();
    EXPECT_EQ(h.list.ItemCount(), 0) << failing;
    EXPECT_TRUE(h.window.boxes.empty());
    EXPECT_EQ(h.controls.statusText(), "内存不足，无法初始化更新程序！");
    EXPECT_FALSE(h.controls.buttonEnabled());
  }
}

TEST(UpdateDialogClose, RefusedWhileUpdating) {
  Harness h;
  UpdateDialog& dialog = h.MakeDialog();
  dialog.run.updateRunning = 1;
  dialog.OnClose();
  EXPECT_EQ(h.window.endDialogs, 0);
  ASSERT_EQ(h.window.boxes.size(), 1u);
  EXPECT_EQ(h.window.boxes[0].text, "正在升级系统,不能退出程序!");
  EXPECT_EQ(h.window.boxes[0].caption, "提示");
  EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::kStop);

  dialog.run.updateRunning = 0;
  dialog.OnClose();
  EXPECT_EQ(h.window.endDialogs, 1);
  EXPECT_EQ(h.window.boxes.size(), 1u);
}

TEST(UpdateDialogCommands, AboutAndStartClick) {
  Harness h;
  h.WriteConfig("ostra", "pw", "sa");
  UpdateDialog& dialog = h.OpenDialog();
  EXPECT_TRUE(dialog.OnSysCommand(0x0010));
  EXPECT_TRUE(dialog.OnSysCommand(0x001F));   // low four bits do not matter
  EXPECT_FALSE(dialog.OnSysCommand(0xF060));  // close goes the default way
  EXPECT_FALSE(dialog.OnSysCommand(0x0020));
  EXPECT_EQ(h.window.aboutBoxes, 2);

  dialog.closeOnClick = 0;
  dialog.OnStartClicked();
  EXPECT_EQ(h.window.quitRequests, 0);
  dialog.closeOnClick = 1;
  dialog.OnStartClicked();
  EXPECT_EQ(h.window.quitRequests, 1);
}

TEST(UpdateDialogButton, StatesCarryTheirCaptions) {
  Harness h;
  UpdateDialog& dialog = h.MakeDialog();
  dialog.SetButtonState(ButtonState::kUpdating);
  EXPECT_EQ(h.controls.buttonText(), "▁▃▅▇ 正在更新 ▇▅▃▁");
  EXPECT_FALSE(h.controls.buttonEnabled());
  dialog.SetButtonState(ButtonState::kFinished);
  EXPECT_EQ(h.controls.buttonText(), "□□ 点击关闭 □□");
  EXPECT_TRUE(h.controls.buttonEnabled());
  dialog.SetButtonState(ButtonState::kPlanOffered);
  EXPECT_EQ(h.controls.buttonText(), "◆ 开始升级服务器...");
  EXPECT_TRUE(h.controls.buttonEnabled());
}

TEST(CheckSequence, ConfigurationRowShowsTheUser) {
  Harness h;
  h.WriteConfig("ostra", "secret", "ostadmin");
  UpdateDialog& dialog = h.OpenDialog();
  ASSERT_GE(h.list.ItemCount(), 1);
  EXPECT_EQ(h.list.GetItemText(0, 0), "1");
  EXPECT_EQ(h.list.GetItemText(0, 1), "读取验证配置数据");
  EXPECT_EQ(h.list.GetItemText(0, 2), "ostadmin");
  EXPECT_EQ(h.list.GetItemText(0, 3), "读取验证完成");
  EXPECT_EQ(dialog.progressList.Record(0)->textColor, kDoneGreen);
  EXPECT_EQ(dialog.config.dbPassword, "secret");
  EXPECT_EQ(h.window.quitRequests, 0);
  // The database step comes next, on its own row.
  ASSERT_GE(h.list.ItemCount(), 2);
  EXPECT_EQ(h.list.GetItemText(1, 1), "连接查询数据库");
}

TEST(CheckSequence, MissingConfigurationEndsTheProgram) {
  Harness h;
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
}

}  // namespace
}  // namespace ost
