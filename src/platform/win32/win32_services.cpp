#include "platform/win32/win32_services.h"

#include <climits>
#include <string>
#include <vector>

#include "platform/win32/windows_headers.h"
// The lean windows.h leaves the service functions out.
#include <winsvc.h>

namespace ost {

namespace {

SC_HANDLE ToScHandle(ServiceHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }

ServiceHandle FromScHandle(SC_HANDLE handle) { return reinterpret_cast<ServiceHandle>(handle); }

DWORD ServiceRights(ServiceAccess access) {
  switch (access) {
    case ServiceAccess::kQueryStatus:
      return SERVICE_QUERY_STATUS;
    case ServiceAccess::kQueryConfig:
      return SERVICE_QUERY_CONFIG;
    case ServiceAccess::kAll:
      // What starting and stopping take, no more: a service whose permissions were
      // hardened refuses all access although it lets administrators start and stop it.
      return SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
    case ServiceAccess::kEnumerateDependents:
      return SERVICE_ENUMERATE_DEPENDENTS;
  }
  return 0;
}

// Strict, so that a damaged name is refused rather than opening another service.
bool Utf8ToWide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  int length = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  wide->resize(static_cast<size_t>(needed));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide->data(),
                             needed) == needed;
}

std::string WideToUtf8(const wchar_t* wide) {
  std::string text;
  if (wide == nullptr || *wide == L'\0') return text;
  // -1: the length includes the terminator, which is dropped again below.
  int needed = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return text;
  text.resize(static_cast<size_t>(needed));
  int written = WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), needed, nullptr, nullptr);
  text.resize(written > 0 ? static_cast<size_t>(written - 1) : 0);
  return text;
}

}  // namespace

ServiceHandle Win32Services::OpenManager(ManagerAccess access) {
  // Opening a service by name needs only the right to connect.
  DWORD rights = access == ManagerAccess::kAll ? SC_MANAGER_CONNECT
                                               : SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;
  return FromScHandle(OpenSCManagerW(nullptr, nullptr, rights));
}

ServiceHandle Win32Services::OpenServiceNamed(ServiceHandle manager, const std::string& name,
                                              ServiceAccess access) {
  std::wstring wide;
  if (!Utf8ToWide(name, &wide)) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  return FromScHandle(OpenServiceW(ToScHandle(manager), wide.c_str(), ServiceRights(access)));
}

bool Win32Services::QueryState(ServiceHandle service, int32_t* state) {
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(ToScHandle(service), &status)) return false;
  if (state) *state = static_cast<int32_t>(status.dwCurrentState);
  return true;
}

bool Win32Services::Start(ServiceHandle service) {
  return StartServiceW(ToScHandle(service), 0, nullptr) != FALSE;
}

bool Win32Services::Stop(ServiceHandle service, int32_t* state) {
  SERVICE_STATUS status = {};
  if (!ControlService(ToScHandle(service), SERVICE_CONTROL_STOP, &status)) return false;
  if (state) *state = static_cast<int32_t>(status.dwCurrentState);
  return true;
}

bool Win32Services::QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) {
  // The wide record: as many characters as the narrow one would hold in as many bytes.
  const size_t bufferSize = bufferChars * sizeof(WCHAR);
  if (bufferSize > MAXDWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // Whole 8-byte words keep the record aligned; the manager is told the exact size.
  std::vector<ULONGLONG> storage((bufferSize + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG), 0);
  auto* config =
      bufferSize > 0 ? reinterpret_cast<QUERY_SERVICE_CONFIGW*>(storage.data()) : nullptr;
  DWORD needed = 0;
  if (!QueryServiceConfigW(ToScHandle(service), config, static_cast<DWORD>(bufferSize), &needed)) {
    return false;
  }
  if (config == nullptr) return false;
  if (path) *path = WideToUtf8(config->lpBinaryPathName);
  return true;
}

void Win32Services::Close(ServiceHandle handle) {
  if (handle != 0) CloseServiceHandle(ToScHandle(handle));
}

ProcessHandle Win32Services::OpenOwnProcess(ServiceHandle service) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(ToScHandle(service), SC_STATUS_PROCESS_INFO,
                            reinterpret_cast<BYTE*>(&status), sizeof status, &needed) ||
      status.dwProcessId == 0 || (status.dwServiceType & SERVICE_WIN32_SHARE_PROCESS) != 0) {
    return 0;
  }
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
  return reinterpret_cast<ProcessHandle>(process);
}

bool Win32Services::WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(process), milliseconds) == WAIT_OBJECT_0;
}

void Win32Services::CloseProcess(ProcessHandle process) {
  if (process != 0) CloseHandle(reinterpret_cast<HANDLE>(process));
}

std::vector<std::string> Win32Services::ActiveDependents(ServiceHandle service) {
  std::vector<std::string> names;
  DWORD needed = 0;
  DWORD count = 0;
  // Asked once for the size, then with room for it; a list that grew meanwhile is
  // simply not named.
  if (EnumDependentServicesW(ToScHandle(service), SERVICE_ACTIVE, nullptr, 0, &needed, &count) ||
      GetLastError() != ERROR_MORE_DATA || needed == 0) {
    return names;
  }
  std::vector<ULONGLONG> storage(needed / sizeof(ULONGLONG) + 1, 0);
  auto* list = reinterpret_cast<ENUM_SERVICE_STATUSW*>(storage.data());
  if (!EnumDependentServicesW(ToScHandle(service), SERVICE_ACTIVE, list,
                              static_cast<DWORD>(storage.size() * sizeof(ULONGLONG)), &needed,
                              &count)) {
    return names;
  }
  for (DWORD i = 0; i < count; ++i) names.push_back(WideToUtf8(list[i].lpServiceName));
  return names;
}

}  // namespace ost
