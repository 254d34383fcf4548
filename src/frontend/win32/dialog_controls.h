// The small controls of the update dialog: status line, progress bar, start button
// and the route radios.
#pragma once

#include <cstdint>
#include <string>

#include "platform/view_port.h"
#include "win32_headers.h"

namespace ost {

class Win32DialogControls : public DialogControls {
 public:
  // The dialog holding the controls; until then every call does nothing and the
  // radios read as none checked.
  void Attach(HWND dialog) { dialog_ = dialog; }
  void Detach() { dialog_ = nullptr; }

  void SetStatusText(const std::string& text) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void SetStartButtonText(const std::string& text) override;
  void EnableStartButton(bool enabled) override;
  void WriteRouteRadios(int32_t choice) override;
  int32_t ReadRouteRadios() const override;

 private:
  HWND dialog_ = nullptr;
};

}  // namespace ost
