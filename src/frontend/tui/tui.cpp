#include "frontend/tui/tui.h"

#include <langinfo.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "app/texts.h"
#include "frontend/message_queue.h"
#include "frontend/tui/layout.h"
#include "platform/port_wrappers.h"
#include "ui/memory_view.h"

// Last: curses' macros would otherwise clash with names in the headers above.
#define NCURSES_NOMACROS 1
#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>

namespace ost {
namespace {

using tui::ColourMode;
using tui::DecodeUtf8;
using tui::DisplayWidth;
using tui::FitToWidth;

constexpr int kKeyWaitMs = 50;
constexpr int kEscapeDelayMs = 25;
// Posted messages handled before the keyboard is looked at again.
constexpr int kMessagesPerTurn = 64;

// The list is drawn like the Windows list: row colours on white.
constexpr Rgb kListBack = kWhite;
constexpr Rgb kFace = MakeRgb(224, 224, 224);  // headings and boxes

constexpr char kHint[] =
    " Tab/arrows: focus   Space/Enter: press   Esc/q: close   F1/a: about   PgUp/PgDn: scroll";

constexpr char kBoxOk[] = "确定";
constexpr char kBoxYes[] = "是(Y)";
constexpr char kBoxNo[] = "否(N)";

// --- Leaving the terminal as found, also from a signal handler -----------------

// Filled before the handlers can need it; read only by async-signal-safe code.
struct RestoreState {
  struct termios saved {};
  bool haveSaved = false;
  char sequence[512] = {};
  size_t length = 0;
};
RestoreState g_restore;
volatile sig_atomic_t g_screenActive = 0;

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                                   SIGBUS, SIGFPE,  SIGILL, SIGABRT};
struct sigaction g_previous[std::size(kHandledSignals)];

// Writes the terminal's reset strings and its saved modes; only async-signal-safe
// calls, since a signal may arrive in the middle of curses' own output.
void RestoreTerminalNow() {
  if (!g_screenActive) return;
  g_screenActive = 0;
  if (g_restore.length > 0) {
    if (write(STDOUT_FILENO, g_restore.sequence, g_restore.length) < 0) {
      // Nothing better to do on the way out.
    }
  }
  if (g_restore.haveSaved) tcsetattr(STDOUT_FILENO, TCSADRAIN, &g_restore.saved);
}

void OnFatalSignal(int sig) {
  RestoreTerminalNow();
  // The default action then ends the process the way the signal means; for a
  // fault the instruction runs again and dumps core as it would have.
  signal(sig, SIG_DFL);
  raise(sig);
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kHandledSignals); ++i) {
    sigaction(kHandledSignals[i], nullptr, &g_previous[i]);
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (g_previous[i].sa_handler == SIG_IGN) continue;
    sigaction(kHandledSignals[i], &action, nullptr);
  }
}

void RemoveSignalHandlers() {
  for (size_t i = 0; i < std::size(kHandledSignals); ++i) {
    sigaction(kHandledSignals[i], &g_previous[i], nullptr);
  }
}

// Appends a terminfo string, without its padding marks ("$<5>"), to the reset
// sequence.
void AppendCapability(const char* name) {
  const char* value = tigetstr(name);
  if (value == nullptr || value == reinterpret_cast<const char*>(-1)) return;
  for (const char* p = value; *p != '\0'; ++p) {
    if (p[0] == '$' && p[1] == '<') {
      if (const char* end = std::strchr(p, '>')) {
        p = end;
        continue;
      }
    }
    if (g_restore.length + 1 >= sizeof g_restore.sequence) return;
    g_restore.sequence[g_restore.length++] = *p;
  }
}

bool Utf8Locale() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

// Only the character type: numbers must keep the C format the core writes and
// parses.
bool SelectUtf8Locale() {
  std::setlocale(LC_CTYPE, "");
  if (Utf8Locale()) return true;
  for (const char* name : {"C.UTF-8", "C.utf8"}) {
    if (std::setlocale(LC_CTYPE, name) && Utf8Locale()) return true;
  }
  return false;
}

const char* TermName() {
  const char* term = std::getenv("TERM");
  return term ? term : "";
}

// --- The curses screen ---------------------------------------------------------

class Curses {
 public:
  ~Curses() { Close(); }

