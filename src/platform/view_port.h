// The dialog's controls as the core sees them: a report-style list of text rows with
// one opaque data word per row, and the small controls around it.
#pragma once

#include <cstdint>
#include <string>

namespace ost {

// Receives the list's own notifications, the way a list control reflects them to
// itself. Called on the UI thread from inside the list's operations.
class ReportListListener {
 public:
  virtual ~ReportListListener() = default;
  virtual void OnItemInserted(int row) = 0;
  virtual void OnItemDeleting(int row) = 0;
  // Sent once before all rows go; per-row deletion notices may follow.
  virtual void OnAllItemsDeleting() = 0;
};

// A plain report list. Rows hold texts in columns and one data word (0 when unset).
// Everything runs on the UI thread; indexes outside the list are ignored.
class ReportList {
 public:
  virtual ~ReportList() = default;

  virtual void SetListener(ReportListListener* listener) = 0;
  virtual void InsertColumn(int column, const std::string& heading, int widthPixels) = 0;

  virtual int ItemCount() const = 0;
  // Inserts a row at index (clamped to the end) with text in column 0; returns its
  // index, or -1 on failure. Notifies OnItemInserted.
  virtual int InsertItem(int index, const std::string& text) = 0;
  virtual bool SetItemText(int row, int column, const std::string& text) = 0;
  virtual std::string GetItemText(int row, int column) const = 0;
  // Notifies OnItemDeleting before the row goes.
  virtual bool DeleteItem(int row) = 0;
  // Notifies OnAllItemsDeleting, then OnItemDeleting for each row.
  virtual bool DeleteAllItems() = 0;

  virtual intptr_t GetItemData(int row) const = 0;
  virtual bool SetItemData(int row, intptr_t data) = 0;

  // Marks rows first..last for redrawing; UpdateNow paints what is marked at once.
  virtual void RedrawItems(int first, int last) = 0;
  virtual void UpdateNow() = 0;
};

// The controls around the list: status line, progress bar, start button, route radios.
class DialogControls {
 public:
  virtual ~DialogControls() = default;

  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPos(int pos) = 0;
  virtual void SetStartButtonText(const std::string& text) = 0;
  virtual void EnableStartButton(bool enabled) = 0;

  // Data exchange of the route radio group: checks the radio whose index equals
  // choice and unchecks the others (none for a choice outside 0..1).
  virtual void WriteRouteRadios(int32_t choice) = 0;
  // Index of the checked radio, -1 when none is checked.
  virtual int32_t ReadRouteRadios() const = 0;
};

}  // namespace ost
