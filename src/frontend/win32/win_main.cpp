// Entry point of the Windows build: the Win32 providers, the dialog window, the run.
#include <objbase.h>

#include "app/startup.h"
#include "db/product_database.h"
#include "dialog_controls.h"
#include "listview_report_list.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_sockets.h"
#include "platform/win32/win32_system.h"
#include "update_window.h"
#include "win32_headers.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
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

  int status = ost::RunApplication(
      platform, [&window](ost::UpdateDialog& dialog) { window.RunModal(dialog); });

  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
