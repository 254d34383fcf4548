#include "frontend/headless/snapshot.h"

namespace ost {
namespace {

nlohmann::json ColourJson(Rgb colour) {
  return nlohmann::json::array({RedOf(colour), GreenOf(colour), BlueOf(colour)});
}

}  // namespace

nlohmann::json RowJson(const UpdateDialog& dialog, int row) {
  const ReportList& list = dialog.progressList().list();
  const RowRecord* record = dialog.progressList().Record(row);
  return {
      {"step", list.GetItemText(row, 0)},
      {"item", list.GetItemText(row, 1)},
      {"desc", list.GetItemText(row, 2)},
      {"status", list.GetItemText(row, 3)},
      {"tag", dialog.GetRowTag(row)},
      {"text", ColourJson(record ? record->textColor : kBlack)},
      {"back", ColourJson(record ? record->backColor : kWhite)},
  };
}

nlohmann::json MakeSnapshot(const UpdateDialog* dialog, const MemoryControls& controls,
                            const RunRecord& record) {
  nlohmann::json rows = nlohmann::json::array();
  for (int row = 0; dialog && row < dialog->RowCount(); ++row)
    rows.push_back(RowJson(*dialog, row));

  nlohmann::json boxes = nlohmann::json::array();
  for (const BoxRecord& box : record.messageBoxes) {
    boxes.push_back({{"caption", box.caption}, {"text", box.text}, {"answer", box.answer}});
  }
  nlohmann::json beeps = nlohmann::json::array();
  for (const BeepRecord& beep : record.beeps) {
    beeps.push_back(nlohmann::json::array({beep.hertz, beep.milliseconds}));
  }
  return {
      {"rows", rows},
      {"status_line", controls.statusText()},
      {"progress", controls.progressPos()},
      {"button", {{"text", controls.buttonText()}, {"enabled", controls.buttonEnabled()}}},
      {"route_choice", dialog ? dialog->routeChoice() : 0},
      {"close_on_click", dialog ? dialog->closeOnClick() : 1},
      {"update_running", dialog ? dialog->updateRunning() : 0},
      {"failed", dialog ? dialog->failed() : 0},
      {"message_boxes", boxes},
      {"beeps", beeps},
      {"end", record.end},
  };
}

}  // namespace ost
