// The progress view: rows of the progress list, the status line and the bar.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "util/text.h"

namespace ost {

int UpdateDialog::InsertRow(int index, const std::string& stepText) {
  return progressList.list().InsertItem(index, stepText);
}

void UpdateDialog::SetCell(int row, int column, const std::string& text) {
  progressList.list().SetItemText(row, column, text);
}

void UpdateDialog::SetStepStatus(const std::string& text, bool done) {
  if (currentRow < 0) return;
  if (currentRow >= RowCount()) return;
  SetCell(currentRow, 3, text);
  if (done) SetRowColors(currentRow, kDoneGreen, kWhite);
}

void UpdateDialog::SetRowColors(int row, Rgb text, Rgb back) {
  progressList.SetRowColors(row, text, back);
}

void UpdateDialog::SetStatusLine(const std::string& text) {
  platform_.controls->SetStatusText(text);
}

void UpdateDialog::SetProgress(int percent) { platform_.controls->SetProgressPos(percent); }

void UpdateDialog::OnDownloadProgress(uintptr_t received, intptr_t /*flag*/) {
  if (inProgressHandler || failed) return;
  int32_t expected = job.expectedLength.load();
  if (expected <= 0) return;
  inProgressHandler = 1;

  // received x 100 is an unsigned 32-bit product; the buffer size keeps it in range.
  uint32_t hundredfold = static_cast<uint32_t>(received) * 100u;
  auto percent =
      static_cast<int32_t>((uint64_t{hundredfold} * 2 + static_cast<uint32_t>(expected)) /
                           (uint64_t{static_cast<uint32_t>(expected)} * 2));
  if (percent > progressPercent) {
    progressPercent = percent;
    SetProgress(percent);
    auto receivedKb = static_cast<int>(static_cast<uint32_t>(received) / 1000);
    SetStatusLine(Format(text::kDownloadStatusLine, job.targetPath.c_str(),
                         static_cast<int>(expected / 1000), receivedKb, percent));
    if (job.downloadKind != 250) {
      SetStepStatus(Format(text::kDownloadRowStatus, receivedKb, percent), false);
      SetRowColors(currentRow, kAlertRed, kWhite);
    }
  }
  inProgressHandler = 0;
}

}  // namespace ost