  // False (with a message on stderr) when the terminal cannot be used.
  bool Open() {
    if (!SelectUtf8Locale()) {
      std::fprintf(stderr, "ost-server-update: the terminal front end needs a UTF-8 locale\n");
      return false;
    }
    g_restore = RestoreState{};
    g_restore.haveSaved = tcgetattr(STDOUT_FILENO, &g_restore.saved) == 0;
    // Ours before curses starts, so that curses keeps its hands off these signals.
    InstallSignalHandlers();
    screen_ = newterm(nullptr, stdout, stdin);
    if (screen_ == nullptr) {
      RemoveSignalHandlers();
      std::fprintf(stderr, "ost-server-update: cannot use the terminal (TERM=%s)\n", TermName());
      return false;
    }
    const char* cursorAddress = tigetstr("cup");
    if (cursorAddress == nullptr || cursorAddress == reinterpret_cast<const char*>(-1)) {
      // A dumb terminal: curses would write the screen out line after line.
      endwin();
      delscreen(screen_);
      screen_ = nullptr;
      RemoveSignalHandlers();
      std::fprintf(stderr, "ost-server-update: the terminal cannot place the cursor (TERM=%s)\n",
                   TermName());
      return false;
    }
    g_screenActive = 1;

    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(kEscapeDelayMs);
    curs_set(0);
    if (has_colors()) {
      start_color();
      use_default_colors();
    }
    mode_ = tui::ChooseColourMode(has_colors(), COLORS, can_change_color(), tigetflag("RGB") > 0);
    // What endwin would send, for the signal handlers. The palette is reset only
    // when this run may change it: the reset also drops the user's own colours.
    for (const char* name : {"sgr0", "op", "cnorm", "rmkx", "rmcup"}) AppendCapability(name);
    if (mode_ == ColourMode::kRedefine) AppendCapability("oc");
    return true;
  }

  void Close() {
    if (screen_ == nullptr) return;
    endwin();
    g_screenActive = 0;
    delscreen(screen_);
    screen_ = nullptr;
    RemoveSignalHandlers();
  }

  bool open() const { return screen_ != nullptr; }
  bool coloured() const { return mode_ != ColourMode::kNone; }

  // A colour pair for text on a background; 0 (the default colours) when the
  // terminal has none or no pair is left.
  int Pair(Rgb text, Rgb back) {
    if (!coloured()) return 0;
    const int backNumber = ColourNumber(back, -1);
    const int textNumber = ColourNumber(text, backNumber);
    const auto key = std::make_pair(textNumber, backNumber);
    if (auto it = pairs_.find(key); it != pairs_.end()) return it->second;
    if (nextPair_ >= COLOR_PAIRS || init_extended_pair(nextPair_, textNumber, backNumber) != OK) {
      return 0;
    }
    pairs_[key] = nextPair_;
    return nextPair_++;
  }

 private:
  int ColourNumber(Rgb colour, int avoid) {
    if (mode_ == ColourMode::kDirect) return tui::DirectColourNumber(colour);
    if (mode_ == ColourMode::kRedefine) {
      if (auto it = defined_.find(colour); it != defined_.end()) return it->second;
      // Entries from 16 up: the first sixteen are the ones other programs rely on.
      if (nextSlot_ < COLORS && init_extended_color(nextSlot_, tui::CursesLevel(RedOf(colour)),
                                                    tui::CursesLevel(GreenOf(colour)),
                                                    tui::CursesLevel(BlueOf(colour))) == OK) {
        defined_[colour] = nextSlot_;
        return nextSlot_++;
      }
    }
    return tui::NearestPaletteIndex(colour, mode_, avoid);
  }

  SCREEN* screen_ = nullptr;
  ColourMode mode_ = ColourMode::kNone;
  std::map<Rgb, int> defined_;
  int nextSlot_ = 16;
  std::map<std::pair<int, int>, int> pairs_;
  int nextPair_ = 1;
};

// Draws text at y, x with attributes and a colour pair; the text must fit.
void Put(int y, int x, std::wstring_view text, attr_t attrs, int pair) {
  if (y < 0 || x < 0 || y >= getmaxy(stdscr) || x >= getmaxx(stdscr)) return;
  wattr_set(stdscr, attrs, 0, &pair);
  mvwaddnwstr(stdscr, y, x, text.data(), static_cast<int>(text.size()));
  int normal = 0;
  wattr_set(stdscr, A_NORMAL, 0, &normal);
}

// Draws a UTF-8 text cut to `columns`, padded when asked; returns the columns used.
int PutFit(int y, int x, std::string_view utf8, int columns, bool pad, attr_t attrs, int pair) {
  if (columns <= 0) return 0;
  const std::wstring fitted = FitToWidth(DecodeUtf8(utf8), columns, pad);
  Put(y, x, fitted, attrs, pair);
  return DisplayWidth(fitted);
}

