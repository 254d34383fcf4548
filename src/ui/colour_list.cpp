#include "ui/colour_list.h"

namespace ost {
namespace {

// Both 0 and -1 in a row's data word mean that the row has no record.
bool HoldsRecord(intptr_t data) { return data != 0 && data != -1; }

}  // namespace

ColourList::ColourList(ReportList& list) : list_(list) { list_.SetListener(this); }

ColourList::~ColourList() {
  for (int row = 0; row < list_.ItemCount(); ++row) FreeRecord(row);
  list_.SetListener(nullptr);
}

RowRecord* ColourList::RecordOf(int row) const {
  if (row < 0 || row >= list_.ItemCount()) return nullptr;
  intptr_t data = list_.GetItemData(row);
  return HoldsRecord(data) ? reinterpret_cast<RowRecord*>(data) : nullptr;
}

RowRecord* ColourList::EnsureRecord(int row) {
  if (row < 0 || row >= list_.ItemCount()) return nullptr;
  if (RowRecord* record = RecordOf(row)) return record;
  auto* record = new RowRecord{0, kBlack, kBlack};
  if (!list_.SetItemData(row, reinterpret_cast<intptr_t>(record))) {
    delete record;
    return nullptr;
  }
  return record;
}

void ColourList::FreeRecord(int row) {
  if (RowRecord* record = RecordOf(row)) {
    list_.SetItemData(row, 0);
    delete record;
  }
}

const RowRecord* ColourList::Record(int row) const { return RecordOf(row); }

void ColourList::SetRowTag(int row, int32_t tag) {
  if (!rowRecordsEnabled_) return;
  if (RowRecord* record = EnsureRecord(row)) record->tag = tag;
}

int32_t ColourList::GetRowTag(int row) const {
  if (!rowRecordsEnabled_) return -1;
  const RowRecord* record = RecordOf(row);
  return record ? record->tag : -1;
}

void ColourList::SetRowColors(int row, Rgb text, Rgb back) {
  if (!rowRecordsEnabled_) return;
  RowRecord* record = EnsureRecord(row);
  if (!record) return;
  record->textColor = text;
  record->backColor = back;
  list_.RedrawItems(row, row);
  list_.UpdateNow();
}

void ColourList::OnItemInserted(int row) {
  if (!rowRecordsEnabled_ || row < 0) return;
  auto* record = new RowRecord{0, kBlack, kWhite};
  if (!list_.SetItemData(row, reinterpret_cast<intptr_t>(record))) delete record;
}

void ColourList::OnItemDeleting(int row) {
  if (!rowRecordsEnabled_ || row < 0) return;
  FreeRecord(row);
}

void ColourList::OnAllItemsDeleting() {
  if (!rowRecordsEnabled_) return;
  for (int row = 0; row < list_.ItemCount(); ++row) FreeRecord(row);
}

}  // namespace ost
