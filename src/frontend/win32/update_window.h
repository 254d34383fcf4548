// The update dialog's window: dialog template 102 run as a modeless dialog with its
// own message loop, the message handlers that forward to UpdateDialog, and the
// window operations the core asks for.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/update_dialog.h"
#include "dialog_controls.h"
#include "listview_report_list.h"
#include "platform/window_port.h"
#include "win32_headers.h"

namespace ost {

class Win32UpdateWindow : public WindowPort {
 public:
  // The list and controls are bound to the dialog's controls once it exists.
  Win32UpdateWindow(HINSTANCE instance, ListViewReportList& list, Win32DialogControls& controls);
  ~Win32UpdateWindow() override;
  Win32UpdateWindow(const Win32UpdateWindow&) = delete;
  Win32UpdateWindow& operator=(const Win32UpdateWindow&) = delete;

  // Creates the window for dialog and runs it until EndDialog or a quit request,
  // then destroys it. On the UI thread (the one that constructed this object).
  void RunModal(UpdateDialog& dialog);

  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  void PostQuit() override;
  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxButtons buttons,
                           BoxIcon icon) override;
  void ShowAboutBox() override;
  bool AppendSystemMenuItem(uint32_t commandId, const std::string& text) override;
  void SetWindowIcon() override;
  void EndDialog() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK AboutProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnInit(HWND hwnd);
  void OnCommand(WORD id, WORD code);
  void PaintMinimised(HWND hwnd);

  HINSTANCE instance_;
  ListViewReportList& list_;
  Win32DialogControls& controls_;
  DWORD uiThread_;
  HICON icon_;
  HICON smallIcon_;
  UpdateDialog* dialog_ = nullptr;
  // Read by the download worker when it posts.
  std::atomic<HWND> window_{nullptr};
  bool ended_ = false;
};

}  // namespace ost
