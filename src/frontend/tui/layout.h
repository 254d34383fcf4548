// The terminal front end's arithmetic: where things go on a screen of a given size,
// how texts fit into columns, which palette colour stands for a row colour and which
// rows are in view. No curses here, so all of it is testable without a terminal.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "ui/colour.h"

namespace ost::tui {

// --- Text ---------------------------------------------------------------------

// UTF-8 to wide characters; a byte that starts no valid sequence becomes U+FFFD.
std::wstring DecodeUtf8(std::string_view text);

// Display columns of one character as the terminal counts them (wcwidth in the
// current locale, which must be a UTF-8 one); 0 for characters that do not print.
int CharWidth(wchar_t c);
int DisplayWidth(std::wstring_view text);

// The text cut to at most `columns` display columns, never inside a character;
// characters that do not print are dropped. With pad, spaces fill it to exactly
// `columns`.
std::wstring FitToWidth(std::wstring_view text, int columns, bool pad);

// Splits a message box text into its lines (CR LF, or a lone LF or CR) and breaks
// each line that is wider than `columns` (at least 1) into several.
std::vector<std::wstring> BoxLines(std::string_view text, int columns);

// --- Screen layout ------------------------------------------------------------

constexpr int kColumnCount = 4;
// The Windows list's column widths in pixels; the terminal keeps their proportions.
constexpr std::array<int, kColumnCount> kColumnPixels = {50, 110, 190, 250};

// Widths of the four list columns on a line `width` cells wide, with one blank cell
// between neighbours. The widths add up to width - 3 (never below 0).
std::array<int, kColumnCount> ColumnWidths(int width);

// Rows of the main screen.
struct ScreenLayout {
  int titleY = 0;
  int controlsY = 1;  // route radios and the start button
  int statusY = 2;
  int progressY = 3;   // label and progress bar
  int headerY = 4;     // list headings
  int listY = 5;       // first list row
  int listHeight = 0;  // list rows that fit (0 when none)
  int hintY = -1;      // key help line, -1 when there is no room for it
};
ScreenLayout LayoutScreen(int height);

// A message box centred on the screen: a border, a blank line, the text (beside a
// column for the icon), a blank line, the buttons, the border. Never larger than
// the screen; text that does not fit is cut.
struct BoxGeometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int textColumns = 0;  // columns for the text beside the icon
  std::vector<std::wstring> lines;
};
BoxGeometry LayoutBox(int screenWidth, int screenHeight, int captionWidth, std::string_view text,
                      int iconWidth, int buttonsWidth);

// Filled cells of a progress bar `cells` wide at pos in low..high.
int FilledCells(int pos, int low, int high, int cells);

// --- Scrolling ----------------------------------------------------------------

// The first list row in view. Row changes pull the view to the changed row; the
// operator pages with PgUp / PgDn.
class ListScroll {
 public:
  int top() const { return top_; }

  // Scrolls as little as possible so that row is in view.
  void Follow(int row, int rowCount, int height);
  // Moves by whole pages (height - 1 rows, at least one), negative is up.
  void Page(int pages, int rowCount, int height);
  void Home() { top_ = 0; }
  void End(int rowCount, int height);
  // Keeps the view within the rows after a resize or a deletion.
  void Clamp(int rowCount, int height);

  // Rows in view: [first, last).
  int First() const { return top_; }
  int Last(int rowCount, int height) const;

 private:
  int top_ = 0;
};

// --- Colours ------------------------------------------------------------------

enum class ColourMode {
  kNone,       // monochrome
  kPalette8,   // the eight ANSI colours
  kPalette16,  // ANSI plus the bright ones
  kPalette256,
  kRedefine,  // palette entries can be set to any RGB (init_extended_color)
  kDirect,    // colour numbers are 24-bit RGB values
};

ColourMode ChooseColourMode(bool hasColours, int colourCount, bool canChangeColour, bool directRgb);

// The RGB values of xterm's default palette entry `index` (0..255).
Rgb XtermColour(int index);

// The palette entry nearest to colour (squared RGB distance, ties to the lower
// index) among the entries the mode offers, leaving out `avoid` (the background,
// so that text never vanishes into it; -1 for none). For 256 colours only entries
// 16..255 count: their values are fixed, while themes change the first sixteen.
int NearestPaletteIndex(Rgb colour, ColourMode mode, int avoid);

// The colour number for a 24-bit direct colour terminal.
int DirectColourNumber(Rgb colour);

// A 0..255 channel on curses' 0..1000 scale.
int CursesLevel(int channel);

}  // namespace ost::tui
