// The chain of downloads and what each completion does, through whole updates on
// the harness's machine.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/texts.h"
#include "platform/port_wrappers.h"
#include "unit/fakes.h"
#include "update/staging.h"
#include "util/md5.h"

namespace ost {
namespace {

using testing::Compress;
using testing::FakeFiles;
using testing::Harness;
using testing::ManifestText;
using Beeps = std::vector<std::pair<uint32_t, uint32_t>>;

// Update 12 for the rows given by key in their slot (0 Server, 1 Agent, 2 Velin,
// 3 Message, 4 OstData, 5 Tuyom); 10 for the others.
std::string Manifest(const std::string& versions, std::vector<std::string> keys,
                     const std::string& tail = "--END--\n") {
  static const char* const kSlots[] = {"Server", "Agent", "Velin", "Message", "OstData", "Tuyom"};
  std::vector<std::string> rows;
  for (const char* slot : kSlots) {
    bool wanted = std::find(keys.begin(), keys.end(), slot) != keys.end();
    rows.push_back(wanted ? std::string("12\t") + slot + "\tv12\t" + slot + " 12" : "10");
  }
  return ManifestText(versions, rows, tail);
}

class ChainTest : public ::testing::Test {
 protected:
  std::string Cell(int row, int column) { return h.Cell(row, column); }
  std::string File(const std::string& path) { return h.files.files[path]; }

