// The report list's contract.
#include <algorithm>
#include <string>
#include <vector>

#include "contract/contract.h"

namespace ost::contract {
namespace {

// Writes down each notice with the row's data word as the list still holds it.
class Notices : public ReportListListener {
 public:
  explicit Notices(ReportList& list) : list_(list) {}
  void OnItemInserted(int row) override { seen.push_back("inserted " + std::to_string(row)); }
  // The index is the row's as the list stands: its data word tells which row it is.
  void OnItemDeleting(int row) override {
    seen.push_back("deleting data " + std::to_string(list_.GetItemData(row)));
  }
  void OnAllItemsDeleting() override { seen.push_back("all " + std::to_string(list_.ItemCount())); }

  std::vector<std::string> seen;

 private:
  ReportList& list_;
};

TEST_P(ViewContract, RowsHoldTextsAndADataWordAndIndexesOutsideAreIgnored) {
  ReportList& list = provider().list();
  EXPECT_EQ(list.InsertItem(0, "first"), 0);
  EXPECT_EQ(list.InsertItem(99, "last"), 1);  // clamped to the end
  EXPECT_EQ(list.InsertItem(0, "new first"), 0);
  ASSERT_EQ(list.ItemCount(), 3);
  EXPECT_EQ(list.GetItemText(1, 0), "first");
  EXPECT_TRUE(list.SetItemText(1, 2, "服务器 3.80"));
  EXPECT_EQ(list.GetItemText(1, 2), "服务器 3.80");
  EXPECT_EQ(list.GetItemData(1), 0);  // unset
  EXPECT_TRUE(list.SetItemData(1, 0x1234));
  EXPECT_EQ(list.GetItemData(1), 0x1234);

  EXPECT_FALSE(list.SetItemText(3, 0, "x"));
  EXPECT_FALSE(list.SetItemData(-1, 1));
  EXPECT_EQ(list.GetItemText(7, 0), "");
  EXPECT_EQ(list.GetItemData(7), 0);
  EXPECT_FALSE(list.DeleteItem(3));
  EXPECT_EQ(list.ItemCount(), 3);
}

// The listener hears of each row while it is still there.
TEST_P(ViewContract, DeletionsAreNoticedWhileTheRowIsThere) {
  ReportList& list = provider().list();
  Notices notices(list);
  list.SetListener(&notices);
  for (int row = 0; row < 3; ++row) {
    list.InsertItem(row, "row");
    list.SetItemData(row, 10 + row);
  }
  EXPECT_TRUE(list.DeleteItem(1));
  EXPECT_EQ(list.GetItemData(1), 12);
  EXPECT_TRUE(list.DeleteAllItems());
  EXPECT_EQ(list.ItemCount(), 0);
  list.SetListener(nullptr);
  // The rows of a deletion of all go in no particular order.
  ASSERT_EQ(notices.seen.size(), 7u);
  std::sort(notices.seen.begin() + 5, notices.seen.end());
  EXPECT_EQ(notices.seen,
            (std::vector<std::string>{"inserted 0", "inserted 1", "inserted 2", "deleting data 11",
                                      "all 2", "deleting data 10", "deleting data 12"}));
}

}  // namespace
}  // namespace ost::contract
