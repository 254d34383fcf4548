// The progress list on a report-style ListView: plain list operations for the core,
// plus the colour list's behaviour on the real control (reflected notifications,
// per-row text colour, swallowed header clicks, repaint on focus change).
#pragma once

#include <cstdint>
#include <string>

#include "platform/view_port.h"
#include "ui/colour_list.h"
#include "win32_headers.h"

namespace ost {

class ListViewReportList : public ReportList {
 public:
  ListViewReportList() = default;
  ~ListViewReportList() override;
  ListViewReportList(const ListViewReportList&) = delete;
  ListViewReportList& operator=(const ListViewReportList&) = delete;

  // Takes over a ListView in report view: extended styles and the subclass. Until
  // then, and after the control is gone, the list is empty and ignores writes.
  void Attach(HWND list);
  void Detach();
  HWND hwnd() const { return list_; }

  // Where the paint cycle finds each row's colours.
  void SetColourSource(const ColourList* colours) { colours_ = colours; }

  // The owner's WM_NOTIFY. True when the notice came from this list and was handled;
  // *result is then the message result.
  bool OnNotify(NMHDR* header, LRESULT* result);

  void SetListener(ReportListListener* listener) override { listener_ = listener; }
  void InsertColumn(int column, const std::string& heading, int widthPixels) override;
  int ItemCount() const override;
  int InsertItem(int index, const std::string& text) override;
  bool SetItemText(int row, int column, const std::string& text) override;
  std::string GetItemText(int row, int column) const override;
  bool DeleteItem(int row) override;
  bool DeleteAllItems() override;
  intptr_t GetItemData(int row) const override;
  bool SetItemData(int row, intptr_t data) override;
  void RedrawItems(int first, int last) override;
  void UpdateNow() override;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self);
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw) const;
  bool ValidRow(int row) const;
  bool ValidCell(int row, int column) const;

  HWND list_ = nullptr;
  ReportListListener* listener_ = nullptr;
  const ColourList* colours_ = nullptr;
};

}  // namespace ost
