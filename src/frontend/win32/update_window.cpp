#include "update_window.h"

#include "resource.h"
#include "wide_text.h"

namespace ost {
namespace {

// Asks the UI thread to post itself the quit message: PostQuitMessage only works
// on the thread whose loop is to end.
constexpr UINT kQuitRequest = WM_APP + 1;

UINT BoxStyle(BoxButtons buttons, BoxIcon icon) {
  UINT style = buttons == BoxButtons::kYesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case BoxIcon::kNone:
      break;
    case BoxIcon::kInformation:
      style |= MB_ICONINFORMATION;
      break;
    case BoxIcon::kWarning:
      style |= MB_ICONWARNING;
      break;
    case BoxIcon::kStop:
      style |= MB_ICONSTOP;
      break;
    case BoxIcon::kQuestion:
      style |= MB_ICONQUESTION;
      break;
  }
  return style;
}

// The template has no position of its own; place the window in the middle of the
// work area of its monitor.
void CentreOnWorkArea(HWND hwnd) {
  RECT window{};
  if (!GetWindowRect(hwnd, &window)) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
  const RECT& area = monitor.rcWork;
  int width = window.right - window.left;
  int height = window.bottom - window.top;
  int x = area.left + (area.right - area.left - width) / 2;
  int y = area.top + (area.bottom - area.top - height) / 2;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

Win32UpdateWindow::Win32UpdateWindow(HINSTANCE instance, ListViewReportList& list,
                                     Win32DialogControls& controls)
    : instance_(instance),
      list_(list),
      controls_(controls),
      uiThread_(GetCurrentThreadId()),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))),
      smallIcon_(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0))) {}

Win32UpdateWindow::~Win32UpdateWindow() {
  // The big icon is a shared one from LoadIcon; only the sized copy is ours.
  if (smallIcon_) DestroyIcon(smallIcon_);
}

void Win32UpdateWindow::RunModal(UpdateDialog& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  HWND hwnd = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_OSTSERVERUPDATE_DIALOG), nullptr,
                                 DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd) {
    // Our own loop instead of DialogBox: EndDialog and a quit request (which may
    // arrive while OnInitDialog still runs) both end it.
    MSG msg;
    while (!ended_) {
      BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) break;  // WM_QUIT, or a broken queue
      if (!msg.hwnd && msg.message == kQuitRequest) {
        PostQuitMessage(0);
        continue;
      }
      if (IsDialogMessageW(hwnd, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // Free the row records while the list can still report its rows.
    list_.DeleteAllItems();
    window_ = nullptr;
    DestroyWindow(hwnd);
  }
  list_.Detach();
  list_.SetColourSource(nullptr);
  controls_.Detach();
  dialog_ = nullptr;
}

INT_PTR CALLBACK Win32UpdateWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Win32UpdateWindow* self;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<Win32UpdateWindow*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
  } else {
    self = reinterpret_cast<Win32UpdateWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  // Messages before WM_INITDIALOG (WM_SETFONT) and after the run get the default.
  if (!self || !self->dialog_) return FALSE;
  return self->HandleMessage(hwnd, msg, wParam, lParam);
}

INT_PTR Win32UpdateWindow::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      OnInit(hwnd);
      return TRUE;  // focus on the first tab stop
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      dialog_->OnClose();
      return TRUE;
    case WM_SYSCOMMAND:
      // FALSE lets the dialog manager do the default (move, minimise, close...).
      return dialog_->OnSysCommand(static_cast<uint32_t>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
      if (!IsIconic(hwnd)) return FALSE;
      PaintMinimised(hwnd);
      return TRUE;
    case WM_QUERYDRAGICON:
      // One of the messages whose dialog-procedure result is the message result.
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (!list_.OnNotify(reinterpret_cast<NMHDR*>(lParam), &result)) return FALSE;
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case kQuitRequest:
      PostQuitMessage(0);
      return TRUE;
    default:
      break;
  }
  if (msg == WM_DOWNLOAD_DONE || msg == WM_DOWNLOAD_PROGRESS) {
    dialog_->Dispatch(msg, static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam));
    return TRUE;
  }
  return FALSE;
}

