#include <gtest/gtest.h>
#include <zlib.h>

#include "app/texts.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Harness;

std::string Compress(const std::string& data) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           data.size());
  out.resize(size);
  return out;
}

// A dialog with a confirmed plan: rows from 4 on, as the start click leaves it.
class ChainTest : public ::testing::Test {
 protected:
  ChainTest() : dialog(h.CheckedDialog()) {
    InsertHeader();
    dialog.run.updateRunning = 1;
    dialog.closeOnClick = 0;
    dialog.SetButtonState(ButtonState::kUpdating);
  }

  void InsertHeader() {
    dialog.headerRow = 3;
    dialog.InsertRow(3, "※");
    dialog.SetCell(3, 1, "※检测结果※");
    dialog.currentRow = 4;
  }
  int AddRow(int32_t tag) {
    int row = dialog.RowCount();
    dialog.InsertRow(row, std::to_string(row));
    dialog.SetRowTag(row, tag);
    return row;
  }
  ServiceEntry& Entry(int i, const char* file, const char* dir, const char* service, int state) {
    ServiceEntry& entry = dialog.serviceTable[static_cast<size_t>(i)];
    entry.needsUpdate = 1;
    entry.fileName = file;
    entry.installDir = dir;
    entry.serviceName = service;
    entry.stateBefore = state;
    entry.availableVersion = 20 + i;
    entry.displayName = "component";
    entry.kind = 3 + i;
    return entry;
  }
  std::string Cell(int row, int column) { return h.list.GetItemText(row, column); }
  Rgb Colour(int row) { return dialog.progressList.Record(row)->textColor; }

  Harness h;
  UpdateDialog& dialog;
};

TEST_F(ChainTest, DetailFilesComeFirstThenRowsInOrder) {
  dialog.detailFiles = {"a.htm", "b.htm"};
  AddRow(299);
  AddRow(300);
  Entry(2, "Velin.dll", "D:\\wwwroot\\cgi-bin", "W3SVC", 4);
  AddRow(10002);

  dialog.StartNextDownload();
  EXPECT_EQ(dialog.job.downloadKind, 250);
  EXPECT_EQ(dialog.job.requestPath, "/ostra/update1/a.htm.zip");
  EXPECT_EQ(dialog.job.targetPath, "D:\\wwwroot\\cgi-bin\\a.htm");
  EXPECT_EQ(Cell(3, 3), "D:\\wwwroot\\cgi-bin\\a.htm");
  h.Deliver(Compress("A"));
  EXPECT_EQ(h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"], "A");
  EXPECT_EQ(dialog.job.requestPath, "/ostra/update1/b.htm.zip");
  EXPECT_EQ(Cell(3, 3), "D:\\wwwroot\\cgi-bin\\b.htm");
  EXPECT_EQ(dialog.currentRow, 4);
  h.Deliver(Compress("B"));
  EXPECT_EQ(Cell(3, 3), "ok");  // the last detail file's mark stays
  EXPECT_EQ(dialog.job.requestPath, "/ostra/update1/sql/v299.sql.zip");
  EXPECT_EQ(dialog.job.downloadKind, 2);

  dialog.currentRow = 5;
  dialog.StartNextDownload();
  EXPECT_EQ(dialog.job.requestPath, "/ostra/update1/sql/update300.sql.zip");
  EXPECT_EQ(dialog.job.downloadKind, 1);

  dialog.currentRow = 6;
  dialog.StartNextDownload();
  EXPECT_EQ(dialog.job.requestPath, "/ostra/update1/Velin.dll.zip");
  dialog.run.libxlPresent = 1;
  dialog.StartNextDownload();
  EXPECT_EQ(dialog.job.requestPath, "/ostra/update1/Velin.dllx.zip");
  EXPECT_EQ(dialog.job.targetPath, "D:\\wwwroot\\cgi-bin\\Velin.dll");
  EXPECT_EQ(dialog.currentEntry, 2);
  EXPECT_EQ(h.system.threads.size(), 6u);
}

TEST_F(ChainTest, EndOfRowsFinishesTheUpdate) {
  dialog.StartNextDownload();
  EXPECT_EQ(h.controls.statusText(), "★ Ostra 服务器系统升级更新完毕!");
  EXPECT_EQ(h.controls.buttonText(), "□□ 点击关闭 □□");
  EXPECT_TRUE(h.controls.buttonEnabled());
  EXPECT_EQ(dialog.run.updateRunning, 0);
  EXPECT_EQ(dialog.closeOnClick, 1);
  EXPECT_EQ(h.system.beeps.size(), 3u);
  EXPECT_TRUE(h.system.threads.empty());
}

TEST_F(ChainTest, ComponentIsWrittenAndItsServiceStarted) {
  h.services.services["CSOstraServer"].state = 1;
  Entry(0, "CSOstraServer.exe", "C:\\OSTRA", "CSOstraServer", 4);
  int row = AddRow(10000);
  h.files.files["C:\\OSTRA\\CSOstraServer.exe"] = "old";
  dialog.StartNextDownload();
  h.Deliver(Compress("new executable"));
  EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraServer.exe"], "new executable");
  EXPECT_EQ(h.files.files.count("C:\\OSTRA\\CSOstraServer.exe.ost-new"), 0u);
  EXPECT_EQ(Cell(row, 3), "更新完成,服务已启动。");
  EXPECT_EQ(Colour(row), kDoneGreen);
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"start CSOstraServer"}));
  EXPECT_EQ(dialog.currentRow, row + 1);
  EXPECT_EQ(h.controls.statusText(), "★ Ostra 服务器系统升级更新完毕!");
}

