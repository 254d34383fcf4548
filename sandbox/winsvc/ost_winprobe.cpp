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
//   items PREFIX          the rows of the list view of that window, their four columns
//                         separated by TABs (a probe of the window's own bitness)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <winsvc.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

BOOL CALLBACK FindListView(HWND hwnd, LPARAM data) {
  if (ClassOf(hwnd) != L"SysListView32") return TRUE;
  *reinterpret_cast<HWND*>(data) = hwnd;
  return FALSE;
}

// The list view belongs to another process: the item and its text buffer are placed in
// that process's memory, where the list view reads and writes them.
int PrintItems(HWND window) {
  HWND list = nullptr;
  EnumChildWindows(window, FindListView, reinterpret_cast<LPARAM>(&list));
  if (!list) return 1;
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return 1;
  constexpr SIZE_T kChars = 512;
  auto* remote = static_cast<BYTE*>(
      VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kChars * 2, MEM_COMMIT, PAGE_READWRITE));
  if (!remote) {
    CloseHandle(process);
    return 1;
  }
  const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    std::string line;
    for (int column = 0; column < 4; ++column) {
      LVITEMW item{};
      item.iSubItem = column;
      item.pszText = reinterpret_cast<LPWSTR>(remote + sizeof(LVITEMW));
      item.cchTextMax = kChars;
      wchar_t text[kChars] = {};
      WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
      SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(remote));
      ReadProcessMemory(process, remote + sizeof(LVITEMW), text, sizeof text - 2, nullptr);
      line += (column ? "\t" : "") + Narrow(text);
    }
    std::printf("%s\n", line.c_str());
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: ost-winprobe hold SECONDS | windows | children PREFIX |"
               " rect PREFIX ID | state NAME... | load DLL | items PREFIX\n");
  return 64;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  std::wstring command = argv[1];
  if (command == L"hold" && argc == 3) {
    long seconds = std::wcstol(argv[2], nullptr, 10);
    if (seconds <= 0 || seconds > 3600) return Usage();
    Sleep(static_cast<DWORD>(seconds) * 1000);
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
  if (command == L"items" && argc == 3) {
    HWND hwnd = FindByPrefix(argv[2]);
    return hwnd ? PrintItems(hwnd) : 1;
  }
  if (command == L"load" && argc == 3) {
    HMODULE module = LoadLibraryW(argv[2]);
    if (!module) return 1;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    std::printf("%s\n", Narrow(path).c_str());
    return 0;
  }
  return Usage();
}
