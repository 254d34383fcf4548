#include <gtest/gtest.h>

#include "app/texts.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Harness;

class ProgressViewTest : public ::testing::Test {
 protected:
  ProgressViewTest() {
    dialog.progressList.EnableRowRecords(true);
    job().targetPath = "D:\\wwwroot\\cgi-bin\\Velin.dll";
  }

  DownloadJob& job() { return dialog.job; }
  std::string Status(int row) { return h.list.GetItemText(row, 3); }
  Rgb TextColour(int row) { return dialog.progressList.Record(row)->textColor; }
  void AddRows(int n) {
    for (int i = 0; i < n; ++i) dialog.InsertRow(i, std::to_string(i));
  }

  Harness h;
  UpdateDialog& dialog = h.MakeDialog();
};

TEST_F(ProgressViewTest, StepStatusNeedsAnExistingCurrentRow) {
  dialog.currentRow = 0;
  dialog.SetStepStatus("x", true);  // no row yet
  EXPECT_EQ(dialog.RowCount(), 0);

  AddRows(2);
  dialog.currentRow = -1;
  dialog.SetStepStatus("negative", true);
  dialog.currentRow = 2;
  dialog.SetStepStatus("past the end", true);
  EXPECT_EQ(Status(0), "");
  EXPECT_EQ(Status(1), "");

  dialog.currentRow = 1;
  dialog.SetStepStatus("running", false);
  EXPECT_EQ(Status(1), "running");
  EXPECT_EQ(TextColour(1), kBlack);
  dialog.SetStepStatus("done", true);
  EXPECT_EQ(Status(1), "done");
  EXPECT_EQ(TextColour(1), kDoneGreen);
  EXPECT_EQ(TextColour(0), kBlack);
}

TEST_F(ProgressViewTest, CellsOutsideTheListChangeNothing) {
  AddRows(1);
  dialog.SetCell(1, 0, "x");
  dialog.SetCell(0, 4, "x");
  dialog.SetCell(-1, 0, "x");
  dialog.SetCell(0, 2, "desc");
  EXPECT_EQ(dialog.RowCount(), 1);
  EXPECT_EQ(h.list.GetItemText(0, 2), "desc");
}

TEST_F(ProgressViewTest, PackageProgressShowsWholePercentsOnly) {
  AddRows(4);
  dialog.currentRow = 3;
  job().expectedLength = 1000000;
  job().downloadKind = 3;

  dialog.OnDownloadProgress(0, 0);
  dialog.OnDownloadProgress(512, 1);  // 0.0512 % rounds to 0: nothing shown
  EXPECT_EQ(h.controls.progressPos(), 0);
  EXPECT_EQ(h.controls.statusText(), "");
  EXPECT_EQ(Status(3), "");

  dialog.OnDownloadProgress(5120, 1);
  EXPECT_EQ(h.controls.progressPos(), 1);
  EXPECT_EQ(dialog.progressPercent, 1);
  EXPECT_EQ(h.controls.statusText(),
            "正在下载更新:D:\\wwwroot\\cgi-bin\\Velin.dll ,共: 1000 KB,已下载: 5 KB,1%");
  EXPECT_EQ(Status(3), "正在下载文件:已下载: 5 KB,1%");
  EXPECT_EQ(TextColour(3), kAlertRed);

  // The same percentage again changes nothing.
  dialog.SetStatusLine("kept");
  dialog.OnDownloadProgress(6144, 1);
  EXPECT_EQ(h.controls.statusText(), "kept");

  dialog.OnDownloadProgress(1000000, 1);
  EXPECT_EQ(h.controls.progressPos(), 100);
  EXPECT_EQ(Status(3), "正在下载文件:已下载: 1000 KB,100%");
}

TEST_F(ProgressViewTest, PercentRoundsHalfUp) {
  AddRows(1);
  job().expectedLength = 1000000;
  job().downloadKind = 4;
  dialog.OnDownloadProgress(4999, 1);  // 0.4999 %
  EXPECT_EQ(dialog.progressPercent, 0);
  dialog.OnDownloadProgress(5000, 1);  // 0.5 %
  EXPECT_EQ(dialog.progressPercent, 1);
  dialog.OnDownloadProgress(994999, 1);  // 99.4999 %
  EXPECT_EQ(dialog.progressPercent, 99);
}

TEST_F(ProgressViewTest, FullReceiveBufferDoesNotOverflow) {
  AddRows(1);
  job().expectedLength = 24000000;
  job().downloadKind = 5;
  dialog.OnDownloadProgress(23999999, 1);
  EXPECT_EQ(dialog.progressPercent, 100);
  EXPECT_EQ(Status(0), "正在下载文件:已下载: 23999 KB,100%");
}

TEST_F(ProgressViewTest, DetailFileLeavesTheRowAlone) {
  AddRows(2);
  dialog.currentRow = 1;
  job().expectedLength = 10000;
  job().downloadKind = 250;
  dialog.OnDownloadProgress(5000, 1);
  EXPECT_EQ(h.controls.progressPos(), 50);
  EXPECT_NE(h.controls.statusText(), "");
  EXPECT_EQ(Status(1), "");
  EXPECT_EQ(TextColour(1), kBlack);
}

TEST_F(ProgressViewTest, ReportsAreDroppedWhenTheyCannotBeShown) {
  AddRows(1);
  job().downloadKind = 3;

  job().expectedLength = 0;  // length not known yet
  dialog.OnDownloadProgress(5000, 1);
  job().expectedLength = 10000;
  dialog.failed = 1;
  dialog.OnDownloadProgress(5000, 1);
  dialog.failed = 0;
  dialog.inProgressHandler = 1;
  dialog.OnDownloadProgress(5000, 1);
  EXPECT_EQ(dialog.progressPercent, 0);
  EXPECT_EQ(h.controls.progressPos(), 0);

  dialog.inProgressHandler = 0;
  dialog.OnDownloadProgress(5000, 1);
  EXPECT_EQ(dialog.progressPercent, 50);
  EXPECT_EQ(dialog.inProgressHandler, 0);
}

TEST_F(ProgressViewTest, ManifestStartReportShowsNothing) {
  AddRows(3);
  dialog.currentRow = 2;
  job().expectedLength = 4000;
  job().downloadKind = 0;
  dialog.Dispatch(WM_DOWNLOAD_PROGRESS, 0, 0);
  EXPECT_EQ(h.controls.statusText(), "");
  EXPECT_EQ(h.controls.progressPos(), 0);
}

}  // namespace
}  // namespace ost