std::wstring Repeat(wchar_t c, int count) {
  return std::wstring(static_cast<size_t>(std::max(count, 0)), c);
}

std::wstring IconMark(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kInformation:
      return L"(i) ";
    case BoxIcon::kWarning:
      return L"(!) ";
    case BoxIcon::kStop:
      return L"(x) ";
    case BoxIcon::kQuestion:
      return L"(?) ";
    case BoxIcon::kNone:
      break;
  }
  return L"";
}

// --- The window ----------------------------------------------------------------

enum Focus { kFocusRoute0 = 0, kFocusRoute1 = 1, kFocusButton = 2, kFocusCount = 3 };

class TuiWindow : public WindowPort, public ViewObserver {
 public:
  TuiWindow(Curses& curses, MessageQueue& queue, const MemoryReportList& list,
            MemoryControls& controls)
      : curses_(curses), queue_(queue), list_(list), controls_(controls) {}

  // The modal run: initialisation, then keys and posted messages until the window
  // is closed or a quit is requested.
  void RunModal(UpdateDialog& dialog) {
    dialog_ = &dialog;
    dialog.OnInitDialog();
    // Like the Windows window, the dialog shows only once initialisation is over.
    shown_ = true;
    focus_ = controls_.routeChecked(1) ? kFocusRoute1 : kFocusRoute0;
    Repaint();
    for (;;) {
      const int handled = DispatchPosted();
      if (Ending()) break;
      // Wait for a key only when no message is waiting, so a download's stream of
      // reports is never held up by the keyboard.
      wtimeout(stdscr, handled > 0 ? 0 : kKeyWaitMs);
      wint_t key = 0;
      const int kind = wget_wch(stdscr, &key);
      if (kind != ERR) OnKey(kind, key);
    }
    shown_ = false;
  }

