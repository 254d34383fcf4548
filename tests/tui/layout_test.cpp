#include "frontend/tui/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "app/texts.h"
#include "ui/colour.h"

namespace ost::tui {
namespace {

// Display widths come from wcwidth, which counts CJK as two columns only in a
// UTF-8 locale.
class Utf8Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr) << "no C.UTF-8 locale";
  }
};

using TextTest = Utf8Test;

TEST_F(TextTest, DecodesUtf8AndReplacesBrokenBytes) {
  EXPECT_EQ(DecodeUtf8("a步骤"), L"a步骤");
  EXPECT_EQ(DecodeUtf8("\xF0\x9F\x98\x80"), std::wstring(1, wchar_t{0x1F600}));
  // A lone continuation byte, an overlong slash, a surrogate and a cut-off tail.
  EXPECT_EQ(DecodeUtf8("\x80x"), L"\xFFFDx");
  EXPECT_EQ(DecodeUtf8("\xC0\xAF"), L"\xFFFD\xFFFD");
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), L"\xFFFD\xFFFD\xFFFD");
  EXPECT_EQ(DecodeUtf8("ok\xE6\xAD"), L"ok\xFFFD\xFFFD");
}

TEST_F(TextTest, CountsWideCharactersAsTwoColumns) {
  EXPECT_EQ(DisplayWidth(L"sa"), 2);
  EXPECT_EQ(DisplayWidth(DecodeUtf8(text::kColumnItem)), 8);
  EXPECT_EQ(DisplayWidth(DecodeUtf8(text::kColumnStatus)), 11);
  EXPECT_EQ(DisplayWidth(L"a\tb"), 2);  // a control character takes no column
}

TEST_F(TextTest, CutsAtColumnBoundsNeverInsideACharacter) {
  const std::wstring item = DecodeUtf8(text::kConfigItem);  // eight CJK characters
  EXPECT_EQ(FitToWidth(item, 5, false), L"读取");
  EXPECT_EQ(FitToWidth(item, 5, true), L"读取 ");
  EXPECT_EQ(FitToWidth(item, 6, true), L"读取验");
  EXPECT_EQ(FitToWidth(item, 1, true), L" ");
  EXPECT_EQ(FitToWidth(item, 0, true), L"");
  EXPECT_EQ(FitToWidth(L"sa", 6, true), L"sa    ");
  EXPECT_EQ(FitToWidth(L"a\tb\r\n", 4, false), L"ab");

  // Every cut of mixed text is a prefix of it that fills the width exactly.
  const std::wstring mixed = DecodeUtf8("1 读取验证完成 IM002 数据库服务器连接失败。");
  const int total = DisplayWidth(mixed);
  for (int columns = 0; columns <= total + 2; ++columns) {
    const std::wstring cut = FitToWidth(mixed, columns, false);
    EXPECT_EQ(mixed.compare(0, cut.size(), cut), 0) << columns;
    EXPECT_LE(DisplayWidth(cut), columns);
    EXPECT_GE(DisplayWidth(cut), std::min(columns, total) - 1) << "cut more than one character";
    EXPECT_EQ(DisplayWidth(FitToWidth(mixed, columns, true)), columns);
  }
}

TEST_F(TextTest, SplitsBoxTextAtLineBreaksAndWrapsLongLines) {
  const std::vector<std::wstring> lines = BoxLines(text::kVerifyFailedText, 80);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], DecodeUtf8("读取 Ostra 系统验证失败"));
  EXPECT_EQ(lines[3], DecodeUtf8("点击确定，退出升级程序..."));
  EXPECT_EQ(BoxLines("a\nb\rc\r\n\r\nd", 10),
            (std::vector<std::wstring>{L"a", L"b", L"c", L"", L"d"}));
  EXPECT_EQ(BoxLines("", 10), std::vector<std::wstring>{L""});

  // Wrapped lines stay within the width and together keep every character.
  const std::string line = text::kConfirmNotifyClients;
  for (int columns : {1, 7, 20, 33}) {
    std::wstring joined;
    for (const std::wstring& part : BoxLines(line, columns)) {
      if (DisplayWidth(part) > columns) {
        // Only a single character wider than the box may stand alone.
        EXPECT_EQ(part.size(), 1u) << columns;
      }
      joined += part;
    }
    EXPECT_EQ(joined, DecodeUtf8(line)) << columns;
  }
}

TEST(ColumnTest, KeepsTheListsProportionsAndFillsTheLine) {
  const int pixels = 50 + 110 + 190 + 250;
  for (int width = 0; width <= 300; ++width) {
    const auto widths = ColumnWidths(width);
    int sum = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
      EXPECT_GE(widths[i], 0) << width;
      const double exact = std::max(0, width - 3) * kColumnPixels[i] / double(pixels);
      EXPECT_LE(std::abs(widths[i] - exact), 1.0) << width << " column " << i;
      sum += widths[i];
    }
    EXPECT_EQ(sum, std::max(0, width - 3)) << width;
  }
}