  Harness h;
};

TEST_F(ChainTest, DetailFilesComeFirstThenRowsInOrder) {
  char digest[33];
  Md5Hex("new", 3, digest);
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old a";
  h.files.files["D:\\wwwroot\\cgi-bin\\b.htm"] = "old b";
  const std::string tail = "--END--\n--FILE DETAIL--\na.htm.zip+3=" + std::string(digest) +
                           "\nb.htm.zip+3=" + std::string(digest) + "\n--FILE DETAIL END--\n";
  h.Check(Manifest("3.81 7.1", {"Velin"}, tail));
  h.ServePackage("a.htm.zip", "new");
  h.ServePackage("b.htm.zip", "new");
  h.ServePackage("sql/update381.sql.zip", "UPDATE x\r\nGO\r\n");
  h.ServePackage("sql/v71.sql.zip", "UPDATE y\r\nGO\r\n");
  h.ServePackage("Velin.dll.zip", "new Velin.dll");

  h.window.yesNoAnswer = BoxAnswer::kYes;
  h.dialog->OnStartClicked();
  h.RunDownloads();
  EXPECT_EQ(Cell(3, 3), "D:\\wwwroot\\cgi-bin\\a.htm");  // the detail file under way
  h.Pump();
  EXPECT_EQ(h.host.requests, (std::vector<std::string>{
                                 "update1.lanxi-ostra.com:80 /ostra/update1/server.txt",
                                 "update1.lanxi-ostra.com:80 /ostra/update1/a.htm.zip",
                                 "update1.lanxi-ostra.com:80 /ostra/update1/b.htm.zip",
                                 "update1.lanxi-ostra.com:80 /ostra/update1/sql/update381.sql.zip",
                                 "update1.lanxi-ostra.com:80 /ostra/update1/sql/v71.sql.zip",
                                 "update1.lanxi-ostra.com:80 /ostra/update1/Velin.dll.zip"}));
  EXPECT_EQ(File("D:\\wwwroot\\cgi-bin\\a.htm"), "new");
  EXPECT_EQ(File("D:\\wwwroot\\cgi-bin\\b.htm"), "new");
  EXPECT_EQ(Cell(3, 3), "ok");  // the last detail file's mark stays
  EXPECT_EQ(Cell(4, 3), "升级完成。B:1/E:0");
  EXPECT_EQ(Cell(5, 3), "升级完成。B:1/E:0");
  EXPECT_EQ(Cell(6, 3), "更新完成,服务已启动。");
  EXPECT_EQ(h.database.statements.back(),
            "{CALL ostra.dbo.cp_sys_server_update_set(2,12,'Velin 网站后台','Velin 12')}");
}

TEST_F(ChainTest, EndOfRowsFinishesTheUpdate) {
  UpdateDialog& dialog = h.Check(Manifest("3.80 7.0", {"Server"}));
  h.ServePackage("CSOstraServer.exe.zip", "new server");
  h.Click();
  EXPECT_EQ(h.controls.statusText(), "★ Ostra 服务器系统升级更新完毕!");
  EXPECT_EQ(h.controls.buttonText(), "□□ 点击关闭 □□");
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_EQ(dialog.updateRunning(), 0);
  EXPECT_EQ(dialog.closeOnClick(), 1);
  EXPECT_EQ(h.system.beeps, (Beeps{{462, 300}, {494, 300}, {530, 300}}));
  EXPECT_TRUE(h.system.threads.empty());
}

TEST_F(ChainTest, ComponentIsWrittenAndItsServiceStarted) {
  h.Check(Manifest("3.80 7.0", {"Server"}));
  h.ServePackage("CSOstraServer.exe.zip", "new executable");
  h.Click();
  EXPECT_EQ(File("C:\\OSTRA\\CSOstraServer.exe"), "new executable");
  EXPECT_FALSE(h.files.HasTemporaryFiles());
  EXPECT_EQ(Cell(4, 3), "更新完成,服务已启动。");
  EXPECT_EQ(h.Colour(4), kDoneGreen);
  EXPECT_EQ(h.services.calls,
            (std::vector<std::string>{"stop CSOstraServer", "start CSOstraServer"}));
  EXPECT_EQ(h.events.With("file"),
            (std::vector<std::string>{"file C:\\OSTRA\\CSOstraServer.exe renamed 14"}));
  EXPECT_EQ(h.events.With("recorded"), (std::vector<std::string>{"recorded 0 ok"}));
}

TEST_F(ChainTest, StoppedServiceStaysStoppedAndFailedStartIsRed) {
  h.services.services["CSOstraAgent"].state = 1;
  h.services.services["CSOstraServer"].refuseStart = true;
  h.Check(Manifest("3.80 7.0", {"Server", "Agent"}));
  h.ServePackage("CSOstraServer.exe.zip", "server");
  h.ServePackage("CSOstraAgent.exe.zip", "agent");
  h.Click();
  EXPECT_EQ(Cell(4, 3), "更新完成,启动服务...失败！");
  EXPECT_EQ(h.Colour(4), kAlertRed);
  EXPECT_EQ(Cell(5, 3), "更新完成,服务保持停止状态。");  // the run went on
  EXPECT_EQ(h.Colour(5), kDoneGreen);
  EXPECT_EQ(h.services.calls,
            (std::vector<std::string>{"stop CSOstraServer", "start CSOstraServer"}));
  EXPECT_EQ(File("C:\\OSTRA\\CSOstraAgent.exe"), "agent");
  // Both are recorded, the refused start included.
  EXPECT_EQ(h.events.With("recorded"),
            (std::vector<std::string>{"recorded 0 ok", "recorded 1 ok"}));
}

TEST_F(ChainTest, WebServerWaitsForTheDataInterface) {
  h.Check(Manifest("3.80 7.0", {"Velin", "OstData"}));
  h.ServePackage("Velin.dll.zip", "velin");
  h.ServePackage("OstData.dll.zip", "data");
  h.window.yesNoAnswer = BoxAnswer::kYes;
  h.dialog->OnStartClicked();
  h.RunDownloads();
  h.DispatchNext();  // the first report of the body
  h.DispatchNext();  // its last
  h.DispatchNext();  // the end: the web DLL is written
  EXPECT_EQ(Cell(4, 3), "更新完成,启动服务...");
  EXPECT_EQ(h.Colour(4), kWrittenOlive);
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop W3SVC"}));
  h.Pump();
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop W3SVC", "start W3SVC"}));
  EXPECT_EQ(Cell(5, 3), "更新完成,服务已启动。");
  EXPECT_EQ(Cell(4, 3), "更新完成,服务已启动。");
  EXPECT_EQ(h.Colour(4), kDoneGreen);
  EXPECT_EQ(h.dialog->serviceTable()[4].serviceName, "W3SVC");
}

// With the data interface first, the web server still starts only after the later
// DLL, so neither is written while the web server has it loaded.
TEST_F(ChainTest, WebServerStartsAfterTheLaterWebDll) {
  h.Check(ManifestText("3.80 7.0", {"10", "10", "12\tOstData\tv\td", "10", "12\tVelin\tv\td"}));
  h.ServePackage("Velin.dll.zip", "velin");
  h.ServePackage("OstData.dll.zip", "data");
  h.window.yesNoAnswer = BoxAnswer::kYes;
  h.dialog->OnStartClicked();
  h.RunDownloads();
  while (h.host.requests.size() < 3 && h.DispatchNext()) h.RunDownloads();
  // The data interface is written; the web server waits for the web DLL.
  EXPECT_EQ(Cell(4, 3), "更新完成,启动服务...");
  EXPECT_EQ(h.Colour(4), kWrittenOlive);
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop W3SVC"}));
  h.Pump();
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop W3SVC", "start W3SVC"}));
  for (int row : {4, 5}) {
    EXPECT_EQ(Cell(row, 3), "更新完成,服务已启动。") << row;
    EXPECT_EQ(h.Colour(row), kDoneGreen) << row;
  }

  // The web server did not run: it stays stopped; the waiting row keeps its colour.
  Harness h2;
  h2.services.services["W3SVC"].state = 1;
  h2.Check(ManifestText("3.80 7.0", {"10", "10", "12\tOstData\tv\td", "10", "12\tVelin\tv\td"}));
  h2.ServePackage("Velin.dll.zip", "velin");
  h2.ServePackage("OstData.dll.zip", "data");
  h2.Click();
  EXPECT_TRUE(h2.services.calls.empty());
  EXPECT_EQ(h2.Cell(4, 3), "更新完成,服务保持停止状态。");
  EXPECT_EQ(h2.Colour(4), kWrittenOlive);
  EXPECT_EQ(h2.Cell(5, 3), "更新完成,服务保持停止状态。");
  EXPECT_EQ(h2.Colour(5), kDoneGreen);
}

TEST_F(ChainTest, DataInterfaceAloneStopsAndStartsTheWebServer) {
  h.Check(Manifest("3.80 7.0", {"OstData"}));
  h.ServePackage("OstData.dll.zip", "data");
  h.Click();
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop W3SVC", "start W3SVC"}));
  EXPECT_EQ(Cell(4, 3), "更新完成,服务已启动。");
  EXPECT_EQ(File("D:\\wwwroot\\cgi-bin\\OstData.dll"), "data");
  EXPECT_EQ(h.database.statements.back(),
            "{CALL ostra.dbo.cp_sys_server_update_set(4,12,'OstData 数据接口','OstData 12')}");
}

TEST_F(ChainTest, WebDllFallsBackToTheFixedFolder) {
  h.database.webRoot = "E:\\site";
  h.files.unwritableFolders = {"E:\\site"};
  h.files.files["E:\\site\\cgi-bin\\OstData.dll"] = "x";
  h.Check(Manifest("3.80 7.0", {"Velin"}));
  h.ServePackage("Velin.dll.zip", "velin");
  h.Click();
  EXPECT_EQ(File("d:\\wwwroot\\cgi-bin\\Velin.dll"), "velin");
  // Kept, but said: the row names where it went and ends red.
  EXPECT_EQ(Cell(4, 3), "已写入固定位置 d:\\wwwroot\\cgi-bin\\Velin.dll,网站可能仍在使用旧文件!");
  EXPECT_EQ(h.Colour(4), kAlertRed);
  EXPECT_EQ(h.events.With("file"),
            (std::vector<std::string>{"file d:\\wwwroot\\cgi-bin\\Velin.dll renamed 5"}));

  // An executable gets no second path.
  Harness h2;
  h2.services.services["CSOstraServer"].binaryPath = "E:\\site\\bin\\CSOstraServer.exe";
  h2.files.unwritableFolders = {"E:\\site"};
  UpdateDialog& d2 = h2.Check(Manifest("3.80 7.0", {"Server"}));
  h2.ServePackage("CSOstraServer.exe.zip", "exe");
  h2.Click();
  EXPECT_EQ(h2.Cell(4, 3), "写文件错误，异常终止！");
  EXPECT_EQ(h2.Colour(4), kAlertRed);
  EXPECT_EQ(d2.failed(), 1);
  EXPECT_EQ(d2.updateRunning(), 0);
  EXPECT_EQ(h2.events.With("file"),
            (std::vector<std::string>{
                "file E:\\site\\bin\\CSOstraServer.exe none 3 failed at create 13"}));
}

// The web folder checked at the start and turned into a junction before the write:
// nothing is written through it, neither at the web folder nor at the fixed path.
TEST_F(ChainTest, AWebFolderThatBecameAJunctionAfterTheCheckIsNotWrittenThrough) {
  h.files.files["D:\\wwwroot\\cgi-bin\\Velin.dll"] = "old velin";
  UpdateDialog& dialog = h.Check(Manifest("3.80 7.0", {"Velin"}));
  h.ServePackage("Velin.dll.zip", "new velin");
  h.files.elsewhere = {"D:\\wwwroot\\cgi-bin"};
  const std::map<std::string, std::string> before = h.files.files;
  h.Click();
  EXPECT_EQ(h.files.files, before);
  EXPECT_EQ(Cell(4, 3), "写文件错误，异常终止！");
  EXPECT_EQ(dialog.failed(), 1);
  EXPECT_EQ(
      h.events.With("file"),
      (std::vector<std::string>{"file D:\\wwwroot\\cgi-bin\\Velin.dll none 9 failed at folder 0"}));
  EXPECT_TRUE(h.events.With("recorded").empty());

  // A detail file the same.
  char digest[33];
  Md5Hex("new", 3, digest);
  Harness h2;
  h2.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old";
  UpdateDialog& d2 = h2.Check(Manifest(
      "3.80 7.0", {"Server"},
      "--END--\n--FILE DETAIL--\na.htm.zip+3=" + std::string(digest) + "\n--FILE DETAIL END--\n"));
  h2.ServePackage("a.htm.zip", "new");
  h2.ServePackage("CSOstraServer.exe.zip", "exe");
  h2.files.elsewhere = {"D:\\wwwroot"};
  h2.Click();
  EXPECT_EQ(h2.files.files["D:\\wwwroot\\cgi-bin\\a.htm"], "old");
  EXPECT_EQ(h2.Cell(3, 3), "写文件错误，异常终止！");
  EXPECT_EQ(d2.failed(), 1);
}

TEST_F(ChainTest, FullDiskLeavesTheOldFileWhole) {
  UpdateDialog& dialog = h.Check(Manifest("3.80 7.0", {"Server", "Agent"}));
  h.ServePackage("CSOstraServer.exe.zip", "a much larger new executable");
  h.ServePackage("CSOstraAgent.exe.zip", "agent");
  h.files.diskSpace = 3;
  h.Click();
  EXPECT_EQ(File("C:\\OSTRA\\CSOstraServer.exe"), "old CSOstraServer");
  EXPECT_FALSE(h.files.HasTemporaryFiles());
  EXPECT_EQ(Cell(4, 3), "写文件错误，异常终止！");
  EXPECT_EQ(dialog.failed(), 1);
  EXPECT_EQ(h.host.requests.size(), 2u);  // no further download
  EXPECT_EQ(
      h.events.With("file"),
      (std::vector<std::string>{"file C:\\OSTRA\\CSOstraServer.exe none 28 failed at write 28"}));
}

TEST_F(ChainTest, CorruptOrOversizedPackagesStopTheRun) {
  UpdateDialog& dialog = h.Check(Manifest("3.80 7.0", {"Server", "Agent"}));
  h.host.bodies["/ostra/update1/CSOstraServer.exe.zip"] = "this is not a zlib stream";
  h.Click();
  EXPECT_EQ(Cell(4, 3), "文件解压错误，异常终止！");
  EXPECT_EQ(dialog.failed(), 1);
  EXPECT_EQ(dialog.updateRunning(), 0);
  EXPECT_EQ(File("C:\\OSTRA\\CSOstraServer.exe"), "old CSOstraServer");
  EXPECT_EQ(h.host.requests.size(), 2u);
  EXPECT_EQ(h.services.calls,
            (std::vector<std::string>{"stop CSOstraServer", "stop CSOstraAgent"}));

  // Later messages are ignored once a package failed.
  const std::string statusLine = h.controls.statusText();
  dialog.Dispatch(WM_DOWNLOAD_DONE, 3, 0);
  dialog.Dispatch(WM_DOWNLOAD_PROGRESS, 10, 1);
  EXPECT_EQ(Cell(4, 3), "文件解压错误，异常终止！");
  EXPECT_EQ(h.controls.statusText(), statusLine);

  Harness h2;
  h2.Check(Manifest("3.80 7.0", {"Server"}));
  h2.ServePackage("CSOstraServer.exe.zip", std::string(kUnpackBufferSize + 1, 'z'));
  h2.Click();
  EXPECT_EQ(h2.Cell(4, 3), "文件解压错误，异常终止！");
}

TEST_F(ChainTest, AnEmptyComponentIsAnUnpackFailure) {
  UpdateDialog& dialog = h.Check(Manifest("3.80 7.0", {"Server"}));
  h.ServePackage("CSOstraServer.exe.zip", "");  // a valid stream of nothing
  h.Click();
  EXPECT_EQ(Cell(4, 3), "文件解压错误，异常终止！");
  EXPECT_EQ(dialog.failed(), 1);
  EXPECT_EQ(File("C:\\OSTRA\\CSOstraServer.exe"), "old CSOstraServer");
  EXPECT_TRUE(h.events.With("recorded").empty());
}

TEST_F(ChainTest, AFailedDetailFileIsShownOnTheHeaderRow) {
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old";
  h.Check(Manifest(
      "3.80 7.0", {"Server"},
      "--END--\n--FILE DETAIL--\na.htm.zip+3=" + std::string(32, '0') + "\n--FILE DETAIL END--\n"));
  h.Click();  // a.htm.zip is missing
  EXPECT_EQ(Cell(3, 3), "与岚汐服务器通讯失败(8)...");
  EXPECT_EQ(Cell(4, 3), "停止服务 ok");  // the server's row was never touched
  EXPECT_EQ(h.Colour(4), kStoppedPurple);
}

TEST_F(ChainTest, DownloadFailuresAreReportedOnTheCurrentRow) {
  UpdateDialog& dialog = h.Check(Manifest("3.81 7.0", {}));
  h.Click();  // the script is missing on the host
  EXPECT_EQ(Cell(4, 3), "与岚汐服务器通讯失败(8)...");
  EXPECT_EQ(h.system.beeps, (Beeps{{500, 500}, {800, 500}}));
  EXPECT_EQ(dialog.updateRunning(), 0);
  EXPECT_EQ(dialog.failed(), 0);
  EXPECT_EQ(h.controls.buttonText(), "▁▃▅▇ 正在更新 ▇▅▃▁");
  EXPECT_FALSE(h.controls.buttonEnabled());
  EXPECT_EQ(h.events.With("download /ostra/update1/sql"),
            (std::vector<std::string>{"download /ostra/update1/sql/update381.sql.zip 8 0/0 | "
                                      "HTTP/1.0 404 Not Found"}));

  Harness h2;
  UpdateDialog& d2 = h2.Check(Manifest("3.81 7.0", {}));
  h2.host.answers["/ostra/update1/sql/update381.sql.zip"] =
      "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(700, 'x');
  h2.Click();
  EXPECT_EQ(h2.Cell(4, 3), "数据下载错误...");
  EXPECT_EQ(d2.updateRunning(), 0);
  EXPECT_EQ(h2.events.With("phase failed"),
            (std::vector<std::string>{
                "phase failed: download of /ostra/update1/sql/update381.sql.zip ended after 700 "
                "of 1000 bytes"}));
}

TEST_F(ChainTest, ScriptBatchesRunInOrderAndFailuresAreCountedAndReported) {
  h.Check(Manifest("3.81 7.0", {}));
  h.ServePackage(
      "sql/update381.sql.zip",
      "UPDATE a SET x = 1\r\nGO\r\nUPDATE broken\r\nWHERE 1\r\nGO\r\nUPDATE c\r\nGO\r\n");
  h.database.failing = {"broken"};
  h.Click();
  EXPECT_EQ(Cell(4, 3), "升级完成。B:3/E:1");
  EXPECT_EQ(h.Colour(4), kDoneGreen);
  EXPECT_EQ(h.events.With("batch"),
            (std::vector<std::string>{"batch 2 of row 4 failed: UPDATE broken [42000 refused: "
                                      "broken] [01000 second record]"}));
  const std::vector<std::string> sent(h.database.statements.end() - 3, h.database.statements.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"UPDATE a SET x = 1\r\n",
                                            "UPDATE broken\r\nWHERE 1\r\n", "UPDATE c\r\n"}));

