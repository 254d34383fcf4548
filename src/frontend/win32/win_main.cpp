// Entry point of the Windows build: the Win32 providers, the dialog window, the run.
#include <objbase.h>

#include "app/startup.h"
#include "db/product_database.h"
#include "dialog_controls.h"
#include "listview_report_list.h"
#include "platform/win32/cng_crypto.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_sockets.h"
#include "platform/win32/win32_system.h"
#include "update_window.h"
#include "win32_headers.h"

namespace {

// The tool runs elevated, often from a folder that ordinary users can write to. From
// here on a DLL loaded by name comes from the system folder only: ODBC32.dll, a
// delay import, and whatever the system loads later. Vista and 7 have the call only
// with update KB2533623 (hence no import of it); without it, the current folder is
// left out of the search and ODBC32.dll is loaded now by its full system path, so that
// the delay import finds it loaded.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryW(L"");
  wchar_t path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  const wchar_t kOdbc[] = L"\\ODBC32.dll";
  if (length == 0 || length + sizeof kOdbc / sizeof kOdbc[0] > MAX_PATH) return;
  lstrcatW(path, kOdbc);
  LoadLibraryW(path);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  RestrictDllSearch();  // first: before anything could load a DLL by name
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&classes);
  // The component-object layer is not needed by the tool itself; it is started for
  // whatever a shell or driver component loaded into the process may expect.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  ost::Win32Sockets sockets;
  ost::Win32Registry registry;
  ost::Win32Services services;
  ost::Win32Files files;
  ost::Win32System system;
  ost::OdbcDatabase database;
  ost::CngCrypto crypto;
  ost::ListViewReportList list;
  ost::Win32DialogControls controls;
  ost::Win32UpdateWindow window(instance, list, controls);

  ost::Platform platform;
  platform.window = &window;
  platform.list = &list;
  platform.controls = &controls;
  platform.sockets = &sockets;
  platform.registry = &registry;
  platform.services = &services;
  platform.files = &files;
  platform.system = &system;
  platform.database = &database;
  platform.crypto = &crypto;

  int status = ost::RunApplication(platform, [&window](ost::UpdateDialog& dialog) {
    window.RunModal(dialog);
    // A download may still run: its worker receives into the job and posts to this
    // window, on sockets this function would shut down. Nobody waits for it (a stalled
    // host can hold it for a quarter of an hour): the process ends here, before anything
    // the worker uses is torn down.
    if (dialog.DownloadRunning()) ExitProcess(0);
  });

  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