void Win32UpdateWindow::OnInit(HWND hwnd) {
  window_ = hwnd;
  CentreOnWorkArea(hwnd);
  controls_.Attach(hwnd);
  list_.Attach(GetDlgItem(hwnd, IDC_PROGRESS_LIST));
  list_.SetColourSource(&dialog_->progressList());
  dialog_->OnInitDialog();
}

void Win32UpdateWindow::OnCommand(WORD id, WORD code) {
  switch (id) {
    case IDC_START_BUTTON:
      if (code == BN_CLICKED) dialog_->OnStartClicked();
      break;
    case IDCANCEL:
      // Esc goes through the close guard like the close box, so it cannot end the
      // program while an update runs.
      dialog_->OnClose();
      break;
    case IDOK:
      // Enter outside a focused button is ignored: the start button is the only
      // action, and it asks to be clicked on purpose.
      break;
    default:
      break;
  }
}

void Win32UpdateWindow::PaintMinimised(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(hwnd, &client);
  int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(hwnd, &paint);
}

void Win32UpdateWindow::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  // Without a window a post would land in the caller's own thread queue.
  HWND hwnd = window_;
  if (!hwnd) return;
  // A fast download posts a progress message per 512 bytes and can fill the thread's
  // queue (10,000 messages); waiting for room keeps every message, above all the
  // final WM_DOWNLOAD_DONE, while the UI thread drains the queue.
  while (!PostMessageW(hwnd, msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam))) {
    if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA || !IsWindow(hwnd)) return;
    Sleep(5);
  }
}

void Win32UpdateWindow::PostQuit() {
  if (GetCurrentThreadId() == uiThread_) {
    PostQuitMessage(0);
  } else if (HWND hwnd = window_) {
    PostMessageW(hwnd, kQuitRequest, 0, 0);
  } else {
    PostThreadMessageW(uiThread_, kQuitRequest, 0, 0);
  }
}

BoxAnswer Win32UpdateWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                            BoxButtons buttons, BoxIcon icon) {
  UINT style = BoxStyle(buttons, icon);
  // Boxes of the check run before the window is shown; an invisible owner could
  // leave them behind other windows, so they stand alone and block the thread.
  HWND owner = window_;
  if (!owner || !IsWindowVisible(owner)) {
    owner = nullptr;
    style |= MB_TASKMODAL | MB_SETFOREGROUND;
  }
  int answer = MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), style);
  switch (answer) {
    case IDYES:
      return BoxAnswer::kYes;
    case IDNO:
      return BoxAnswer::kNo;
    default:
      // A box that could not be shown must not count as a yes.
      return buttons == BoxButtons::kYesNo ? BoxAnswer::kNo : BoxAnswer::kOk;
  }
}

INT_PTR CALLBACK Win32UpdateWindow::AboutProc(HWND hwnd, UINT msg, WPARAM wParam,
                                              LPARAM /*lParam*/) {
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

void Win32UpdateWindow::ShowAboutBox() {
  DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUTBOX), window_, AboutProc, 0);
}

bool Win32UpdateWindow::AppendSystemMenuItem(uint32_t commandId, const std::string& text) {
  HWND hwnd = window_;
  if (!hwnd || text.empty()) return false;
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  if (!menu) return false;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  return AppendMenuW(menu, MF_STRING, commandId, Utf8ToWide(text).c_str()) != 0;
}

void Win32UpdateWindow::SetWindowIcon() {
  HWND hwnd = window_;
  if (!hwnd) return;
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_ : icon_));
}

void Win32UpdateWindow::EndDialog() {
  ended_ = true;
  // Wakes the loop in case nothing else is queued.
  if (HWND hwnd = window_) PostMessageW(hwnd, WM_NULL, 0, 0);
}

}  // namespace ost