  // Without a statement handle the script stops and so does the run.
  Harness h2;
  UpdateDialog& d2 = h2.Check(Manifest("3.81 7.0", {"Server"}));
  h2.ServePackage("sql/update381.sql.zip", "UPDATE a\r\nGO\r\n");
  h2.database.handlesLeft = 0;
  h2.Click();
  EXPECT_EQ(h2.Cell(4, 3), "数据库操作句柄分配错误。");
  EXPECT_EQ(d2.phase(), RunPhase::kFailed);
  EXPECT_EQ(d2.failed(), 0);
  EXPECT_EQ(h2.host.requests.size(), 2u);
}

TEST_F(ChainTest, AScriptCutByAZeroByteIsNotRunAndItsRowEndsRed) {
  h.Check(Manifest("3.81 7.0", {"Server"}));
  const size_t before = h.database.statements.size();
  h.ServePackage("sql/update381.sql.zip",
                 std::string("UPDATE a\r\n\0GO\r\nUPDATE b\r\nGO\r\n", 30));
  h.ServePackage("CSOstraServer.exe.zip", "new server");
  h.Click();
  EXPECT_EQ(Cell(4, 3), "脚本中有零字节,未执行!");
  EXPECT_EQ(h.Colour(4), kAlertRed);
  // Nothing of it was sent; the run goes on, as after a failed batch.
  EXPECT_TRUE(std::none_of(h.database.statements.begin() + static_cast<long>(before),
                           h.database.statements.end(),
                           [](const std::string& s) { return s.find("UPDATE") == 0; }));
  EXPECT_EQ(Cell(5, 3), "更新完成,服务已启动。");

  // Zero bytes only at the very end cut nothing off.
  Harness h2;
  h2.Check(Manifest("3.81 7.0", {}));
  h2.ServePackage("sql/update381.sql.zip", std::string("UPDATE a\r\nGO\r\n\0\0", 16));
  h2.Click();
  EXPECT_EQ(h2.Cell(4, 3), "升级完成。B:1/E:0");
}

}  // namespace
}  // namespace ost

