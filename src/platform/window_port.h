// The dialog's window as the core sees it: posting to its queue, message boxes,
// the system menu and the end of the modal run.
#pragma once

#include <cstdint>
#include <string>

namespace ost {

// The two messages the download worker posts (values as on Windows).
constexpr uint32_t kWmUser = 0x0400;
constexpr uint32_t WM_DOWNLOAD_DONE = kWmUser + 100;
constexpr uint32_t WM_DOWNLOAD_PROGRESS = kWmUser + 101;

enum class BoxButtons { kOk, kYesNo };
enum class BoxIcon { kNone, kInformation, kWarning, kStop, kQuestion };
enum class BoxAnswer { kOk, kYes, kNo };

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // Queues msg for the UI thread; handlers run one after another in posting order.
  // Callable from any thread. Never blocks on the UI thread.
  virtual void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;

  // Asks the UI thread's message loop to end; the modal run ends without the close
  // handler. Callable from any thread.
  virtual void PostQuit() = 0;

  // Modal message box on the UI thread; text and caption are UTF-8 and may hold CR LF.
  virtual BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption,
                                   BoxButtons buttons, BoxIcon icon) = 0;

  // Modal About box on the UI thread.
  virtual void ShowAboutBox() = 0;

  // Appends a separator and a menu item to the system menu. False when the window
  // has no system menu.
  virtual bool AppendSystemMenuItem(uint32_t commandId, const std::string& text) = 0;

  // Sets the window's big and small icon from the program's icon resource.
  virtual void SetWindowIcon() = 0;

  // The default close processing: ends the modal run.
  virtual void EndDialog() = 0;
};

}  // namespace ost