TEST_F(ChainTest, StoppedServiceStaysStoppedAndFailedStartIsRed) {
  h.services.services["CSOstraAgent"].state = 1;
  h.services.services["CSOstraServer"].state = 1;
  h.services.services["CSOstraServer"].refuseStart = true;
  Entry(0, "CSOstraServer.exe", "C:\\OSTRA", "CSOstraServer", 4);
  Entry(1, "CSOstraAgent.exe", "C:\\OSTRA", "CSOstraAgent", 1);
  int first = AddRow(10000);
  int second = AddRow(10001);
  dialog.StartNextDownload();
  h.Deliver(Compress("server"));
  EXPECT_EQ(Cell(first, 3), "更新完成,启动服务...失败！");
  EXPECT_EQ(Colour(first), kAlertRed);
  h.Deliver(Compress("agent"));  // the run goes on after a failed start
  EXPECT_EQ(Cell(second, 3), "更新完成,服务保持停止状态。");
  EXPECT_EQ(Colour(second), kDoneGreen);
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"start CSOstraServer"}));
}

TEST_F(ChainTest, WebServerWaitsForTheDataInterface) {
  h.services.services["W3SVC"].state = 1;
  dialog.velinEntry = 2;
  dialog.ostDataEntry = 4;
  Entry(2, "Velin.dll", "D:\\wwwroot\\cgi-bin", "W3SVC", 4).kind = 4;
  Entry(4, "OstData.dll", "D:\\wwwroot\\cgi-bin", "", 4).kind = 8;
  int velin = AddRow(10002);
  int data = AddRow(10004);
  dialog.StartNextDownload();
  h.Deliver(Compress("velin"));
  EXPECT_EQ(dialog.webRow, velin);
  EXPECT_EQ(Cell(velin, 3), "更新完成,启动服务...");
  EXPECT_EQ(Colour(velin), kWrittenOlive);
  EXPECT_TRUE(h.services.calls.empty());
  h.Deliver(Compress("data"));
  EXPECT_EQ(h.services.calls, (std::vector<std::string>{"start W3SVC"}));
  EXPECT_EQ(Cell(data, 3), "更新完成,服务已启动。");
  EXPECT_EQ(Cell(velin, 3), "更新完成,服务已启动。");
  EXPECT_EQ(Colour(velin), kDoneGreen);
  EXPECT_EQ(dialog.serviceTable[4].serviceName, "W3SVC");
}

