// The progress reports of a download and what they show.
#include <gtest/gtest.h>

#include "app/texts.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Harness;
using testing::ManifestText;

// A plan whose one row (4) is the server's package of `size` bytes. Its download has
// run, so its length is known; what the worker posted is dropped, and each test
// hands the dialog the reports it wants.
class ProgressViewTest : public ::testing::Test {
 protected:
  UpdateDialog& Downloaded(size_t size, const std::string& key = "Server",
                           const std::string& package = "/ostra/update1/CSOstraServer.exe.zip") {
    UpdateDialog& dialog = h.Check(ManifestText("3.80 7.0", {"12\t" + key + "\tv\td"}));
    h.host.bodies[package] = std::string(size, 'p');
    h.window.yesNoAnswer = BoxAnswer::kYes;
    dialog.OnStartClicked();
    h.RunDownloads();
    h.window.posted.clear();
    return dialog;
  }
  void Report(uintptr_t received) { h.dialog->Dispatch(WM_DOWNLOAD_PROGRESS, received, 1); }
  std::string Status(int row) { return h.Cell(row, 3); }

  Harness h;
};

TEST_F(ProgressViewTest, PackageProgressShowsWholePercentsOnly) {
  Downloaded(1000000);
  const std::string before = h.controls.statusText();
  h.dialog->Dispatch(WM_DOWNLOAD_PROGRESS, 0, 0);
  Report(512);  // 0.0512 % rounds to 0: nothing shown
  EXPECT_EQ(h.controls.progressPos(), 0);
  EXPECT_EQ(h.controls.statusText(), before);
  EXPECT_EQ(Status(4), "停止服务 ok");

  Report(5120);
  EXPECT_EQ(h.controls.progressPos(), 1);
  EXPECT_EQ(h.controls.statusText(),
            "正在下载更新:C:\\OSTRA\\CSOstraServer.exe ,共: 1000 KB,已下载: 5 KB,1%");
  EXPECT_EQ(Status(4), "正在下载文件:已下载: 5 KB,1%");
  EXPECT_EQ(h.Colour(4), kAlertRed);

  // The same percentage again changes nothing.
  Report(6144);
  EXPECT_EQ(Status(4), "正在下载文件:已下载: 5 KB,1%");

  Report(1000000);
  EXPECT_EQ(h.controls.progressPos(), 100);
  EXPECT_EQ(Status(4), "正在下载文件:已下载: 1000 KB,100%");
}

TEST_F(ProgressViewTest, PercentRoundsHalfUp) {
  Downloaded(1000000);
  Report(4999);  // 0.4999 %
  EXPECT_EQ(h.controls.progressPos(), 0);
  Report(5000);  // 0.5 %
  EXPECT_EQ(h.controls.progressPos(), 1);
  Report(994999);  // 99.4999 %
  EXPECT_EQ(h.controls.progressPos(), 99);
}

TEST_F(ProgressViewTest, FullReceiveBufferDoesNotOverflow) {
  Downloaded(24000000);
  Report(23999999);
  EXPECT_EQ(h.controls.progressPos(), 100);
  EXPECT_EQ(Status(4), "正在下载文件:已下载: 23999 KB,100%");
}

TEST_F(ProgressViewTest, DetailFileLeavesTheRowAlone) {
  h.files.files["D:\\wwwroot\\cgi-bin\\a.htm"] = "old";
  UpdateDialog& dialog = h.Check(ManifestText(
      "3.80 7.0", {"12\tServer\tv\td"},
      "--END--\n--FILE DETAIL--\na.htm.zip+1=" + std::string(32, '0') + "\n--FILE DETAIL END--\n"));
  h.host.bodies["/ostra/update1/a.htm.zip"] = std::string(10000, 'd');
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  h.RunDownloads();
  h.window.posted.clear();
  Report(5000);
  EXPECT_EQ(h.controls.progressPos(), 50);
  EXPECT_EQ(h.controls.statusText(),
            "正在下载更新:D:\\wwwroot\\cgi-bin\\a.htm ,共: 10 KB,已下载: 5 KB,50%");
  EXPECT_EQ(Status(4), "停止服务 ok");
  EXPECT_EQ(h.Colour(4), kStoppedPurple);
}

TEST_F(ProgressViewTest, ReportsAreDroppedAfterAPackageFailed) {
  Downloaded(10000);
  h.dialog->Dispatch(WM_DOWNLOAD_DONE, 0, 0);  // not a zlib stream
  EXPECT_EQ(h.dialog->failed(), 1);
  EXPECT_EQ(Status(4), "文件解压错误，异常终止！");
  Report(5000);
  EXPECT_EQ(h.controls.progressPos(), 0);
  EXPECT_EQ(Status(4), "文件解压错误，异常终止！");
}

TEST_F(ProgressViewTest, UnknownLengthShowsNothing) {
  UpdateDialog& dialog = h.Check(ManifestText("3.80 7.0", {"12\tServer\tv\td"}));
  h.host.answers["/ostra/update1/CSOstraServer.exe.zip"] = "HTTP/1.0 200 OK\r\n\r\nno length";
  h.window.yesNoAnswer = BoxAnswer::kYes;
  dialog.OnStartClicked();
  h.RunDownloads();
  h.window.posted.clear();
  Report(5000);
  EXPECT_EQ(h.controls.progressPos(), 0);
  EXPECT_EQ(Status(4), "停止服务 ok");
}

TEST_F(ProgressViewTest, ManifestStartReportShowsNothing) {
  h.host.bodies["/ostra/update1/server.txt"] = ManifestText("3.80 7.0", {"10"});
  h.OpenDialog();
  h.RunDownloads();
  ASSERT_GE(h.window.posted.size(), 2u);
  EXPECT_EQ(h.window.posted.front().msg, WM_DOWNLOAD_PROGRESS);
  h.DispatchNext();
  EXPECT_EQ(h.controls.statusText(), "");
  EXPECT_EQ(h.controls.progressPos(), 0);
  EXPECT_EQ(h.Cell(2, 3), "开始查询...");
}

}  // namespace
}  // namespace ost