namespace ost {
namespace {

using testing::FakeFiles;
using testing::Harness;
using testing::ManifestText;

// The staged mode: every package downloaded and checked while the services still run.
// A release of a detail file, a script, the server and the web DLL.
UpdateDialog& OfferStaged(Harness& h) {
  h.registry.SetDword("SOFTWARE\\OSTRA", "StageFirst", 1);
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old page";
  UpdateDialog& dialog = h.Check(ManifestText(
      "3.81 7.0", {"12\tServer\tv\td", "10", "12\tVelin\tv\td"},
      "--END--\n--FILE DETAIL--\na.htm.zip+3=" + std::string(32, '0') + "\n--FILE DETAIL END--\n"));
  h.ServePackage("a.htm.zip", "new page");
  h.ServePackage("sql/update381.sql.zip", "INSERT x\r\nGO\r\n");
  h.ServePackage("CSOstraServer.exe.zip", "new server");
  h.ServePackage("Velin.dll.zip", "new velin");
  return dialog;
}

// Every file of the machine but the staging folder's.
std::map<std::string, std::string> MachineFiles(const Harness& h) {
  std::map<std::string, std::string> files;
  for (const auto& [path, content] : h.files.files) {
    if (path.find("\\staging\\") == std::string::npos) files[path] = content;
  }
  return files;
}

bool StagingLeft(const Harness& h) {
  for (const auto& [path, content] : h.files.files) {
    if (path.find("\\staging") != std::string::npos) return true;
  }
  for (const std::string& folder : h.files.folders) {
    if (folder.find("\\staging") != std::string::npos) return true;
  }
  return false;
}

TEST(StagedMode, EveryPackageComesBeforeAnyServiceStops) {
  Harness h;
  UpdateDialog& dialog = OfferStaged(h);
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  EXPECT_TRUE(h.services.calls.empty());  // nothing stopped at the click
  h.RunDownloads();
  while (h.DispatchNext()) {
  }
  EXPECT_EQ(h.Cell(3, 3), "已下载,等待更新");  // the detail file waits
  h.Pump();
  EXPECT_EQ(h.host.requests.size(), 5u);
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"stop CSOstraServer", "stop W3SVC",
                                                        "start CSOstraServer", "start W3SVC"}));
  // The end is the documented order's.
  EXPECT_EQ(h.controls.statusText(), "★ Ostra 服务器系统升级更新完毕!");
  EXPECT_EQ(h.Cell(4, 3), "升级完成。B:1/E:0");
  EXPECT_EQ(h.Cell(5, 3), "更新完成,服务已启动。");
  EXPECT_EQ(h.Cell(6, 3), "更新完成,服务已启动。");
  EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraServer.exe"], "new server");
  EXPECT_EQ(h.files.files["D:\\wwwroot\\cgi-bin\\Velin.dll"], "new velin");
  EXPECT_EQ(h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"], "new page");
  EXPECT_FALSE(StagingLeft(h));
  EXPECT_EQ(dialog.phase(), RunPhase::kFinished);
}