TEST_F(ChainTest, WebDllFallsBackToTheFixedFolder) {
  dialog.velinEntry = 2;
  Entry(2, "Velin.dll", "E:\\site\\cgi-bin", "W3SVC", 1).kind = 4;
  int row = AddRow(10002);
  h.files.unwritableFolders = {"E:\\site"};
  dialog.StartNextDownload();
  h.Deliver(Compress("velin"));
  EXPECT_EQ(h.files.files["d:\\wwwroot\\cgi-bin\\Velin.dll"], "velin");
  EXPECT_EQ(Cell(row, 3), "更新完成,服务保持停止状态。");

  // An executable gets no second try.
  Entry(0, "CSOstraServer.exe", "E:\\site\\bin", "CSOstraServer", 1);
  int exeRow = AddRow(10000);
  dialog.currentRow = exeRow;
  dialog.run.updateRunning = 1;
  dialog.StartNextDownload();
  h.Deliver(Compress("exe"));
  EXPECT_EQ(Cell(exeRow, 3), "写文件错误，异常终止！");
  EXPECT_EQ(Colour(exeRow), kAlertRed);
  EXPECT_EQ(dialog.failed, 1);
  EXPECT_EQ(dialog.run.updateRunning, 0);
}

TEST_F(ChainTest, FullDiskLeavesTheOldFileWhole) {
  Entry(0, "CSOstraServer.exe", "C:\\OSTRA", "CSOstraServer", 1);
  int row = AddRow(10000);
  AddRow(10001);
  h.files.files["C:\\OSTRA\\CSOstraServer.exe"] = "old executable";
  h.files.diskSpace = 3;
  dialog.StartNextDownload();
  size_t threads = h.system.threads.size();
  h.Deliver(Compress("a much larger new executable"));
  EXPECT_EQ(h.files.files["C:\\OSTRA\\CSOstraServer.exe"], "old executable");
  EXPECT_EQ(h.files.files.count("C:\\OSTRA\\CSOstraServer.exe.ost-new"), 0u);
  EXPECT_EQ(Cell(row, 3), "写文件错误，异常终止！");
  EXPECT_EQ(dialog.failed, 1);
  EXPECT_EQ(h.system.threads.size(), threads);  // no further download
}

TEST_F(ChainTest, CorruptOrOversizedPackagesStopTheRun) {
  Entry(0, "CSOstraServer.exe", "C:\\OSTRA", "CSOstraServer", 1);
  int row = AddRow(10000);
  dialog.StartNextDownload();
  h.Deliver("this is not a zlib stream");
  EXPECT_EQ(Cell(row, 3), "文件解压错误，异常终止！");
  EXPECT_EQ(dialog.failed, 1);
  EXPECT_EQ(dialog.run.updateRunning, 0);
  EXPECT_TRUE(h.files.files.empty());

  // Later messages are ignored once a package failed.
  dialog.run.updateRunning = 1;
  dialog.OnDownloadDone(3, 0);
  EXPECT_EQ(dialog.run.updateRunning, 0);
  EXPECT_EQ(Cell(row, 3), "文件解压错误，异常终止！");

  Harness h2;
  UpdateDialog& d2 = h2.CheckedDialog();
  d2.serviceTable[0].fileName = "big.exe";
  d2.serviceTable[0].installDir = "C:\\OSTRA";
  d2.serviceTable[0].kind = 5;
  d2.InsertRow(3, "x");
  d2.SetRowTag(3, 10000);
  d2.currentRow = 3;
  d2.StartNextDownload();
  h2.Deliver(Compress(std::string(kUnpackBufferSize + 1, 'z')));
  EXPECT_EQ(h2.list.GetItemText(3, 3), "文件解压错误，异常终止！");
}

TEST_F(ChainTest, DownloadFailuresAreReportedOnTheCurrentRow) {
  int row = AddRow(381);
  dialog.StartNextDownload();
  dialog.OnDownloadDone(8, 0);
  EXPECT_EQ(Cell(row, 3), "与岚汐服务器通讯失败(8)...");
  using B = std::vector<std::pair<uint32_t, uint32_t>>;
  EXPECT_EQ(h.system.beeps, (B{{500, 500}, {800, 500}}));
  EXPECT_EQ(dialog.run.updateRunning, 0);
  EXPECT_EQ(h.controls.buttonText(), "▁▃▅▇ 正在更新 ▇▅▃▁");
  EXPECT_FALSE(h.controls.buttonEnabled());

  dialog.run.updateRunning = 1;
  dialog.job.expectedLength = 1000;
  dialog.job.receivedLength = 700;
  dialog.OnDownloadDone(0, 0);
  EXPECT_EQ(Cell(row, 3), "数据下载错误...");
  EXPECT_EQ(dialog.run.updateRunning, 0);
}

}  // namespace
}  // namespace ost