TEST(ColumnTest, HeadingsFitAtTheUsualTerminalWidths) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  const char* headings[] = {text::kColumnStep, text::kColumnItem, text::kColumnDesc,
                            text::kColumnStatus};
  for (int width : {80, 120}) {
    const auto widths = ColumnWidths(width);
    for (size_t i = 0; i < widths.size(); ++i) {
      EXPECT_GE(widths[i], DisplayWidth(DecodeUtf8(headings[i]))) << width << " column " << i;
    }
  }
}

TEST(ScreenTest, ListTakesWhatIsLeftAndTheHelpLineGoesFirst) {
  for (int height = 0; height <= 60; ++height) {
    const ScreenLayout layout = LayoutScreen(height);
    EXPECT_GE(layout.listHeight, 0);
    EXPECT_LE(layout.listY + layout.listHeight, height > layout.listY ? height : layout.listY);
    if (layout.hintY >= 0) {
      EXPECT_EQ(layout.hintY, height - 1);
      EXPECT_EQ(layout.listY + layout.listHeight, layout.hintY);
    } else if (height > layout.listY) {
      EXPECT_EQ(layout.listY + layout.listHeight, height);
    }
  }
  EXPECT_GE(LayoutScreen(40).hintY, 0);
  EXPECT_EQ(LayoutScreen(7).hintY, -1);
}

TEST(ScreenTest, ProgressBarFillsInProportion) {
  EXPECT_EQ(FilledCells(0, 0, 100, 40), 0);
  EXPECT_EQ(FilledCells(100, 0, 100, 40), 40);
  EXPECT_EQ(FilledCells(50, 0, 100, 40), 20);
  EXPECT_EQ(FilledCells(99, 0, 100, 40), 39);  // full only when done
  EXPECT_EQ(FilledCells(150, 0, 100, 40), 40);
  EXPECT_EQ(FilledCells(-5, 0, 100, 40), 0);
  EXPECT_EQ(FilledCells(5, 0, 0, 40), 0);
  EXPECT_EQ(FilledCells(5, 0, 100, 0), 0);
}

using BoxTest = Utf8Test;

TEST_F(BoxTest, StaysOnTheScreenAndCentred) {
  const std::string text = std::string(text::kConfirmNoticeBar) + "\r\n" +
                           text::kConfirmNotifyClients + "\r\n" + text::kConfirmQuestion;
  for (int width : {20, 40, 80, 120}) {
    for (int height : {8, 12, 40}) {
      const BoxGeometry box = LayoutBox(width, height, 8, text, 4, 20);
      EXPECT_LE(box.x + box.width, width) << width << "x" << height;
      EXPECT_LE(box.y + box.height, height) << width << "x" << height;
      EXPECT_LE(std::abs((width - box.width) - 2 * box.x), 1);
      EXPECT_EQ(box.height, static_cast<int>(box.lines.size()) + 5);
      EXPECT_EQ(box.textColumns + 4 + 4, box.width);
      for (const std::wstring& line : box.lines) EXPECT_LE(DisplayWidth(line), box.textColumns);
    }
  }
  // With room, the box is as wide as its longest line and keeps all three lines.
  const BoxGeometry wide = LayoutBox(120, 40, 8, text, 4, 20);
  EXPECT_EQ(wide.lines.size(), 3u);
  EXPECT_EQ(wide.textColumns, DisplayWidth(DecodeUtf8(text::kConfirmNotifyClients)));
  // A wide caption or button row widens the box beyond its text.
  EXPECT_EQ(LayoutBox(120, 40, 30, "x", 0, 10).width, 30 + 2 + 4);
  EXPECT_EQ(LayoutBox(120, 40, 2, "x", 0, 25).width, 25 + 4);
}

TEST(ScrollTest, FollowsTheChangedRowWithTheLeastMovement) {
  ListScroll scroll;
  scroll.Follow(5, 10, 10);
  EXPECT_EQ(scroll.top(), 0);
  scroll.Follow(14, 15, 10);  // one past the bottom: one row down
  EXPECT_EQ(scroll.top(), 5);
  scroll.Follow(10, 15, 10);  // in view: stays
  EXPECT_EQ(scroll.top(), 5);
  scroll.Follow(2, 15, 10);  // above: comes to the top
  EXPECT_EQ(scroll.top(), 2);
  EXPECT_EQ(scroll.First(), 2);
  EXPECT_EQ(scroll.Last(15, 10), 12);
  scroll.Follow(40, 41, 10);
  EXPECT_EQ(scroll.Last(41, 10), 41);
}

