// The dialog's controls as plain data, for the front ends that draw them themselves
// (terminal, headless) and for tests. Every change is reported to an observer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/view_port.h"

namespace ost {

class ViewObserver {
 public:
  virtual ~ViewObserver() = default;
  virtual void OnRowChanged(int /*row*/) {}  // texts or colours of the row changed
  virtual void OnRowInserted(int /*row*/) {}
  virtual void OnRowsDeleted() {}
  virtual void OnStatusChanged() {}
  virtual void OnProgressChanged() {}
  virtual void OnButtonChanged() {}
  virtual void OnRoutesChanged() {}
};

constexpr int kListColumns = 4;

struct MemoryColumn {
  std::string heading;
  int width = 0;
};

struct MemoryRow {
  std::array<std::string, kListColumns> cells;
  intptr_t data = 0;
};

class MemoryReportList : public ReportList {
 public:
  void SetObserver(ViewObserver* observer) { observer_ = observer; }

  void SetListener(ReportListListener* listener) override { listener_ = listener; }
  void InsertColumn(int column, const std::string& heading, int widthPixels) override;
  int ItemCount() const override { return static_cast<int>(rows_.size()); }
  int InsertItem(int index, const std::string& text) override;
  bool SetItemText(int row, int column, const std::string& text) override;
  std::string GetItemText(int row, int column) const override;
  bool DeleteItem(int row) override;
  bool DeleteAllItems() override;
  intptr_t GetItemData(int row) const override;
  bool SetItemData(int row, intptr_t data) override;
  void RedrawItems(int first, int last) override;
  void UpdateNow() override {}

  const std::vector<MemoryColumn>& columns() const { return columns_; }

 private:
  bool Valid(int row) const { return row >= 0 && row < ItemCount(); }

  std::vector<MemoryColumn> columns_;
  std::vector<MemoryRow> rows_;
  ReportListListener* listener_ = nullptr;
  ViewObserver* observer_ = nullptr;
};

class MemoryControls : public DialogControls {
 public:
  void SetObserver(ViewObserver* observer) { observer_ = observer; }

  void SetStatusText(const std::string& text) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void SetStartButtonText(const std::string& text) override;
  void EnableStartButton(bool enabled) override;
  void WriteRouteRadios(int32_t choice) override;
  int32_t ReadRouteRadios() const override;

  // The operator's hand on the radios (front ends).
  void ClickRoute(int index);

  const std::string& statusText() const { return statusText_; }
  int progressLow() const { return progressLow_; }
  int progressHigh() const { return progressHigh_; }
  int progressPos() const { return progressPos_; }
  const std::string& buttonText() const { return buttonText_; }
  bool buttonEnabled() const { return buttonEnabled_; }
  bool routeChecked(int index) const { return routes_[index]; }

 private:
  std::string statusText_;
  int progressLow_ = 0;
  int progressHigh_ = 100;
  int progressPos_ = 0;
  std::string buttonText_;
  bool buttonEnabled_ = false;
  std::array<bool, 2> routes_{};
  ViewObserver* observer_ = nullptr;
};

}  // namespace ost
