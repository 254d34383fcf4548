// The progress view: rows of the progress list, the status line and the bar.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {

int UpdateDialog::InsertRow(int index, const std::string& stepText) {
  return progressList_.list().InsertItem(index, stepText);
}

void UpdateDialog::SetCell(int row, int column, const std::string& text) {
  progressList_.list().SetItemText(row, column, text);
}

void UpdateDialog::SetStepStatus(const std::string& text, bool done) {
  if (currentRow_ < 0) return;
  if (currentRow_ >= RowCount()) return;
  SetCell(currentRow_, 3, text);
  if (done) SetRowColors(currentRow_, kDoneGreen, kWhite);
}

void UpdateDialog::SetRowColors(int row, Rgb text, Rgb back) {
  progressList_.SetRowColors(row, text, back);
}

void UpdateDialog::SetStatusLine(const std::string& text) {
  platform_.controls->SetStatusText(text);
}

void UpdateDialog::SetProgress(int percent) { platform_.controls->SetProgressPos(percent); }

void UpdateDialog::OnDownloadProgress(uintptr_t received, intptr_t /*flag*/) {
  if (inProgressHandler_ || failed_) return;
  int32_t expected = job_->expectedLength.load();
  if (expected <= 0) return;
  inProgressHandler_ = 1;

  // received x 100 is an unsigned 32-bit product; the buffer size keeps it in range.
  uint32_t hundredfold = static_cast<uint32_t>(received) * 100u;
  auto percent =
      static_cast<int32_t>((uint64_t{hundredfold} * 2 + static_cast<uint32_t>(expected)) /
                           (uint64_t{static_cast<uint32_t>(expected)} * 2));
  if (percent > progressPercent_) {
    progressPercent_ = percent;
    SetProgress(percent);
    auto receivedKb = static_cast<int>(static_cast<uint32_t>(received) / 1000);
    SetStatusLine(Format(text::kDownloadStatusLine, job_->targetPath.c_str(),
                         static_cast<int>(expected / 1000), receivedKb, percent));
    if (job_->downloadKind != DownloadKind::kDetailFile) {
      SetStepStatus(Format(text::kDownloadRowStatus, receivedKb, percent), false);
      SetRowColors(currentRow_, kAlertRed, kWhite);
    }
  }
  inProgressHandler_ = 0;
}

}  // namespace ost
