#include "ui/memory_view.h"

#include <algorithm>

namespace ost {

void MemoryReportList::InsertColumn(int column, const std::string& heading, int widthPixels) {
  if (column < 0) return;
  auto at = columns_.begin() + std::min<size_t>(static_cast<size_t>(column), columns_.size());
  columns_.insert(at, MemoryColumn{heading, widthPixels});
}

int MemoryReportList::InsertItem(int index, const std::string& text) {
  if (index < 0) return -1;
  index = std::min(index, ItemCount());
  MemoryRow row;
  row.cells[0] = text;
  rows_.insert(rows_.begin() + index, std::move(row));
  if (listener_) listener_->OnItemInserted(index);
  if (observer_) observer_->OnRowInserted(index);
  return index;
}

bool MemoryReportList::SetItemText(int row, int column, const std::string& text) {
  if (!Valid(row) || column < 0 || column >= kListColumns) return false;
  std::string& cell = rows_[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
  if (cell == text) return true;
  cell = text;
  if (observer_) observer_->OnRowChanged(row);
  return true;
}

std::string MemoryReportList::GetItemText(int row, int column) const {
  if (!Valid(row) || column < 0 || column >= kListColumns) return {};
  return rows_[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
}

bool MemoryReportList::DeleteItem(int row) {
  if (!Valid(row)) return false;
  if (listener_) listener_->OnItemDeleting(row);
  rows_.erase(rows_.begin() + row);
  if (observer_) observer_->OnRowsDeleted();
  return true;
}

bool MemoryReportList::DeleteAllItems() {
  if (listener_) {
    listener_->OnAllItemsDeleting();
    for (int row = 0; row < ItemCount(); ++row) listener_->OnItemDeleting(row);
  }
  rows_.clear();
  if (observer_) observer_->OnRowsDeleted();
  return true;
}

intptr_t MemoryReportList::GetItemData(int row) const {
  return Valid(row) ? rows_[static_cast<size_t>(row)].data : 0;
}

bool MemoryReportList::SetItemData(int row, intptr_t data) {
  if (!Valid(row)) return false;
  rows_[static_cast<size_t>(row)].data = data;
  return true;
}

void MemoryReportList::RedrawItems(int first, int last) {
  if (!observer_) return;
  for (int row = std::max(first, 0); row <= last && row < ItemCount(); ++row) {
    observer_->OnRowChanged(row);
  }
}

void MemoryControls::SetStatusText(const std::string& text) {
  if (statusText_ == text) return;
  statusText_ = text;
  if (observer_) observer_->OnStatusChanged();
}

void MemoryControls::SetProgressRange(int low, int high) {
  progressLow_ = low;
  progressHigh_ = high;
  progressPos_ = std::clamp(progressPos_, low, std::max(low, high));
  if (observer_) observer_->OnProgressChanged();
}

void MemoryControls::SetProgressPos(int pos) {
  pos = std::clamp(pos, progressLow_, std::max(progressLow_, progressHigh_));
  if (progressPos_ == pos) return;
  progressPos_ = pos;
  if (observer_) observer_->OnProgressChanged();
}

void MemoryControls::SetStartButtonText(const std::string& text) {
  if (buttonText_ == text) return;
  buttonText_ = text;
  if (observer_) observer_->OnButtonChanged();
}

void MemoryControls::EnableStartButton(bool enabled) {
  if (buttonEnabled_ == enabled) return;
  buttonEnabled_ = enabled;
  if (observer_) observer_->OnButtonChanged();
}

void MemoryControls::WriteRouteRadios(int32_t choice) {
  routes_ = {choice == 0, choice == 1};
  if (observer_) observer_->OnRoutesChanged();
}

int32_t MemoryControls::ReadRouteRadios() const {
  if (routes_[0]) return 0;
  if (routes_[1]) return 1;
  return -1;
}

void MemoryControls::ClickRoute(int index) { WriteRouteRadios(index); }

}  // namespace ost
