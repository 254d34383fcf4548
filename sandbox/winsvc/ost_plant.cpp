// ost-plant.dll: a DLL planted under the name of a DLL the tool uses (ODBC32.dll) in the
// tool's own folder, as someone who may write to that folder could. Loaded into a
// process, it appends one line naming that process to ost-plant.log beside itself and
// does nothing else; the test then sees from the log whether the tool took it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

void Record(HINSTANCE self) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/') --n;
  const wchar_t kLog[] = L"ost-plant.log";
  if (n + sizeof kLog / sizeof kLog[0] > MAX_PATH) return;
  lstrcpyW(path + n, kLog);

  char line[MAX_PATH * 3 + 32] = "loaded into ";
  wchar_t process[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, process, MAX_PATH);
  int used = lstrlenA(line);
  used += WideCharToMultiByte(CP_UTF8, 0, process, static_cast<int>(length), line + used,
                              static_cast<int>(sizeof line) - used - 3, nullptr, nullptr);
  line[used++] = '\r';
  line[used++] = '\n';
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) Record(self);
  return TRUE;
}
