// A report list whose rows each carry a small record: a tag and the row's colours.
// Records are attached as the rows' data words and live and die with their rows.
#pragma once

#include <cstdint>

#include "platform/view_port.h"
#include "ui/colour.h"

namespace ost {

struct RowRecord {
  int32_t tag;
  Rgb textColor;
  Rgb backColor;  // kept with the row; painting uses the list's own background
};

class ColourList : public ReportListListener {
 public:
  // Registers itself as the list's listener; the list must outlive this object.
  explicit ColourList(ReportList& list);
  // Frees the records of the rows that still exist.
  ~ColourList() override;
  ColourList(const ColourList&) = delete;
  ColourList& operator=(const ColourList&) = delete;

  ReportList& list() { return list_; }
  const ReportList& list() const { return list_; }

  // Existing rows are not touched.
  void EnableRowRecords(bool on) { rowRecordsEnabled_ = on; }
  bool rowRecordsEnabled() const { return rowRecordsEnabled_; }

  void SetRowTag(int row, int32_t tag);
  // -1 when records are off or the row has no record.
  int32_t GetRowTag(int row) const;
  // Stores both colours, redraws the row and repaints the list before returning.
  void SetRowColors(int row, Rgb text, Rgb back);

  // The row's record for painting (used whether records are on or not), or null.
  const RowRecord* Record(int row) const;

  // Reflected notifications of the list.
  void OnItemInserted(int row) override;
  void OnItemDeleting(int row) override;
  void OnAllItemsDeleting() override;

 private:
  RowRecord* RecordOf(int row) const;
  // The row's record, attached first when it has none; null for a missing row.
  RowRecord* EnsureRecord(int row);
  void FreeRecord(int row);

  ReportList& list_;
  bool rowRecordsEnabled_ = false;
};

}  // namespace ost