TEST(ScrollTest, PagesAndStaysWithinTheRows) {
  ListScroll scroll;
  scroll.Page(1, 30, 10);
  EXPECT_EQ(scroll.top(), 9);  // one row of the last page stays in view
  scroll.Page(5, 30, 10);
  EXPECT_EQ(scroll.top(), 20);
  EXPECT_EQ(scroll.Last(30, 10), 30);
  scroll.Page(-1, 30, 10);
  EXPECT_EQ(scroll.top(), 11);
  scroll.Page(-9, 30, 10);
  EXPECT_EQ(scroll.top(), 0);
  scroll.End(30, 10);
  EXPECT_EQ(scroll.top(), 20);
  scroll.Home();
  EXPECT_EQ(scroll.top(), 0);

  // Fewer rows than lines, or a taller screen after a resize: from the top.
  scroll.End(30, 10);
  scroll.Clamp(30, 40);
  EXPECT_EQ(scroll.top(), 0);
  scroll.Page(1, 3, 10);
  EXPECT_EQ(scroll.top(), 0);
  scroll.Page(1, 30, 1);  // a one-line list still moves
  EXPECT_EQ(scroll.top(), 1);
  scroll.Follow(3, 30, 0);
  EXPECT_GE(scroll.top(), 0);
  EXPECT_EQ(scroll.Last(30, 0), scroll.First());
}

TEST(ColourTest, ChoosesTheRichestWayTheTerminalOffers) {
  EXPECT_EQ(ChooseColourMode(false, 256, true, true), ColourMode::kNone);
  EXPECT_EQ(ChooseColourMode(true, 2, false, false), ColourMode::kNone);
  EXPECT_EQ(ChooseColourMode(true, 8, false, false), ColourMode::kPalette8);
  EXPECT_EQ(ChooseColourMode(true, 8, true, false), ColourMode::kPalette8);
  EXPECT_EQ(ChooseColourMode(true, 16, false, false), ColourMode::kPalette16);
  EXPECT_EQ(ChooseColourMode(true, 256, false, false), ColourMode::kPalette256);
  EXPECT_EQ(ChooseColourMode(true, 256, true, false), ColourMode::kRedefine);
  EXPECT_EQ(ChooseColourMode(true, 1 << 24, false, true), ColourMode::kDirect);
  EXPECT_EQ(ChooseColourMode(true, 256, false, true), ColourMode::kPalette256);
}

TEST(ColourTest, XtermPaletteValues) {
  EXPECT_EQ(XtermColour(16), kBlack);
  EXPECT_EQ(XtermColour(231), kWhite);
  EXPECT_EQ(XtermColour(196), kAlertRed);
  EXPECT_EQ(XtermColour(21), kRunningBlue);
  EXPECT_EQ(XtermColour(244), kHeaderGrey);
  EXPECT_EQ(XtermColour(232), MakeRgb(8, 8, 8));
  EXPECT_EQ(XtermColour(255), MakeRgb(238, 238, 238));
  EXPECT_EQ(XtermColour(9), kAlertRed);
  EXPECT_EQ(XtermColour(15), kWhite);
}

TEST(ColourTest, PaletteEntriesMapToThemselves) {
  for (int index = 16; index < 256; ++index) {
    EXPECT_EQ(NearestPaletteIndex(XtermColour(index), ColourMode::kPalette256, -1), index);
  }
  for (int index = 0; index < 16; ++index) {
    EXPECT_EQ(NearestPaletteIndex(XtermColour(index), ColourMode::kPalette16, -1), index);
  }
  for (int index = 0; index < 8; ++index) {
    EXPECT_EQ(NearestPaletteIndex(XtermColour(index), ColourMode::kPalette8, -1), index);
  }
  EXPECT_EQ(NearestPaletteIndex(kAlertRed, ColourMode::kNone, -1), -1);
}

TEST(ColourTest, RowColoursStayCloseDistinctAndOffTheBackground) {
  const Rgb rowColours[] = {kBlack,      kDoneGreen,  kAlertRed,    kWrittenOlive,
                            kHeaderGrey, kScriptBlue, kRunningBlue, kStoppedPurple};
  for (ColourMode mode : {ColourMode::kPalette8, ColourMode::kPalette16, ColourMode::kPalette256}) {
    const int back = NearestPaletteIndex(kWhite, mode, -1);
    std::vector<int> seen;
    for (Rgb colour : rowColours) {
      const int index = NearestPaletteIndex(colour, mode, back);
      EXPECT_NE(index, back) << "text would vanish into the background";
      if (mode == ColourMode::kPalette256) {
        EXPECT_GE(index, 16) << "the first sixteen follow the terminal's theme";
        const Rgb got = XtermColour(index);
        EXPECT_LE(std::abs(RedOf(got) - RedOf(colour)), 30);
        EXPECT_LE(std::abs(GreenOf(got) - GreenOf(colour)), 30);
        EXPECT_LE(std::abs(BlueOf(got) - BlueOf(colour)), 30);
      }
      if (mode != ColourMode::kPalette8) {
        for (int other : seen) EXPECT_NE(index, other) << "two row colours look the same";
      }
      seen.push_back(index);
    }
  }
}

TEST(ColourTest, CursesScaleRunsFromZeroToAThousand) {
  EXPECT_EQ(CursesLevel(0), 0);
  EXPECT_EQ(CursesLevel(255), 1000);
  EXPECT_EQ(CursesLevel(128), 502);
  for (int channel = 1; channel < 256; ++channel) {
    EXPECT_GT(CursesLevel(channel), CursesLevel(channel - 1));
  }
}

}  // namespace
}  // namespace ost::tui
