// ost-winprobe: what a test needs to see of the programs and services running under Wine, printed
// as UTF-8 lines on stdout (exit status 1 when the thing asked for is not there).
//   hold SECONDS          stay alive, at most SECONDS: an ordinary process keeps the
//                         wineserver (and with it the services) alive
//   windows               every visible top-level window: HWND, class, title
//   children PREFIX       the visible top-level window whose title starts with PREFIX
//                         and its child controls: id, class, enabled (1 or 0), text
//                         (the window itself as id 0)
//   rect PREFIX ID        screen rectangle "left top right bottom" of control ID of that
//                         window (ID 0: the window itself)
//   state NAME...         "NAME STATE" per service: its current state number (1 stopped,
//                         4 running), or 0 when it cannot be queried
//   load DLL              load DLL by name with the ordinary search order and print the
//                         path it came from (status 1 when it cannot be loaded)
//   sysload DLL           as load, after the tool's fallback for systems without
//                         SetDefaultDllDirectories has loaded DLL from the system folder
//                         (the delay import loads by name, like load)
//   start NAME...         start the services that are stopped, stop those that run, and
//   stop NAME...          wait (at most 60 s) until none is pending; then as state
//   items PREFIX ID       the rows of list view control ID of that window, one line per
//                         row, its cells separated by tabs
//   columns PREFIX ID     per column of that list view: width in pixels, tab, heading
//   dpi                   the system's DPI as this (DPI-aware) program sees it
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>
#include <winsvc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dll_search.h"

namespace {

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                      nullptr, nullptr);
  return text;
}

// The stored text: no message is sent, so a window whose thread is busy still answers.
std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(hwnd, buffer, 1024);
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetClassNameW(hwnd, buffer, 256);
  return buffer;
}

