#include "listview_report_list.h"

#include <vector>

#include "wide_text.h"

namespace ost {
namespace {

constexpr UINT_PTR kSubclassId = 1;

LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(hwnd, msg, wParam, lParam);
}

// The label-to-right-edge strip of a row, which the list itself does not repaint
// when its focus and selection look change.
void InvalidateRowStrip(HWND list, int row) {
  RECT label{};
  label.left = LVIR_LABEL;
  if (!Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&label))) {
    return;
  }
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  if (!Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds))) {
    return;
  }
  RECT strip = bounds;
  strip.left = label.left;
  InvalidateRect(list, &strip, FALSE);
}

// After the focus entered or left the list (other: the window on the other side).
void RepaintFocusRows(HWND list, HWND other) {
  // Focus moving to or from the list's own child (an in-place edit box, the header)
  // changes nothing the operator sees in the rows.
  if (other && GetAncestor(other, GA_PARENT) == list) return;
  LONG_PTR style = GetWindowLongPtrW(list, GWL_STYLE);
  if ((style & LVS_TYPEMASK) != LVS_REPORT) return;

  int focused = static_cast<int>(
      Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_FOCUSED, 0)));
  if (focused >= 0) InvalidateRowStrip(list, focused);
  if (!(style & LVS_SHOWSELALWAYS)) {
    int row = -1;
    while ((row = static_cast<int>(Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                        MAKELPARAM(LVNI_SELECTED, 0)))) >= 0) {
      InvalidateRowStrip(list, row);
    }
  }
  UpdateWindow(list);
}

// The DPI the window is drawn at: its monitor's where Windows tells it per window (10,
// version 1607 on), else the system's.
int DpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto forWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (forWindow) {
    if (UINT dpi = forWindow(window)) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(window);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(window, screen);
  return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

ListViewReportList::~ListViewReportList() { Detach(); }

void ListViewReportList::Attach(HWND list) {
  Detach();
  if (!list) return;
  list_ = list;
  SetWindowSubclass(list_, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void ListViewReportList::Detach() {
  if (!list_) return;
  RemoveWindowSubclass(list_, SubclassProc, kSubclassId);
  list_ = nullptr;
}

LRESULT CALLBACK ListViewReportList::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                                  UINT_PTR /*id*/, DWORD_PTR self) {
  switch (msg) {
    case WM_NOTIFY: {
      // Header clicks end here: no sorting, and no column-click notice for the owner.
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header && (header->code == HDN_ITEMCLICKA || header->code == HDN_ITEMCLICKW) &&
          header->hwndFrom == reinterpret_cast<HWND>(Send(hwnd, LVM_GETHEADER, 0, 0))) {
        return 0;
      }
      break;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
      RepaintFocusRows(hwnd, reinterpret_cast<HWND>(wParam));
      return result;
    }
    case WM_NCDESTROY:
      // The control is going: forget it, so that later calls find an empty list.
      reinterpret_cast<ListViewReportList*>(self)->Detach();
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

bool ListViewReportList::OnNotify(NMHDR* header, LRESULT* result) {
  if (!list_ || !header || header->hwndFrom != list_) return false;
  switch (header->code) {
    case LVN_INSERTITEM: {
      const auto* notice = reinterpret_cast<const NMLISTVIEW*>(header);
      if (listener_) listener_->OnItemInserted(notice->iItem);
      *result = 0;
      return true;
    }
    case LVN_DELETEITEM: {
      const auto* notice = reinterpret_cast<const NMLISTVIEW*>(header);
      if (listener_) listener_->OnItemDeleting(notice->iItem);
      *result = 0;
      return true;
    }
    case LVN_DELETEALLITEMS:
      if (listener_) listener_->OnAllItemsDeleting();
      // FALSE keeps the per-row deletion notices coming.
      *result = FALSE;
      return true;
    case NM_CUSTOMDRAW:
      *result = OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
      return true;
    default:
      return false;
  }
}

LRESULT ListViewReportList::OnCustomDraw(NMLVCUSTOMDRAW* draw) const {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      // One colour for the texts of every column of the row; the rest is default.
      const RowRecord* record =
          colours_ ? colours_->Record(static_cast<int>(draw->nmcd.dwItemSpec)) : nullptr;
      if (record) draw->clrText = record->textColor;
      return CDRF_DODEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

bool ListViewReportList::ValidRow(int row) const { return row >= 0 && row < ItemCount(); }

bool ListViewReportList::ValidCell(int row, int column) const {
  if (!ValidRow(row) || column < 0) return false;
  HWND header = reinterpret_cast<HWND>(Send(list_, LVM_GETHEADER, 0, 0));
  return header && column < static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0));
}

void ListViewReportList::InsertColumn(int column, const std::string& heading, int widthPixels) {
  if (!list_ || column < 0) return;
  std::wstring text = Utf8ToWide(heading);
  LVCOLUMNW item{};
  item.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  item.fmt = LVCFMT_LEFT;
  // The widths are pixels at 96 DPI; the dialog's font and controls grow with the DPI,
  // and so do the columns.
  item.cx = MulDiv(widthPixels, DpiOf(list_), USER_DEFAULT_SCREEN_DPI);
  item.pszText = text.data();
  item.iSubItem = column;
  Send(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
}

int ListViewReportList::ItemCount() const {
  if (!list_) return 0;
  return static_cast<int>(Send(list_, LVM_GETITEMCOUNT, 0, 0));
}

int ListViewReportList::InsertItem(int index, const std::string& text) {
  if (!list_ || index < 0) return -1;
  int count = ItemCount();
  if (index > count) index = count;
  std::wstring wide = Utf8ToWide(text);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = index;
  item.pszText = wide.data();
  item.lParam = 0;  // the row record, if any, arrives with LVN_INSERTITEM
  return static_cast<int>(Send(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool ListViewReportList::SetItemText(int row, int column, const std::string& text) {
  if (!list_ || !ValidCell(row, column)) return false;
  std::wstring wide = Utf8ToWide(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  return Send(list_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) !=
         0;
}

std::string ListViewReportList::GetItemText(int row, int column) const {
  if (!list_ || !ValidCell(row, column)) return std::string();
  // The list copies at most the buffer less its terminator; a full buffer may
  // mean a cut text, so grow and ask again.
  for (size_t size = 256; size <= (1u << 20); size *= 2) {
    std::vector<wchar_t> buffer(size, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(size);
    auto length = static_cast<size_t>(
        Send(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (length + 1 < size) return WideToUtf8(std::wstring_view(buffer.data(), length));
  }
  return std::string();
}

bool ListViewReportList::DeleteItem(int row) {
  if (!list_ || !ValidRow(row)) return false;
  return Send(list_, LVM_DELETEITEM, static_cast<WPARAM>(row), 0) != 0;
}

bool ListViewReportList::DeleteAllItems() {
  if (!list_) return false;
  return Send(list_, LVM_DELETEALLITEMS, 0, 0) != 0;
}

intptr_t ListViewReportList::GetItemData(int row) const {
  if (!list_ || !ValidRow(row)) return 0;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!Send(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return static_cast<intptr_t>(item.lParam);
}

bool ListViewReportList::SetItemData(int row, intptr_t data) {
  if (!list_ || !ValidRow(row)) return false;
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = static_cast<LPARAM>(data);
  return Send(list_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0;
}

void ListViewReportList::RedrawItems(int first, int last) {
  if (!list_) return;
  Send(list_, LVM_REDRAWITEMS, static_cast<WPARAM>(first), static_cast<LPARAM>(last));
}

void ListViewReportList::UpdateNow() {
  if (list_) UpdateWindow(list_);
}

}  // namespace ost