// A missing, a corrupt and a cut package: nothing is stopped, nothing written.
TEST(StagedMode, AFailingPackageLeavesTheMachineAsItWas) {
  for (const std::string fault : {"missing", "corrupt", "short"}) {
    Harness h;
    UpdateDialog& dialog = OfferStaged(h);
    const std::string velin = "/ostra/update1/Velin.dll.zip";
    if (fault == "missing") h.host.bodies.erase(velin);
    if (fault == "corrupt") h.host.bodies[velin] = "no zlib stream";
    if (fault == "short") {
      h.host.answers[velin] =
          "HTTP/1.0 200 OK\r\nContent-Length: 900\r\n\r\n" + std::string(300, 'x');
    }
    const auto before = MachineFiles(h);
    const size_t statements = h.database.statements.size();
    h.Click();
    EXPECT_TRUE(h.services.calls.empty()) << fault;
    EXPECT_EQ(MachineFiles(h), before) << fault;
    EXPECT_EQ(h.database.statements.size(), statements) << fault;
    if (fault == "short") {
      // What came is kept for the next run to resume, and nothing else of the run.
      std::vector<std::string> kept;
      for (const auto& [path, content] : h.files.files) {
        if (path.find("\\staging\\partial\\") == std::string::npos) continue;
        kept.push_back(path.substr(path.rfind('\\') + 1));
        EXPECT_EQ(content, std::string(300, 'x'));
      }
      EXPECT_EQ(kept, std::vector<std::string>{"_ostra_update1_Velin_dll_zip-900.part"});
      for (auto it = h.files.files.begin(); it != h.files.files.end();) {
        it = it->first.find("\\staging\\partial\\") != std::string::npos ? h.files.files.erase(it)
                                                                         : std::next(it);
      }
      for (auto it = h.files.folders.begin(); it != h.files.folders.end();) {
        const bool staging = it->find("\\staging\\partial") != std::string::npos ||
                             (it->size() >= 8 && it->compare(it->size() - 8, 8, "\\staging") == 0);
        it = staging ? h.files.folders.erase(it) : std::next(it);
      }
    }
    EXPECT_FALSE(StagingLeft(h)) << fault;
    EXPECT_EQ(dialog.phase(), RunPhase::kFailed) << fault;
    EXPECT_EQ(h.Cell(5, 3), "已下载,等待更新") << fault;  // the server's package came
    EXPECT_EQ(h.Colour(5), kRunningBlue) << fault;
    const char* why = fault == "missing"   ? "与岚汐服务器通讯失败(8)..."
                      : fault == "corrupt" ? "文件解压错误，异常终止！"
                                           : "数据下载错误...";
    EXPECT_EQ(h.Cell(6, 3), why) << fault;
  }
}

