// The contract suites run against the Win32 providers (under Wine here): files in a
// fresh temporary folder, the registry under HKLM, Winsock against a server on the
// loopback address.
#include <cstdlib>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "contract/contract.h"
#include "contract/loopback_server.h"
#include "listview_report_list.h"
#include "platform/odbc/odbc_database.h"
#include "platform/win32/cng_crypto.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_sockets.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/windows_headers.h"
// After windows.h.
#include <shellapi.h>

namespace ost::contract {
namespace {

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class Win32FilesUnderTest : public FilesUnderTest {
 public:
  Win32FilesUnderTest() {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    std::string base(temp, temp + length);  // the test machine's temp path is ASCII
    static int made = 0;
    folder_ = base + "ost-contract-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++made);
    CreateDirectoryW(Wide(folder_).c_str(), nullptr);
  }
  ~Win32FilesUnderTest() override {
    for (std::thread& release : releases_) release.join();
    for (HANDLE handle : holds_) CloseHandle(handle);
    std::wstring from = Wide(folder_) + L'\0';  // a list of one, ending in two zeros
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
  }
  FilePort& files() override { return files_; }
  std::string Folder() override { return folder_; }
  // Opened without delete sharing, the target cannot be replaced; released after about
  // `times` of the provider's waits, or at the end.
  void Hold(const std::string& path, int times) override {
    HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    if (times < 0) {
      holds_.push_back(handle);
      return;
    }
    const DWORD wait = static_cast<DWORD>(times) * kRenameWaitMs - kRenameWaitMs / 2;
    releases_.emplace_back([handle, wait] {
      ::Sleep(wait);
      CloseHandle(handle);
    });
  }
  bool RefuseNextFlush() override { return false; }

 private:
  std::string folder_;
  Win32Files files_;
  std::vector<HANDLE> holds_;
  std::vector<std::thread> releases_;
};

constexpr char kKey[] = "SOFTWARE\\Ostra\\Contract";

class Win32RegistryUnderTest : public RegistryUnderTest {
 public:
  Win32RegistryUnderTest() {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const char name[] = "ostra";
    const DWORD port = 1433;
    RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
    RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
    RegCloseKey(key);
  }
  ~Win32RegistryUnderTest() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
  RegistryPort& registry() override { return registry_; }

 private:
  Win32Registry registry_;
};

class Win32CryptoUnderTest : public CryptoUnderTest {
 public:
  CryptoPort& crypto() override { return crypto_; }

 private:
  CngCrypto crypto_;
};

class Win32TextUnderTest : public TextUnderTest {
 public:
  TextPort& text() override { return text_; }

 private:
  Win32Text text_;
};

using Win32SocketsUnderTest = LoopbackSocketsUnderTest<Win32Sockets>;

// Services of the real manager, running the sandbox's service program (its Windows path
// in OST_CONTRACT_WINSVC); deleted again at the end.
class Win32ServicesUnderTest : public ServicesUnderTest {
 public:
  Win32ServicesUnderTest() : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    const char* program = std::getenv("OST_CONTRACT_WINSVC");
    program_ = program ? program : "";
  }
  ~Win32ServicesUnderTest() override {
    // Dependents first: they were added last.
    for (auto name = added_.rbegin(); name != added_.rend(); ++name) {
      SC_HANDLE service = OpenServiceA(manager_, name->c_str(), SERVICE_ALL_ACCESS);
      if (!service) continue;
      SERVICE_STATUS status{};
      ControlService(service, SERVICE_CONTROL_STOP, &status);
      for (int i = 0; i < 100 && QueryServiceStatus(service, &status) &&
                      status.dwCurrentState != SERVICE_STOPPED;
           ++i) {
        ::Sleep(50);
      }
      DeleteService(service);
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager_);
  }
  ServicesPort& services() override { return services_; }
  std::string NoDependents() override {
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine ? "Wine's service manager neither lists dependents nor refuses their stop" : "";
  }
  void Add(const std::string& name, int32_t state, const std::string& binaryPath,
           const std::vector<std::string>& dependsOn) override {
    ASSERT_FALSE(program_.empty()) << "OST_CONTRACT_WINSVC names no service program";
    std::string dependencies;
    for (const std::string& needed : dependsOn) dependencies += needed + '\0';
    dependencies += '\0';
    // The sandbox's service program under the path given (this is a throwaway prefix).
    const std::string folder = binaryPath.substr(0, binaryPath.rfind('\\'));
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(program_.c_str(), binaryPath.c_str(), FALSE)) << GetLastError();
    SC_HANDLE service = CreateServiceA(manager_, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_IGNORE, binaryPath.c_str(), nullptr, nullptr,
                                       dependencies.c_str(), nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    added_.push_back(name);
    if (state == SERVICE_RUNNING) {
      ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
      SERVICE_STATUS status{};
      for (int i = 0; i < 100 && QueryServiceStatus(service, &status) &&
                      status.dwCurrentState != SERVICE_RUNNING;
           ++i) {
        ::Sleep(50);
      }
    }
    CloseServiceHandle(service);
  }

