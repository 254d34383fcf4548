// The window port in memory: posted messages queue up until taken, message boxes are
// recorded and answered as told.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_port.h"

namespace ost {

struct ShownBox {
  std::string text;
  std::string caption;
  BoxButtons buttons;
  BoxIcon icon;
};

class MemoryWindow : public WindowPort {
 public:
  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    posted.push_back({msg, wParam, lParam});
  }
  void PostQuit() override { ++quitRequests; }
  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxButtons buttons,
                           BoxIcon icon) override {
    boxes.push_back({text, caption, buttons, icon});
    return buttons == BoxButtons::kYesNo ? yesNoAnswer : BoxAnswer::kOk;
  }
  void ShowAboutBox() override { ++aboutBoxes; }
  bool AppendSystemMenuItem(uint32_t commandId, const std::string& text) override {
    menuItems.push_back({commandId, text});
    return true;
  }
  void SetWindowIcon() override { iconSet = true; }
  void EndDialog() override { ++endDialogs; }

  struct Posted {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::deque<Posted> posted;  // not yet handed to the dialog
  std::vector<ShownBox> boxes;
  std::vector<std::pair<uint32_t, std::string>> menuItems;
  BoxAnswer yesNoAnswer = BoxAnswer::kNo;
  int quitRequests = 0;
  int aboutBoxes = 0;
  int endDialogs = 0;
  bool iconSet = false;
};

}  // namespace ost
