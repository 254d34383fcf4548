// The end state of a headless run as JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/update_dialog.h"
#include "ui/memory_view.h"

namespace ost {

struct BoxRecord {
  std::string caption;
  std::string text;
  std::string answer;
};

struct BeepRecord {
  uint32_t hertz;
  uint32_t milliseconds;
};

struct RunRecord {
  std::vector<BoxRecord> messageBoxes;
  std::vector<BeepRecord> beeps;
  std::string end;  // "quit" or "close"
};

nlohmann::json RowJson(const UpdateDialog& dialog, int row);
// Without a dialog (none was made) the rows are empty and the flags as at start.
nlohmann::json MakeSnapshot(const UpdateDialog* dialog, const MemoryControls& controls,
                            const RunRecord& record);

}  // namespace ost