  // WindowPort.
  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    queue_.Post({msg, wParam, lParam});
  }
  void PostQuit() override { queue_.RequestQuit(); }

  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxButtons buttons,
                           BoxIcon icon) override {
    const bool yesNo = buttons == BoxButtons::kYesNo;
    Box box;
    box.caption = caption;
    box.text = text;
    box.icon = icon;
    box.buttons =
        yesNo ? std::vector<std::string>{kBoxYes, kBoxNo} : std::vector<std::string>{kBoxOk};
    // A Yes/No box has no cancel: Esc does nothing there, as on Windows.
    box.escapeAnswer = yesNo ? -1 : 0;
    const int pressed = RunBox(box);
    if (!yesNo) return BoxAnswer::kOk;
    return pressed == 0 ? BoxAnswer::kYes : BoxAnswer::kNo;
  }

  void ShowAboutBox() override {
    Box box;
    box.caption = text::kAboutTitle;
    box.text = std::string(text::kAboutLine1) + "\r\n" + text::kAboutLine2;
    box.buttons = {text::kAboutOk};
    box.escapeAnswer = 0;
    RunBox(box);
  }

  // The About key stands for the system menu item.
  bool AppendSystemMenuItem(uint32_t, const std::string&) override { return true; }
  void SetWindowIcon() override {}
  void EndDialog() override { closed_ = true; }

  // ViewObserver: every change is drawn at once, since long steps block the loop.
  void OnRowChanged(int row) override { FollowRow(row); }
  void OnRowInserted(int row) override { FollowRow(row); }
  void OnRowsDeleted() override { Repaint(); }
  void OnStatusChanged() override { Repaint(); }
  void OnProgressChanged() override { Repaint(); }
  void OnButtonChanged() override {
    if (focus_ == kFocusButton && !controls_.buttonEnabled()) {
      focus_ = controls_.routeChecked(1) ? kFocusRoute1 : kFocusRoute0;
    }
    Repaint();
  }
  void OnRoutesChanged() override { Repaint(); }

 private:
  struct Box {
    std::string caption;
    std::string text;
    BoxIcon icon = BoxIcon::kNone;
    std::vector<std::string> buttons;
    int focus = 0;
    int escapeAnswer = -1;  // the button Esc presses, -1 for none
  };

  int ListHeight() const { return tui::LayoutScreen(getmaxy(stdscr)).listHeight; }

  // Hands the waiting posted messages to the dialog, at most one turn's worth; returns
  // how many. Boxes call it too, so a handler may run while another waits under a box,
  // as on Windows.
  int DispatchPosted() {
    if (dialog_ == nullptr) return 0;
    PostedMessage message;
    int handled = 0;
    while (!closed_ && handled < kMessagesPerTurn &&
           queue_.Pop(&message, std::chrono::milliseconds(0))) {
      dialog_->Dispatch(message.msg, message.wParam, message.lParam);
      ++handled;
    }
    return handled;
  }

  // The window was closed, or a quit was asked for and nothing is left to hand over.
  bool Ending() const { return closed_ || (queue_.quitRequested() && queue_.Empty()); }

  void FollowRow(int row) {
    if (curses_.open()) scroll_.Follow(row, list_.ItemCount(), ListHeight());
    Repaint();
  }

  void MoveFocus(int step) {
    int next = focus_;
    for (int tries = 0; tries < kFocusCount; ++tries) {
      next = (next + step + kFocusCount) % kFocusCount;
      if (next != kFocusButton || controls_.buttonEnabled()) break;
    }
    focus_ = next;
  }

  void Press() {
    if (focus_ == kFocusButton) {
      if (controls_.buttonEnabled()) dialog_->OnStartClicked();
    } else {
      controls_.ClickRoute(focus_);
    }
  }

  void OnKey(int kind, wint_t key) {
    if (kind == KEY_CODE_YES) {
      switch (key) {
        case KEY_RESIZE:
          break;
        case KEY_LEFT:
        case KEY_UP:
        case KEY_BTAB:
          MoveFocus(-1);
          break;
        case KEY_RIGHT:
        case KEY_DOWN:
          MoveFocus(1);
          break;
        case KEY_ENTER:
          Press();
          break;
        case KEY_PPAGE:
          scroll_.Page(-1, list_.ItemCount(), ListHeight());
          break;
        case KEY_NPAGE:
          scroll_.Page(1, list_.ItemCount(), ListHeight());
          break;
        case KEY_HOME:
          scroll_.Home();
          break;
        case KEY_END:
          scroll_.End(list_.ItemCount(), ListHeight());
          break;
        default:
          if (key == static_cast<wint_t>(KEY_F(1))) dialog_->OnSysCommand(kAboutCommand);
          break;
      }
    } else {
      switch (key) {
        case L'\t':
          MoveFocus(1);
          break;
        case L' ':
        case L'\r':
        case L'\n':
          Press();
          break;
        case 27:  // Esc
        case L'q':
        case L'Q':
          dialog_->OnClose();
          break;
        case L'a':
        case L'A':
          dialog_->OnSysCommand(kAboutCommand);
          break;
        default:
          break;
      }
    }
    Repaint();
  }

  // The box's own loop, modal like a Windows message box: keys go to the box, while
  // the update's posted messages still reach the dialog underneath. When the window
  // closes or the run is to quit meanwhile, the box ends as its Esc or its last button
  // would (OK, No).
  int RunBox(Box& box) {
    Box* outer = box_;
    box_ = &box;
    Repaint();
    const int count = static_cast<int>(box.buttons.size());
    int pressed = -1;
    while (pressed < 0) {
      const int handled = DispatchPosted();
      if (Ending()) {
        pressed = box.escapeAnswer >= 0 ? box.escapeAnswer : count - 1;
        break;
      }
      wtimeout(stdscr, handled > 0 ? 0 : kKeyWaitMs);
      wint_t key = 0;
      const int kind = wget_wch(stdscr, &key);
      if (kind == ERR) continue;
      if (kind == KEY_CODE_YES) {
        if (key == KEY_LEFT || key == KEY_UP || key == KEY_BTAB) {
          box.focus = (box.focus + count - 1) % count;
        } else if (key == KEY_RIGHT || key == KEY_DOWN) {
          box.focus = (box.focus + 1) % count;
        } else if (key == KEY_ENTER) {
          pressed = box.focus;
        }
      } else if (key == L'\t') {
        box.focus = (box.focus + 1) % count;
      } else if (key == L' ' || key == L'\r' || key == L'\n') {
        pressed = box.focus;
      } else if (key == 27) {
        pressed = box.escapeAnswer;
      } else if (count == 2 && (key == L'y' || key == L'Y')) {
        pressed = 0;
      } else if (count == 2 && (key == L'n' || key == L'N')) {
        pressed = 1;
      }
      Repaint();
    }
    box_ = outer;
    Repaint();
    return pressed;
  }

  void Repaint() {
    if (!curses_.open()) return;
    const int height = getmaxy(stdscr);
    const int width = getmaxx(stdscr);
    werase(stdscr);
    if (shown_) DrawDialog(width, height);
    if (box_) DrawBox(*box_, width, height);
    wnoutrefresh(stdscr);
    doupdate();
  }

  void DrawDialog(int width, int height) {
    const tui::ScreenLayout layout = tui::LayoutScreen(height);
    const int facePair = curses_.Pair(kBlack, kFace);
    const attr_t faceAttrs = curses_.coloured() ? A_BOLD : A_REVERSE;

    PutFit(layout.titleY, 0, std::string(" ") + text::kDialogTitle, width, true, A_REVERSE | A_BOLD,
           0);

    // Route radios, then the start button at the right.
    int x = 1;
    const char* routes[2] = {text::kRoute0, text::kRoute1};
    for (int i = 0; i < 2; ++i) {
      std::string label = std::string(controls_.routeChecked(i) ? "(*) " : "( ) ") + routes[i];
      x += PutFit(layout.controlsY, x, label, width - x, false, focus_ == i ? A_REVERSE : A_NORMAL,
                  0) +
           3;
    }
    const std::string button = "[ " + controls_.buttonText() + " ]";
    const int buttonX = std::max(x, width - DisplayWidth(DecodeUtf8(button)) - 1);
    attr_t buttonAttrs = controls_.buttonEnabled() ? A_BOLD : A_DIM;
    if (focus_ == kFocusButton) buttonAttrs |= A_REVERSE;
    PutFit(layout.controlsY, buttonX, button, width - buttonX, false, buttonAttrs, 0);

    PutFit(layout.statusY, 1, controls_.statusText(), width - 2, false, A_NORMAL, 0);

    // The label and the bar beside it.
    x = 1 + PutFit(layout.progressY, 1, text::kProcessLabel, width - 2, false, A_NORMAL, 0) + 1;
    const int cells = width - x - 6;  // room for " 100%"
    if (cells > 0) {
      const int filled = tui::FilledCells(controls_.progressPos(), controls_.progressLow(),
                                          controls_.progressHigh(), cells);
      Put(layout.progressY, x, Repeat(L'█', filled) + Repeat(L'░', cells - filled), A_NORMAL, 0);
      const int span = std::max(1, controls_.progressHigh() - controls_.progressLow());
      const int percent = (controls_.progressPos() - controls_.progressLow()) * 100 / span;
      char text[8];
      std::snprintf(text, sizeof text, " %3d%%", percent);
      PutFit(layout.progressY, x + cells, text, 5, false, A_NORMAL, 0);
    }

    // The list: headings, then the rows in view, each in its own colour.
    const auto widths = tui::ColumnWidths(width);
    auto lineOf = [&](auto cellText) {
      std::wstring line;
      for (int column = 0; column < tui::kColumnCount; ++column) {
        if (column > 0) line += L' ';
        line += FitToWidth(DecodeUtf8(cellText(column)), widths[static_cast<size_t>(column)], true);
      }
      return line;
    };
    const auto& columns = list_.columns();
    Put(layout.headerY, 0, lineOf([&](int column) {
          return static_cast<size_t>(column) < columns.size()
                     ? columns[static_cast<size_t>(column)].heading
                     : std::string();
        }),
        faceAttrs, facePair);

    const int rows = list_.ItemCount();
    scroll_.Clamp(rows, layout.listHeight);
    const int blankPair = curses_.Pair(kBlack, kListBack);
    for (int line = 0; line < layout.listHeight; ++line) {
      const int row = scroll_.top() + line;
      const int y = layout.listY + line;
      if (row >= rows) {
        Put(y, 0, Repeat(L' ', width), A_NORMAL, blankPair);
        continue;
      }
      const RowRecord* record = dialog_ ? dialog_->progressList().Record(row) : nullptr;
      const Rgb colour = record ? record->textColor : kBlack;
      Put(y, 0, lineOf([&](int column) { return list_.GetItemText(row, column); }), A_NORMAL,
          curses_.Pair(colour, kListBack));
    }

    if (layout.hintY >= 0) {
      std::string where;
      if (rows > layout.listHeight) {
        where = "rows " + std::to_string(scroll_.First() + 1) + "-" +
                std::to_string(scroll_.Last(rows, layout.listHeight)) + " of " +
                std::to_string(rows) + " ";
      }
      const int whereWidth = static_cast<int>(where.size());
      PutFit(layout.hintY, 0, kHint, width - whereWidth - 1, false, A_DIM, 0);
      PutFit(layout.hintY, width - whereWidth, where, whereWidth, false, A_DIM, 0);
    }
  }

  void DrawBox(const Box& box, int width, int height) {
    const std::wstring icon = IconMark(box.icon);
    const int iconWidth = DisplayWidth(icon);
    std::vector<std::wstring> labels;
    int buttonsWidth = 0;
    for (const std::string& label : box.buttons) {
      labels.push_back(L"[ " + DecodeUtf8(label) + L" ]");
      buttonsWidth += DisplayWidth(labels.back()) + (labels.size() > 1 ? 2 : 0);
    }
    const std::wstring caption = DecodeUtf8(box.caption);
    const tui::BoxGeometry g =
        tui::LayoutBox(width, height, DisplayWidth(caption), box.text, iconWidth, buttonsWidth);
    const int pair = curses_.Pair(kBlack, kFace);
    const attr_t attrs = curses_.coloured() ? A_NORMAL : A_REVERSE;
    const int inner = g.width - 2;

    // Frame with the caption in the top edge.
    const std::wstring title = FitToWidth(caption, std::max(0, inner - 4), false);
    std::wstring top = L"┌─ " + title + L" ";
    top += Repeat(L'─', g.width - 1 - DisplayWidth(top)) + L"┐";
    Put(g.y, g.x, top, attrs | A_BOLD, pair);
    for (int y = g.y + 1; y < g.y + g.height - 1; ++y) {
      Put(y, g.x, L"│" + Repeat(L' ', inner) + L"│", attrs, pair);
    }
    Put(g.y + g.height - 1, g.x, L"└" + Repeat(L'─', inner) + L"┘", attrs, pair);

    for (size_t i = 0; i < g.lines.size(); ++i) {
      const int y = g.y + 2 + static_cast<int>(i);
      if (i == 0 && iconWidth > 0) Put(y, g.x + 2, icon, attrs | A_BOLD, pair);
      Put(y, g.x + 2 + iconWidth, FitToWidth(g.lines[i], g.textColumns, false), attrs, pair);
    }

    int x = g.x + std::max(1, (g.width - buttonsWidth) / 2);
    const int y = g.y + g.height - 2;
    for (size_t i = 0; i < labels.size(); ++i) {
      const bool focused = static_cast<int>(i) == box.focus;
      const std::wstring label = FitToWidth(labels[i], std::max(0, g.x + g.width - 1 - x), false);
      Put(y, x, label, focused ? (attrs | A_REVERSE | A_BOLD) : attrs, pair);
      x += DisplayWidth(label) + 2;
    }
  }

  Curses& curses_;
  MessageQueue& queue_;
  const MemoryReportList& list_;
  MemoryControls& controls_;
  UpdateDialog* dialog_ = nullptr;
  tui::ListScroll scroll_;
  int focus_ = kFocusRoute0;
  bool shown_ = false;
  bool closed_ = false;
  Box* box_ = nullptr;
};

}  // namespace

