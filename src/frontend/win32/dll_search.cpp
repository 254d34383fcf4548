#include "dll_search.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace ost {

bool LoadFromSystemFolder(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + lstrlenW(name) + 1 > MAX_PATH) return false;
  lstrcatW(path, L"\\");
  lstrcatW(path, name);
  // The altered search: the DLLs it imports come from its own folder first, not from
  // the tool's.
  const HMODULE loaded = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  // A module of that name loaded earlier from elsewhere would be what a load by name
  // returns.
  return loaded && GetModuleHandleW(name) == loaded;
}

bool RestrictDllSearch() {
  // Looked up, not imported: without the update the tool must still start.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  SetDllDirectoryW(L"");
  if (!LoadFromSystemFolder(L"ODBC32.dll")) return false;
  // What the driver manager loads by name on first use; not there on every system.
  LoadFromSystemFolder(L"odbcint.dll");
  LoadFromSystemFolder(L"odbccp32.dll");
  return true;
}

}  // namespace ost
