#include "dialog_controls.h"

#include "resource.h"
#include "wide_text.h"

namespace ost {

void Win32DialogControls::SetStatusText(const std::string& text) {
  if (dialog_) SetDlgItemTextW(dialog_, IDC_STATUS_TEXT, Utf8ToWide(text).c_str());
}

void Win32DialogControls::SetProgressRange(int low, int high) {
  if (dialog_) {
    SendDlgItemMessageW(dialog_, IDC_PROGRESS_BAR, PBM_SETRANGE32, static_cast<WPARAM>(low),
                        static_cast<LPARAM>(high));
  }
}

void Win32DialogControls::SetProgressPos(int pos) {
  if (dialog_)
    SendDlgItemMessageW(dialog_, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32DialogControls::SetStartButtonText(const std::string& text) {
  if (dialog_) SetDlgItemTextW(dialog_, IDC_START_BUTTON, Utf8ToWide(text).c_str());
}

void Win32DialogControls::EnableStartButton(bool enabled) {
  if (!dialog_) return;
  HWND button = GetDlgItem(dialog_, IDC_START_BUTTON);
  if (!button) return;
  // A control that loses its enabled state while focused would leave the dialog
  // without keyboard focus; hand it on to the next control first.
  if (!enabled && GetFocus() == button) {
    SendMessageW(dialog_, WM_NEXTDLGCTL, 0, FALSE);
  }
  EnableWindow(button, enabled ? TRUE : FALSE);
}

void Win32DialogControls::WriteRouteRadios(int32_t choice) {
  if (!dialog_) return;
  CheckDlgButton(dialog_, IDC_ROUTE_TELECOM, choice == 0 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog_, IDC_ROUTE_NETCOM, choice == 1 ? BST_CHECKED : BST_UNCHECKED);
}

int32_t Win32DialogControls::ReadRouteRadios() const {
  if (!dialog_) return -1;
  if (IsDlgButtonChecked(dialog_, IDC_ROUTE_TELECOM) == BST_CHECKED) return 0;
  if (IsDlgButtonChecked(dialog_, IDC_ROUTE_NETCOM) == BST_CHECKED) return 1;
  return -1;
}

}  // namespace ost