struct Search {
  std::wstring prefix;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTitle(HWND hwnd, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (!IsWindowVisible(hwnd)) return TRUE;
  if (TextOf(hwnd).compare(0, search->prefix.size(), search->prefix) != 0) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindByPrefix(const wchar_t* prefix) {
  Search search;
  search.prefix = prefix;
  EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK PrintTopLevel(HWND hwnd, LPARAM) {
  if (IsWindowVisible(hwnd)) {
    std::printf("%p\t%s\t%s\n", static_cast<void*>(hwnd), Narrow(ClassOf(hwnd)).c_str(),
                Narrow(TextOf(hwnd)).c_str());
  }
  return TRUE;
}

void PrintControl(HWND hwnd, int id) {
  std::printf("%d\t%s\t%d\t%s\n", id, Narrow(ClassOf(hwnd)).c_str(), IsWindowEnabled(hwnd) ? 1 : 0,
              Narrow(TextOf(hwnd)).c_str());
}

BOOL CALLBACK PrintChild(HWND hwnd, LPARAM) {
  PrintControl(hwnd, GetDlgCtrlID(hwnd));
  return TRUE;
}

DWORD StateOf(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return service && QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool Pending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

// Starts (or stops) the named services, then waits until none of them is pending.
int StartOrStop(bool start, int count, wchar_t** names) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return 1;
  std::vector<SC_HANDLE> services;
  for (int i = 0; i < count; ++i) {
    SC_HANDLE service =
        OpenServiceW(manager, names[i], SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    services.push_back(service);
    if (!service) continue;
    DWORD state = StateOf(service);
    if (start && state == SERVICE_STOPPED) {
      StartServiceW(service, 0, nullptr);
    } else if (!start && state == SERVICE_RUNNING) {
      SERVICE_STATUS status{};
      ControlService(service, SERVICE_CONTROL_STOP, &status);
    }
  }
  for (int waited = 0; waited < 600; ++waited) {
    bool pending = false;
    for (SC_HANDLE service : services) pending = pending || Pending(StateOf(service));
    if (!pending) break;
    Sleep(100);
  }
  for (int i = 0; i < count; ++i) {
    std::printf("%s %lu\n", Narrow(names[i]).c_str(), StateOf(services[static_cast<size_t>(i)]));
    if (services[static_cast<size_t>(i)]) CloseServiceHandle(services[static_cast<size_t>(i)]);
  }
  CloseServiceHandle(manager);
  return 0;
}

// A list view of another process: its texts are asked for into memory of that process.
class RemoteList {
 public:
  explicit RemoteList(HWND list) : list_(list) {
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) {
      memory_ = VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT, PAGE_READWRITE);
    }
  }
  ~RemoteList() {
    if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  bool ok() const { return memory_ != nullptr; }

  int Rows() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
  int Columns() const {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  }
  int ColumnWidth(int column) const {
    return static_cast<int>(
        SendMessageW(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
  }

  std::wstring Cell(int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = TextArea();
    item.cchTextMax = kTextChars;
    if (!Put(item)) return std::wstring();
    LRESULT length = SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                  reinterpret_cast<LPARAM>(memory_));
    return Text(length);
  }

  std::wstring Heading(int column) {
    LVCOLUMNW item{};
    item.mask = LVCF_TEXT;
    item.pszText = TextArea();
    item.cchTextMax = kTextChars;
    if (!Put(item)) return std::wstring();
    if (!SendMessageW(list_, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                      reinterpret_cast<LPARAM>(memory_))) {
      return std::wstring();
    }
    return Text(-1);
  }

 private:
  static constexpr int kTextChars = 2048;
  static constexpr size_t kHead = 256;  // the item structure, then the text
  static constexpr size_t kSize = kHead + kTextChars * sizeof(wchar_t);

  wchar_t* TextArea() const {
    return reinterpret_cast<wchar_t*>(static_cast<char*>(memory_) + kHead);
  }
  template <typename T>
  bool Put(const T& item) {
    static_assert(sizeof(T) <= kHead, "the item fits before the text");
    return WriteProcessMemory(process_, memory_, &item, sizeof item, nullptr) != 0;
  }
  // The text the list wrote: `length` characters, or up to its terminator.
  std::wstring Text(LRESULT length) {
    std::wstring text(kTextChars, L'\0');
    if (!ReadProcessMemory(process_, TextArea(), text.data(), kTextChars * sizeof(wchar_t),
                           nullptr)) {
      return std::wstring();
    }
    size_t end = text.find(L'\0');
    if (length >= 0 && static_cast<size_t>(length) < end) end = static_cast<size_t>(length);
    text.resize(end == std::wstring::npos ? kTextChars : end);
    return text;
  }

  HWND list_;
  HANDLE process_ = nullptr;
  void* memory_ = nullptr;
};

int Usage() {
  std::fprintf(stderr,
               "usage: ost-winprobe hold SECONDS | squat event|mutex SECONDS |"
               " open FILE SECONDS | windows |"
               " children PREFIX |"
               " rect PREFIX ID | state NAME... | load DLL | start NAME... | stop NAME... |"
               " items PREFIX ID | columns PREFIX ID | dpi | acp\n");
  return 64;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  // Screen coordinates and sizes as they are, not scaled for a program of 96 DPI.
  SetProcessDPIAware();
  std::wstring command = argv[1];
  if ((command == L"start" || command == L"stop") && argc >= 3) {
    return StartOrStop(command == L"start", argc - 2, argv + 2);
  }
  if ((command == L"items" || command == L"columns") && argc == 4) {
    HWND hwnd = FindByPrefix(argv[2]);
    HWND list =
        hwnd ? GetDlgItem(hwnd, static_cast<int>(std::wcstol(argv[3], nullptr, 10))) : nullptr;
    if (!list) return 1;
    RemoteList remote(list);
    if (!remote.ok()) return 1;
    if (command == L"columns") {
      for (int column = 0; column < remote.Columns(); ++column) {
        std::printf("%d\t%s\n", remote.ColumnWidth(column), Narrow(remote.Heading(column)).c_str());
      }
      return 0;
    }
    int columns = remote.Columns();
    for (int row = 0; row < remote.Rows(); ++row) {
      std::string line;
      for (int column = 0; column < columns; ++column) {
        if (column) line += '\t';
        line += Narrow(remote.Cell(row, column));
      }
      std::printf("%s\n", line.c_str());
    }
    return 0;
  }
  if (command == L"dpi" && argc == 2) {
    HDC screen = GetDC(nullptr);
    std::printf("%d\n", GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return 0;
  }
  if (command == L"acp" && argc == 2) {
    std::printf("%u\n", GetACP());
    return 0;
  }
  if (command == L"hold" && argc == 3) {
    long seconds = std::wcstol(argv[2], nullptr, 10);
    if (seconds <= 0 || seconds > 3600) return Usage();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return 0;
  }
  if (command == L"open" && argc == 4) {
    // A file held open as a log viewer holds it: shared for reading and writing, not
    // for deletion, so it cannot be renamed meanwhile.
    long seconds = std::wcstol(argv[3], nullptr, 10);
    if (seconds <= 0 || seconds > 3600) return Usage();
    HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    CloseHandle(file);
    return 0;
  }
  if (command == L"squat" && argc == 4) {
    // The update tool's run lock taken first by an ordinary program: an object of
    // another type under its name, or a mutex with the default access list, held.
    long seconds = std::wcstol(argv[3], nullptr, 10);
    if (seconds <= 0 || seconds > 3600) return Usage();
    const wchar_t* name = L"Global\\OstServerUpdate.Run";
    HANDLE object = std::wstring(argv[2]) == L"event"   ? CreateEventW(nullptr, TRUE, FALSE, name)
                    : std::wstring(argv[2]) == L"mutex" ? CreateMutexW(nullptr, TRUE, name)
                                                        : nullptr;
    if (!object) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    CloseHandle(object);
    return 0;
  }
  if (command == L"windows" && argc == 2) {
    EnumWindows(PrintTopLevel, 0);
    return 0;
  }
  if (command == L"children" && argc == 3) {
    HWND hwnd = FindByPrefix(argv[2]);
    if (!hwnd) return 1;
    PrintControl(hwnd, 0);
    EnumChildWindows(hwnd, PrintChild, 0);
    return 0;
  }
  if (command == L"rect" && argc == 4) {
    HWND hwnd = FindByPrefix(argv[2]);
    if (!hwnd) return 1;
    int id = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    HWND target = id == 0 ? hwnd : GetDlgItem(hwnd, id);
    RECT rect{};
    if (!target || !GetWindowRect(target, &rect)) return 1;
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
  }
  if (command == L"state" && argc >= 3) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 1;
    for (int i = 2; i < argc; ++i) {
      SC_HANDLE service = OpenServiceW(manager, argv[i], SERVICE_QUERY_STATUS);
      SERVICE_STATUS status{};
      bool ok = service && QueryServiceStatus(service, &status);
      if (service) CloseServiceHandle(service);
      std::printf("%s %lu\n", Narrow(argv[i]).c_str(), ok ? status.dwCurrentState : 0ul);
    }
    CloseServiceHandle(manager);
    return 0;
  }
  if ((command == L"load" || command == L"sysload") && argc == 3) {
    // sysload: first what the tool does where SetDefaultDllDirectories is missing.
    if (command == L"sysload" && !ost::LoadFromSystemFolder(argv[2])) return 1;
    HMODULE module = LoadLibraryW(argv[2]);
    if (!module) return 1;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    std::printf("%s\n", Narrow(path).c_str());
    return 0;
  }
  return Usage();
}
