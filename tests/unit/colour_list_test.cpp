#include "ui/colour_list.h"

#include <gtest/gtest.h>

#include "ui/memory_view.h"

namespace ost {
namespace {

class RedrawCounter : public ViewObserver {
 public:
  void OnRowChanged(int row) override { redrawn.push_back(row); }
  std::vector<int> redrawn;
};

class ColourListTest : public ::testing::Test {
 protected:
  ColourListTest() : colours(list) { list.SetObserver(&counter); }

  void Insert(int index, const char* text) { ASSERT_EQ(list.InsertItem(index, text), index); }

  MemoryReportList list;
  RedrawCounter counter;
  ColourList colours;
};

TEST_F(ColourListTest, RecordsOffMeansNoRecords) {
  Insert(0, "a");
  EXPECT_EQ(colours.GetRowTag(0), -1);
  colours.SetRowTag(0, 5);
  colours.SetRowColors(0, kAlertRed, kWhite);
  EXPECT_EQ(colours.Record(0), nullptr);
  EXPECT_EQ(list.GetItemData(0), 0);
  EXPECT_TRUE(counter.redrawn.empty());
}

TEST_F(ColourListTest, FreshRowHasTagZeroBlackOnWhite) {
  colours.EnableRowRecords(true);
  Insert(0, "a");
  EXPECT_EQ(colours.GetRowTag(0), 0);
  ASSERT_NE(colours.Record(0), nullptr);
  EXPECT_EQ(colours.Record(0)->textColor, kBlack);
  EXPECT_EQ(colours.Record(0)->backColor, kWhite);
  EXPECT_EQ(colours.GetRowTag(1), -1);
  EXPECT_EQ(colours.GetRowTag(-1), -1);
  colours.SetRowTag(7, 3);  // no such row: nothing happens
  EXPECT_EQ(list.ItemCount(), 1);
}

TEST_F(ColourListTest, DeletingARowKeepsTheOthersRecords) {
  colours.EnableRowRecords(true);
  for (int i = 0; i < 4; ++i) {
    Insert(i, "row");
    colours.SetRowTag(i, 100 + i);
    colours.SetRowColors(i, MakeRgb(static_cast<uint8_t>(i), 0, 0), kWhite);
  }
  ASSERT_TRUE(list.DeleteItem(1));
  ASSERT_EQ(list.ItemCount(), 3);
  EXPECT_EQ(colours.GetRowTag(0), 100);
  EXPECT_EQ(colours.GetRowTag(1), 102);
  EXPECT_EQ(colours.GetRowTag(2), 103);
  EXPECT_EQ(colours.Record(1)->textColor, MakeRgb(2, 0, 0));
}

TEST_F(ColourListTest, DeletingAllRowsGivesLaterRowsFreshRecords) {
  colours.EnableRowRecords(true);
  Insert(0, "a");
  Insert(1, "b");
  colours.SetRowTag(0, 9);
  colours.SetRowTag(1, 9);
  ASSERT_TRUE(list.DeleteAllItems());
  EXPECT_EQ(list.ItemCount(), 0);
  Insert(0, "c");
  EXPECT_EQ(colours.GetRowTag(0), 0);
}

TEST_F(ColourListTest, ColoursKeepTheLastPairAndRedrawOnlyTheirRow) {
  colours.EnableRowRecords(true);
  Insert(0, "a");
  Insert(1, "b");
  counter.redrawn.clear();
  colours.SetRowColors(1, kAlertRed, kWhite);
  colours.SetRowColors(1, kDoneGreen, MakeRgb(1, 2, 3));
  EXPECT_EQ(colours.Record(1)->textColor, kDoneGreen);
  EXPECT_EQ(colours.Record(1)->backColor, MakeRgb(1, 2, 3));
  EXPECT_EQ(counter.redrawn, (std::vector<int>{1, 1}));
  EXPECT_EQ(colours.Record(0)->textColor, kBlack);
}

TEST_F(ColourListTest, RowWithoutRecordGetsOneOnFirstUse) {
  Insert(0, "before records");
  colours.EnableRowRecords(true);
  EXPECT_EQ(colours.GetRowTag(0), -1);
  colours.SetRowTag(0, 10003);
  EXPECT_EQ(colours.GetRowTag(0), 10003);
  // A record made this way starts black on black until colours are set.
  EXPECT_EQ(colours.Record(0)->backColor, kBlack);
}

TEST_F(ColourListTest, TurningRecordsOffKeepsThemForPainting) {
  colours.EnableRowRecords(true);
  Insert(0, "a");
  colours.SetRowColors(0, kAlertRed, kWhite);
  colours.EnableRowRecords(false);
  EXPECT_EQ(colours.GetRowTag(0), -1);
  ASSERT_NE(colours.Record(0), nullptr);
  EXPECT_EQ(colours.Record(0)->textColor, kAlertRed);
}

TEST(ColourListData, MinusOneMeansNoRecord) {
  MemoryReportList list;
  ColourList colours(list);
  list.InsertItem(0, "a");
  list.SetItemData(0, -1);
  colours.EnableRowRecords(true);
  EXPECT_EQ(colours.GetRowTag(0), -1);
  EXPECT_EQ(colours.Record(0), nullptr);
  colours.SetRowTag(0, 4);  // replaces the marker with a real record
  EXPECT_EQ(colours.GetRowTag(0), 4);
}

}  // namespace
}  // namespace ost