// A kept package changed in the staging folder after it was checked: whatever it now
// holds is not applied.
class TamperingFiles : public FilesWrapper {
 public:
  TamperingFiles(FakeFiles& files, std::string content)
      : FilesWrapper(files), fake_(files), content_(std::move(content)) {}
  std::unique_ptr<File> OpenRead(const std::string& path) override {
    if (path.find("\\staging\\") != std::string::npos &&
        path.compare(path.size() - 6, 6, "\\0.zip") == 0) {
      fake_.files[path] = content_;
    }
    return target_.OpenRead(path);
  }

 private:
  FakeFiles& fake_;
  std::string content_;
};

TEST(StagedMode, AKeptPackageChangedBeforeItIsAppliedIsNotApplied) {
  // Another valid package of the same size, and one of another size.
  for (const std::string& planted : {testing::Compress("evil pag"), testing::Compress("evil")}) {
    Harness h;
    TamperingFiles files(h.files, planted);
    h.platform.files = &files;
    UpdateDialog& dialog = OfferStaged(h);
    h.Click();
    EXPECT_EQ(h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"], "old page");
    EXPECT_EQ(h.Cell(3, 3), "数据下载错误...");
    EXPECT_EQ(dialog.phase(), RunPhase::kFailed);
    EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraServer.exe"], "old CSOstraServer");
    EXPECT_FALSE(StagingLeft(h));
  }
}

// Folders of killed runs go at the next start; nothing else, nothing through a link.
TEST(StagedMode, LeftoversOfKilledRunsAreRemovedAndNothingElse) {
  FakeFiles files;
  const std::string root = "C:\\OSTRA\\staging";
  const std::string dead = root + "\\20261209-103005-0a3f";
  const std::string linked = root + "\\20261209-103006-0b3f";
  const std::string mixed = root + "\\20261209-103007-0c3f";
  const std::string other = root + "\\keep-me";
  for (const std::string& folder : {dead, linked, mixed, other}) files.MakeFolders(folder);
  files.files[dead + "\\0.zip"] = "a";
  files.files[dead + "\\12.zip"] = "b";
  files.files[linked + "\\0.zip"] = "c";
  files.links.insert(linked);
  files.files[mixed + "\\0.zip"] = "d";
  files.files[mixed + "\\notes.txt"] = "e";
  files.files[other + "\\0.zip"] = "f";
  EXPECT_EQ(Staging::RemoveLeftovers(files, root), 1);
  EXPECT_EQ(files.folders.count(dead), 0u);
  EXPECT_EQ(files.files.count(dead + "\\0.zip") + files.files.count(dead + "\\12.zip"), 0u);
  EXPECT_EQ(files.files.count(linked + "\\0.zip"), 1u);
  EXPECT_EQ(files.files.count(mixed + "\\notes.txt"), 1u);
  EXPECT_EQ(files.files.count(mixed + "\\0.zip"), 0u);
  EXPECT_EQ(files.files.count(other + "\\0.zip"), 1u);

  // The staging folder itself a link: nothing is listed through it.
  FakeFiles planted;
  planted.MakeFolders(dead);
  planted.files[dead + "\\0.zip"] = "a";
  planted.links.insert(root);
  EXPECT_EQ(Staging::RemoveLeftovers(planted, root), 0);
  EXPECT_EQ(planted.files.count(dead + "\\0.zip"), 1u);
}

}  // namespace
}  // namespace ost
