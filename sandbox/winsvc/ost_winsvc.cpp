// ost-winsvc: a Windows service program standing in for the product's services under
// Wine. Run by the service manager, it reports RUNNING, stops on the stop control and
// appends one line per start and stop to ost-winsvc.log beside its executable, naming
// the service and the marker text appended after its PE image. A component file made
// of this program and the line "MZ sandbox component X update N" thus shows in the log
// which update of the file ran.
//
// Knobs, as the Linux stand-in's services.json has them, are DWORD values under the
// service's key, HKLM\SYSTEM\CurrentControlSet\Services\NAME\Parameters:
//   StartPendingMs, StopPendingMs  how long it stays START_PENDING / STOP_PENDING
//   RefuseStart                    ends at once, never reaching RUNNING
//   RefuseStop                     does not accept the stop control
//   ProcessLingerMs                the process goes on this long after it reported
//                                  STOPPED, holding its program, as one still ending
// A marker after the image makes it fail like a broken build: OST-CRASH-AT-START never
// reaches RUNNING; OST-CRASH-AFTER-START stops by itself 2 s after it started.
// Each is read when it matters (RefuseStop five times a second while it runs), so that
// a knob taken away lets a running service stop.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsvc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
// Read before the last report: once the service is stopped, the dispatcher returns and
// wmain ends the process, whatever the service's own thread still does.
volatile DWORD g_lingerMs = 0;
HANDLE g_stopEvent = nullptr;
std::wstring g_name;

// A knob of this service (0 when it is not set).
DWORD Knob(const wchar_t* name) {
  std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + g_name + L"\\Parameters";
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                   &size) != ERROR_SUCCESS) {
    return 0;
  }
  return value;
}

std::wstring ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char block[65536];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

uint32_t Le32(const std::string& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

uint16_t Le16(const std::string& b, size_t at) {
  if (at + 2 > b.size()) return 0;
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               static_cast<unsigned char>(b[at + 1]) << 8);
}

// Where the image ends: the end of the furthest section's raw data, or of the COFF
// symbol and string tables of an unstripped build. Whatever follows is the marker; the
// image's own strings are never taken for one.
size_t ImageEnd(const std::string& b) {
  size_t pe = Le32(b, 0x3C);
  if (b.size() < 2 || b[0] != 'M' || b[1] != 'Z' || pe + 24 > b.size() ||
      b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return b.size();
  }
  size_t sections = Le16(b, pe + 6);
  size_t optional = Le16(b, pe + 20);
  size_t table = pe + 24 + optional;
  size_t end = 0;
  for (size_t i = 0; i < sections; ++i) {
    size_t entry = table + i * 40;
    size_t raw = static_cast<size_t>(Le32(b, entry + 20)) + Le32(b, entry + 16);
    if (raw > end) end = raw;
  }
  size_t symbols = Le32(b, pe + 12);
  if (symbols != 0) {
    size_t strings = symbols + static_cast<size_t>(Le32(b, pe + 16)) * 18;
    size_t tables = strings + Le32(b, strings);
    if (tables > end) end = tables;
  }
  return end < b.size() ? end : b.size();
}

// The first line after the image, without its line break; "(none)" when there is none.
std::string Marker() {
  std::string bytes = ReadWholeFile(ModulePath());
  std::string tail = bytes.substr(ImageEnd(bytes));
  size_t start = tail.find_first_not_of("\r\n");
  if (start == std::string::npos) return "(none)";
  size_t end = tail.find_first_of("\r\n", start);
  return tail.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Whether the bytes after the image hold the crash marker ending in `when`: a build that
// fails by itself. Put together here, so that the image itself never holds one.
bool Marked(const char* when) {
  std::string bytes = ReadWholeFile(ModulePath());
  return bytes.find(std::string("OST-CRASH-") + when, ImageEnd(bytes)) != std::string::npos;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                      nullptr, nullptr);
  return text;
}

// One line "NAME EVENT MARKER" appended to ost-winsvc.log in the program's folder; the
// log is shared by every service whose file lives there.
void Log(const char* event) {
  std::wstring path = ModulePath();
  size_t slash = path.find_last_of(L"\\/");
  path = (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
         L"ost-winsvc.log";
  std::string line = Narrow(g_name) + " " + event + " " + Marker() + "\r\n";
  // Several services may append at once; retry while another one holds the file.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
      return;
    }
    Sleep(20);
  }
}

void Report(DWORD state, DWORD waitHint, DWORD serviceError = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING && !Knob(L"RefuseStop") ? SERVICE_ACCEPT_STOP : 0;
  // An error of the service's own, as a refused start ends.
  if (serviceError) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = serviceError;
  }
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING, 3000 + Knob(L"StopPendingMs"));
      SetEvent(g_stopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  // The manager passes the service's name first; one program serves every name.
  g_name = argc > 0 && argv[0] ? argv[0] : L"?";
  g_status = RegisterServiceCtrlHandlerExW(g_name.c_str(), Control, nullptr);
  if (!g_status) return;
  g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD startPendingMs = Knob(L"StartPendingMs");
  Report(SERVICE_START_PENDING, 3000 + startPendingMs);
  if (Knob(L"RefuseStart")) {
    Log("refused");
    Report(SERVICE_STOPPED, 0, 1);
    return;
  }
  // A broken build: one never reaches running, one stops by itself 2 s after its start.
  if (Marked("AT-START")) {
    Log("crashed");
    Report(SERVICE_STOPPED, 0, 1);
    return;
  }
  const bool crashes = Marked("AFTER-START");
  const ULONGLONG started = GetTickCount64();
  Log("start");
  if (startPendingMs) Sleep(startPendingMs);
  // Running; the stop control accepted or not as the knob says now.
  do {
    Report(SERVICE_RUNNING, 0);
    if (crashes && GetTickCount64() - started >= 2000) {
      Log("crashed");
      Report(SERVICE_STOPPED, 0, 1);
      return;
    }
  } while (WaitForSingleObject(g_stopEvent, 200) == WAIT_TIMEOUT);
  if (DWORD stopPendingMs = Knob(L"StopPendingMs")) Sleep(stopPendingMs);
  Log("stop");
  g_lingerMs = Knob(L"ProcessLingerMs");
  Report(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(L""), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fprintf(stderr, "ost-winsvc: runs only as a service (start it with sc start NAME)\n");
    return 2;
  }
  if (g_lingerMs) {
    Log("lingering");
    Sleep(g_lingerMs);
    Log("ended");  // the marker of the file as it is now: replaced already, or not
  }
  return 0;
}
