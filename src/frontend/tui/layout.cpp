#include "frontend/tui/layout.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <numeric>

namespace ost::tui {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Length of the UTF-8 sequence starting at `at` and its code point, or 0 when the
// bytes there are not a valid, shortest-form sequence.
size_t DecodeOne(std::string_view text, size_t at, char32_t* out) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    *out = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(at + i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *out = value;
  return length;
}

// wcwidth as the terminal library sees it: -1 for characters that do not print.
int RawWidth(wchar_t c) { return ::wcwidth(c); }

int Level(int step) { return step == 0 ? 0 : 55 + 40 * step; }

int Distance(Rgb a, Rgb b) {
  const int dr = RedOf(a) - RedOf(b);
  const int dg = GreenOf(a) - GreenOf(b);
  const int db = BlueOf(a) - BlueOf(b);
  return dr * dr + dg * dg + db * db;
}

}  // namespace

std::wstring DecodeUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    char32_t value = 0;
    size_t length = DecodeOne(text, at, &value);
    if (length == 0) {
      out.push_back(kReplacement);
      ++at;
    } else {
      out.push_back(static_cast<wchar_t>(value));
      at += length;
    }
  }
  return out;
}

int CharWidth(wchar_t c) { return std::max(0, RawWidth(c)); }

int DisplayWidth(std::wstring_view text) {
  int width = 0;
  for (wchar_t c : text) width += CharWidth(c);
  return width;
}

std::wstring FitToWidth(std::wstring_view text, int columns, bool pad) {
  std::wstring out;
  int used = 0;
  for (wchar_t c : text) {
    const int width = RawWidth(c);
    if (width < 0) continue;
    if (used + width > columns) break;
    out.push_back(c);
    used += width;
  }
  if (pad && used < columns) out.append(static_cast<size_t>(columns - used), L' ');
  return out;
}