// Beeps ring the terminal's bell; they come from handlers on the UI thread, where
// curses may be used.
class BellSystem : public SystemWrapper {
 public:
  using SystemWrapper::SystemWrapper;
  void Beep(uint32_t, uint32_t) override { beep(); }
};

int RunTui(const Platform& machine, bool stage) {
  RunOptions options;
  options.stageFirst = stage;
  MemoryReportList list;
  MemoryControls controls;
  MessageQueue queue;

  Curses curses;
  if (!curses.Open()) return 1;
  TuiWindow window(curses, queue, list, controls);
  list.SetObserver(&window);
  controls.SetObserver(&window);
  BellSystem system(*machine.system);

  Platform platform = machine;
  platform.window = &window;
  platform.list = &list;
  platform.controls = &controls;
  platform.system = &system;

  bool finished = false;
  const int status = RunApplication(
      platform,
      [&](UpdateDialog& dialog) {
        window.RunModal(dialog);
        finished = controls.buttonEnabled() && controls.buttonText() == text::kButtonClose;
        curses.Close();
        if (dialog.DownloadRunning()) {
          // A download still runs into the dialog's buffer. Nobody waits for it: the
          // process ends here, as it does on Windows when the dialog ends.
          std::fflush(nullptr);
          std::_Exit(finished ? 0 : 1);
        }
      },
      nullptr, options);
  curses.Close();
  list.SetObserver(nullptr);
  controls.SetObserver(nullptr);
  if (status != 0) return 1;
  return finished ? 0 : 1;
}

}  // namespace ost