 private:
  SC_HANDLE manager_;
  std::string program_;
  std::vector<std::string> added_;
  Win32Services services_;
};

// ODBC32 (Wine's, passing the calls to the host's unixODBC and the stand-in driver):
// the data source tests/wine/contract.sh lays out, named in OST_CONTRACT_DSN.
class Win32DatabaseUnderTest : public DatabaseUnderTest {
 public:
  ProductDatabase& database() override { return database_; }
  std::string Unavailable() override {
    const char* dsn = std::getenv("OST_CONTRACT_DSN");
    return dsn && std::string(dsn) == "ostra" ? "" : "OST_CONTRACT_DSN names no data source";
  }

 private:
  OdbcDatabase database_;
};

class Win32SystemUnderTest : public SystemUnderTest {
 public:
  SystemPort& system() override { return system_; }

 private:
  Win32System system_;
};

// A ListView in report view on a window of its own that is never shown; the window
// hands the list its notifications, as the dialog does.
class Win32ViewUnderTest : public ViewUnderTest {
 public:
  Win32ViewUnderTest() {
    static const bool registered = [] {
      INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES};
      InitCommonControlsEx(&classes);
      WNDCLASSW owner{};
      owner.lpfnWndProc = OwnerProc;
      owner.hInstance = GetModuleHandleW(nullptr);
      owner.lpszClassName = L"OstContractOwner";
      return RegisterClassW(&owner) != 0;
    }();
    EXPECT_TRUE(registered);
    owner_ = CreateWindowExW(0, L"OstContractOwner", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(owner_, nullptr);
    SetWindowLongPtrW(owner_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&list_));
    HWND control = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 380, 280,
                                   owner_, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(control, nullptr);
    list_.Attach(control);
    for (int column = 0; column < 3; ++column) list_.InsertColumn(column, "column", 100);
  }
  ~Win32ViewUnderTest() override {
    list_.Detach();
    DestroyWindow(owner_);
  }
  ReportList& list() override { return list_; }

 private:
  static LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* list = reinterpret_cast<ListViewReportList*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    LRESULT result = 0;
    if (msg == WM_NOTIFY && list && list->OnNotify(reinterpret_cast<NMHDR*>(lParam), &result)) {
      return result;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  HWND owner_ = nullptr;
  ListViewReportList list_;
};

OST_CONTRACT_PROVIDER(win32, FilesContract, FilesUnderTest, Win32FilesUnderTest);
OST_CONTRACT_PROVIDER(win32, RegistryContract, RegistryUnderTest, Win32RegistryUnderTest);
OST_CONTRACT_PROVIDER(win32, TextContract, TextUnderTest, Win32TextUnderTest);
OST_CONTRACT_PROVIDER(win32, CryptoContract, CryptoUnderTest, Win32CryptoUnderTest);
OST_CONTRACT_PROVIDER(win32, SocketsContract, SocketsUnderTest, Win32SocketsUnderTest);
OST_CONTRACT_PROVIDER(win32, ServicesContract, ServicesUnderTest, Win32ServicesUnderTest);
OST_CONTRACT_PROVIDER(win32, DatabaseContract, DatabaseUnderTest, Win32DatabaseUnderTest);
OST_CONTRACT_PROVIDER(win32, SystemContract, SystemUnderTest, Win32SystemUnderTest);
OST_CONTRACT_PROVIDER(win32, ViewContract, ViewUnderTest, Win32ViewUnderTest);

}  // namespace
}  // namespace ost::contract