std::vector<std::wstring> BoxLines(std::string_view text, int columns) {
  columns = std::max(columns, 1);
  std::vector<std::wstring> lines;
  const std::wstring wide = DecodeUtf8(text);
  std::wstring line;
  int used = 0;
  auto flush = [&] {
    lines.push_back(line);
    line.clear();
    used = 0;
  };
  for (size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (c == L'\r' || c == L'\n') {
      if (c == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') ++i;
      flush();
      continue;
    }
    const int width = RawWidth(c);
    if (width < 0) continue;
    // A character wider than the box still gets a line of its own.
    if (used + width > columns && !line.empty()) flush();
    line.push_back(c);
    used += width;
  }
  flush();
  return lines;
}

std::array<int, kColumnCount> ColumnWidths(int width) {
  const int available = std::max(0, width - (kColumnCount - 1));
  const int total = std::accumulate(kColumnPixels.begin(), kColumnPixels.end(), 0);
  std::array<int, kColumnCount> widths{};
  // Rounding the running boundaries, not each width, keeps the sum exact.
  int pixels = 0;
  int previous = 0;
  for (int i = 0; i < kColumnCount; ++i) {
    pixels += kColumnPixels[static_cast<size_t>(i)];
    const int boundary = (pixels * available * 2 + total) / (total * 2);
    widths[static_cast<size_t>(i)] = boundary - previous;
    previous = boundary;
  }
  return widths;
}

ScreenLayout LayoutScreen(int height) {
  ScreenLayout layout;
  // The help line goes first when space runs short: the list matters more.
  const bool hint = height >= 9;
  const int listEnd = hint ? height - 1 : height;
  layout.listHeight = std::max(0, listEnd - layout.listY);
  layout.hintY = hint ? height - 1 : -1;
  return layout;
}

BoxGeometry LayoutBox(int screenWidth, int screenHeight, int captionWidth, std::string_view text,
                      int iconWidth, int buttonsWidth) {
  constexpr int kFrameColumns = 4;  // border and one blank column on each side
  constexpr int kFrameLines = 5;    // borders, blank lines and the buttons
  int textWidth = 0;
  for (const std::wstring& line : BoxLines(text, INT_MAX / 2)) {
    textWidth = std::max(textWidth, DisplayWidth(line));
  }
  int content = std::max({captionWidth + 2, iconWidth + textWidth, buttonsWidth, 1});
  content = std::max(1, std::min(content, screenWidth - kFrameColumns));

  BoxGeometry box;
  box.textColumns = std::max(1, content - iconWidth);
  box.lines = BoxLines(text, box.textColumns);
  const size_t maxLines = static_cast<size_t>(std::max(1, screenHeight - kFrameLines));
  if (box.lines.size() > maxLines) box.lines.resize(maxLines);
  box.width = content + kFrameColumns;
  box.height = static_cast<int>(box.lines.size()) + kFrameLines;
  box.x = std::max(0, (screenWidth - box.width) / 2);
  box.y = std::max(0, (screenHeight - box.height) / 2);
  return box;
}

int FilledCells(int pos, int low, int high, int cells) {
  if (cells <= 0 || high <= low) return 0;
  pos = std::clamp(pos, low, high);
  return static_cast<int>(static_cast<long long>(pos - low) * cells / (high - low));
}

void ListScroll::Follow(int row, int rowCount, int height) {
  if (height > 0 && row >= 0) {
    if (row < top_) {
      top_ = row;
    } else if (row >= top_ + height) {
      top_ = row - height + 1;
    }
  }
  Clamp(rowCount, height);
}

void ListScroll::Page(int pages, int rowCount, int height) {
  const int step = std::max(1, height - 1);
  top_ += pages * step;
  Clamp(rowCount, height);
}

void ListScroll::End(int rowCount, int height) {
  top_ = INT_MAX / 2;
  Clamp(rowCount, height);
}

void ListScroll::Clamp(int rowCount, int height) {
  const int maxTop = std::max(0, rowCount - std::max(height, 0));
  top_ = std::clamp(top_, 0, maxTop);
}

int ListScroll::Last(int rowCount, int height) const {
  return std::max(top_, std::min(rowCount, top_ + std::max(height, 0)));
}

ColourMode ChooseColourMode(bool hasColours, int colourCount, bool canChangeColour,
                            bool directRgb) {
  if (!hasColours || colourCount < 8) return ColourMode::kNone;
  if (directRgb && colourCount >= (1 << 24)) return ColourMode::kDirect;
  if (canChangeColour && colourCount >= 256) return ColourMode::kRedefine;
  if (colourCount >= 256) return ColourMode::kPalette256;
  if (colourCount >= 16) return ColourMode::kPalette16;
  return ColourMode::kPalette8;
}

Rgb XtermColour(int index) {
  static constexpr Rgb kAnsi[16] = {
      MakeRgb(0, 0, 0),       MakeRgb(205, 0, 0),   MakeRgb(0, 205, 0),   MakeRgb(205, 205, 0),
      MakeRgb(0, 0, 238),     MakeRgb(205, 0, 205), MakeRgb(0, 205, 205), MakeRgb(229, 229, 229),
      MakeRgb(127, 127, 127), MakeRgb(255, 0, 0),   MakeRgb(0, 255, 0),   MakeRgb(255, 255, 0),
      MakeRgb(92, 92, 255),   MakeRgb(255, 0, 255), MakeRgb(0, 255, 255), MakeRgb(255, 255, 255)};
  index = std::clamp(index, 0, 255);
  if (index < 16) return kAnsi[index];
  if (index < 232) {
    const int cube = index - 16;
    return MakeRgb(static_cast<uint8_t>(Level(cube / 36)),
                   static_cast<uint8_t>(Level(cube / 6 % 6)),
                   static_cast<uint8_t>(Level(cube % 6)));
  }
  const auto grey = static_cast<uint8_t>(8 + 10 * (index - 232));
  return MakeRgb(grey, grey, grey);
}

int NearestPaletteIndex(Rgb colour, ColourMode mode, int avoid) {
  int first = 0;
  int end = 0;
  switch (mode) {
    case ColourMode::kNone:
      return -1;
    case ColourMode::kPalette8:
      end = 8;
      break;
    case ColourMode::kPalette16:
      end = 16;
      break;
    case ColourMode::kPalette256:
    case ColourMode::kRedefine:
    case ColourMode::kDirect:
      first = 16;
      end = 256;
      break;
  }
  int best = -1;
  int bestDistance = INT_MAX;
  for (int index = first; index < end; ++index) {
    if (index == avoid) continue;
    const int distance = Distance(colour, XtermColour(index));
    if (distance < bestDistance) {
      best = index;
      bestDistance = distance;
    }
  }
  return best;
}

int DirectColourNumber(Rgb colour) {
  return RedOf(colour) << 16 | GreenOf(colour) << 8 | BlueOf(colour);
}

int CursesLevel(int channel) { return (std::clamp(channel, 0, 255) * 1000 + 127) / 255; }

}  // namespace ost::tui
