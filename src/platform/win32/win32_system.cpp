#include "platform/win32/win32_system.h"

#include "platform/win32/windows_headers.h"

#include <new>
#include <thread>

namespace ost {

namespace {

// Text from the Windows "A" functions is in the system code page.
std::string AnsiToUtf8(const char* text, int length) {
  if (length <= 0) return std::string();
  int wideLength = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (wideLength <= 0) return std::string();
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  wideLength = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), wideLength);
  if (wideLength <= 0) return std::string();
  int utf8Length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (utf8Length <= 0) return std::string();
  std::string utf8(static_cast<size_t>(utf8Length), '\0');
  utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), utf8Length,
                                   nullptr, nullptr);
  if (utf8Length <= 0) return std::string();
  utf8.resize(static_cast<size_t>(utf8Length));
  return utf8;
}

}  // namespace

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
  // One name for every session of the machine. The handle stays open until the process
  // ends, which releases it however the process ends.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\OstServerUpdate.Run");
  DWORD error = GetLastError();
  if (mutex && error != ERROR_ALREADY_EXISTS) return true;
  if (mutex) CloseHandle(mutex);
  // Refused access to it: it exists, made by a run in another session.
  return error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED;
}

uint64_t Win32System::MonotonicMilliseconds() { return GetTickCount64(); }

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
  char path[MAX_PATH - 1];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length > sizeof(path)) return std::string();
  // Upper-case and find the last separator without looking inside double-byte
  // characters: their second byte can be an ASCII letter or even a backslash.
  int cut = -1;
  for (DWORD i = 0; i < length; ++i) {
    auto byte = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(byte)) {
      ++i;
    } else if (byte >= 'a' && byte <= 'z') {
      path[i] = static_cast<char>(byte - 'a' + 'A');
    } else if (byte == '\\') {
      cut = static_cast<int>(i) + 1;
    }
  }
  if (cut < 0) return std::string();
  return AnsiToUtf8(path, cut);
}

std::unique_ptr<uint8_t[]> Win32System::AllocateBuffer(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
}

}  // namespace ost
