#include "platform/win32/win32_system.h"

#include "platform/win32/windows_headers.h"

#include <sddl.h>
#include <winhttp.h>

#include <new>
#include <thread>

namespace ost {

ThreadHandle Win32System::StartThread(std::function<void()> body) {
  if (!body) return 0;
  try {
    std::thread thread(std::move(body));
    thread.detach();
  } catch (...) {
    return 0;
  }
  // Nobody joins these threads; the handle only has to be non-zero and distinct.
  ThreadHandle handle = ++lastThread_;
  return handle != 0 ? handle : ++lastThread_;
}

void Win32System::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

bool Win32System::LockMachine() {
  // Held already by this process (the rollback of a failed run takes it again).
  static bool held = false;
  if (held) return true;
  // One name for every session of the machine, open to administrators and SYSTEM
  // alone: an ordinary user can neither open ours nor take it from a run. The handle
  // stays open until the process ends, which releases it however the process ends.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  HANDLE mutex = CreateMutexW(&attributes, TRUE, L"Global\\OstServerUpdate.Run");
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  // No mutex at all (refused access, another kind of object under the name, ...):
  // whatever holds the name, this run does not own it, which counts as locked.
  if (!mutex) return false;
  // Made and owned by this run, or there and owned only when nobody holds it now (a
  // run that died leaves it abandoned, which hands it over).
  DWORD waited = WAIT_OBJECT_0;
  if (error == ERROR_ALREADY_EXISTS) waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    held = true;
    return true;
  }
  CloseHandle(mutex);
  return false;
}

uint64_t Win32System::MonotonicMilliseconds() { return GetTickCount64(); }

int64_t Win32System::UtcSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  // 100 ns ticks since 1601-01-01; 11644473600 seconds lie between 1601 and 1970.
  return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

LocalTime Win32System::Now() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  time.millisecond = now.wMilliseconds;
  return time;
}

std::string Win32System::MachineName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length)) return {};
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(length), utf8.data(), bytes, nullptr,
                        nullptr);
  }
  return utf8;
}

void Win32System::Beep(uint32_t hertz, uint32_t milliseconds) { ::Beep(hertz, milliseconds); }

std::string Win32System::ProgramFolder() {
  // The wide call: any folder name, whatever the system's code page, up to the longest
  // path the system allows.
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return std::string();
  int cut = -1;
  for (DWORD i = 0; i < length; ++i) {
    if (path[i] >= L'a' && path[i] <= L'z') {
      path[i] = static_cast<wchar_t>(path[i] - L'a' + L'A');
    } else if (path[i] == L'\\') {
      cut = static_cast<int>(i) + 1;
    }
  }
  if (cut < 0) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, path.data(), cut, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path.data(), cut, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

std::unique_ptr<uint8_t[]> Win32System::AllocateBuffer(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
}

namespace {

std::string WideToUtf8(const wchar_t* text) {
  if (!text) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(bytes - 1));
  return utf8;
}

}  // namespace

bool Win32System::MachineProxy(std::string* proxy, std::string* bypass) {
  // From the system folder only, when asked: a winhttp.dll beside the tool is never taken.
  HMODULE winhttp = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!winhttp) return false;
  using GetDefault = BOOL(WINAPI*)(WINHTTP_PROXY_INFO*);
  auto getDefault = reinterpret_cast<GetDefault>(
      reinterpret_cast<void*>(GetProcAddress(winhttp, "WinHttpGetDefaultProxyConfiguration")));
  WINHTTP_PROXY_INFO info = {};
  const bool read = getDefault && getDefault(&info);
  FreeLibrary(winhttp);
  if (!read) return false;
  const bool named = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy;
  if (named) {
    *proxy = WideToUtf8(info.lpszProxy);
    *bypass = WideToUtf8(info.lpszProxyBypass);
  }
  if (info.lpszProxy) GlobalFree(info.lpszProxy);
  if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
  return named && !proxy->empty();
}

}  // namespace ost
