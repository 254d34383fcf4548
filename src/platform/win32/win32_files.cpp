#include "platform/win32/win32_files.h"

#include "platform/win32/windows_headers.h"
// The lean windows.h leaves the access-list functions out.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <climits>

namespace ost {

namespace {

// Large transfers go in pieces: one call takes a DWORD count, and very large single
// requests can fail with ERROR_NO_SYSTEM_RESOURCES on some systems.
constexpr size_t kMaxChunk = 64u << 20;

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  int length = static_cast<int>(utf8.size());
  int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
  if (written <= 0) return std::wstring();
  wide.resize(static_cast<size_t>(written));
  return wide;
}

class Win32File : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  int64_t Read(void* data, size_t size) override {
    auto* out = static_cast<uint8_t*>(data);
    size_t total = 0;
    while (total < size) {
      DWORD want = static_cast<DWORD>(std::min(size - total, kMaxChunk));
      DWORD got = 0;
      if (!ReadFile(handle_, out + total, want, &got, nullptr)) {
        // Hand over what already arrived; the next call reports the error.
        return total > 0 ? static_cast<int64_t>(total) : -1;
      }
      if (got == 0) break;  // end of file
      total += got;
    }
    return static_cast<int64_t>(total);
  }

  int64_t Write(const void* data, size_t size) override {
    const auto* in = static_cast<const uint8_t*>(data);
    size_t total = 0;
    while (total < size) {
      DWORD want = static_cast<DWORD>(std::min(size - total, kMaxChunk));
      DWORD put = 0;
      if (!WriteFile(handle_, in + total, want, &put, nullptr)) {
        return total > 0 ? static_cast<int64_t>(total) : -1;
      }
      total += put;
      written_ = true;
      if (put < want) break;  // stopped midway; the caller sees the short count
    }
    return static_cast<int64_t>(total);
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    // What was written is on the disk before anyone renames the file over a program.
    if (written_ && !FlushFileBuffers(handle)) {
      const DWORD error = GetLastError();
      CloseHandle(handle);
      SetLastError(error);
      return false;
    }
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
  bool written_ = false;
};

std::unique_ptr<File> Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  std::wstring wide = Widen(path);
  if (wide.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(handle);
}

}  // namespace

std::unique_ptr<File> Win32Files::OpenRead(const std::string& path) {
  return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

std::unique_ptr<File> Win32Files::CreateTruncate(const std::string& path) {
  // Opened as it is and emptied only once it is known to be no link or junction, which
  // would send the write wherever it points.
  std::wstring wide = Widen(path);
  if (wide.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info = {};
  DWORD error = ERROR_SUCCESS;
  if (!GetFileInformationByHandle(handle, &info)) {
    error = GetLastError();
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = ERROR_CANT_ACCESS_FILE;
  } else if (!SetEndOfFile(handle)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    CloseHandle(handle);
    SetLastError(error);
    return nullptr;
  }
  return std::make_unique<Win32File>(handle);
}

std::unique_ptr<File> Win32Files::CreateNew(const std::string& path) {
  // CREATE_NEW fails on any name that exists, a link or junction included.
  return Open(path, GENERIC_WRITE, 0, CREATE_NEW);
}

std::unique_ptr<File> Win32Files::OpenAppend(const std::string& path) {
  // A link or junction at the name would append to whatever it points at.
  if (Kind(path) == PathKind::kLink) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return nullptr;
  }
  // Every write goes to the end, whoever else appended meanwhile.
  return Open(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS);
}

PathKind Win32Files::Kind(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.empty()) return PathKind::kMissing;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::kMissing
                                                                          : PathKind::kUnknown;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

namespace {

// Administrators, SYSTEM, and the installer service that owns Program Files, whose
// full control every folder made there inherits.
bool IsAdministratorsOrSystem(PSID sid) {
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) {
    return true;
  }
  PSID installer = nullptr;
  if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                              &installer)) {
    return false;
  }
  const bool same = EqualSid(sid, installer) != 0;
  LocalFree(installer);
  return same;
}

// The user this process runs as owns what it creates.
bool IsThisUser(PSID sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) unsigned char buffer[256];
  DWORD length = 0;
  const bool ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length) &&
                  EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
  CloseHandle(token);
  return ok;
}

// True when no one but administrators, SYSTEM and this process's user may write into,
// or change, the folder.
bool OnlyAdministratorsWrite(const std::wstring& folder) {
  PACL dacl = nullptr;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  constexpr DWORD kWriting = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                             FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                             WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  bool ok =
      dacl != nullptr && owner != nullptr && (IsAdministratorsOrSystem(owner) || IsThisUser(owner));
  for (DWORD i = 0; ok && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      ok = false;
      break;
    }
    const auto* header = static_cast<ACE_HEADER*>(ace);
    // An entry only handed down to what the folder will hold grants nothing on it.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kWriting) == 0) continue;
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (!IsAdministratorsOrSystem(sid) && !IsThisUser(sid)) ok = false;
  }
  LocalFree(descriptor);
  return ok;
}

}  // namespace

bool Win32Files::MakePrivateFolder(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  // Administrators and SYSTEM, nothing inherited from the program folder.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  const bool made = CreateDirectoryW(wide.c_str(), &attributes) != 0;
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  if (made) return true;
  if (error != ERROR_ALREADY_EXISTS) {
    SetLastError(error);
    return false;
  }
  if (Kind(path) != PathKind::kFolder || !OnlyAdministratorsWrite(wide)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

int64_t Win32Files::FileSize(const std::string& path) {
  std::wstring wide = Widen(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return -1;
  }
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32Files::MakeFolders(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.empty()) return false;
  // Each folder from the drive down; one that exists already is fine.
  for (size_t at = wide.find_first_of(L"\\/", 3);; at = wide.find_first_of(L"\\/", at + 1)) {
    std::wstring prefix = wide.substr(0, at);
    if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (at == std::wstring::npos) break;
  }
  DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32Files::ListFolder(const std::string& path, std::vector<std::string>* names) {
  std::wstring wide = Widen(path);
  if (wide.empty()) return false;
  if (wide.back() != L'\\' && wide.back() != L'/') wide += L'\\';
  wide += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  names->clear();
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    int length = WideCharToMultiByte(CP_UTF8, 0, name.c_str(), static_cast<int>(name.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
      WideCharToMultiByte(CP_UTF8, 0, name.c_str(), static_cast<int>(name.size()), utf8.data(),
                          length, nullptr, nullptr);
    }
    names->push_back(utf8);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

bool Win32Files::RemoveFolder(const std::string& path) {
  std::wstring wide = Widen(path);
  return !wide.empty() && RemoveDirectoryW(wide.c_str()) != 0;
}

bool Win32Files::Exists(const std::string& path) {
  std::wstring wide = Widen(path);
  return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Lets this thread's calls set an owner other than itself while it lives, when the
// process holds the right to (administrators do), and takes it back after.
class RestorePrivilege {
 public:
  RestorePrivilege() {
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_)) {
      token_ = nullptr;
      return;
    }
    TOKEN_PRIVILEGES wanted = {};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD size = sizeof previous_;
    enabled_ = LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &wanted.Privileges[0].Luid) &&
               AdjustTokenPrivileges(token_, FALSE, &wanted, sizeof previous_, &previous_, &size) &&
               GetLastError() == ERROR_SUCCESS;
  }
  ~RestorePrivilege() {
    if (enabled_) AdjustTokenPrivileges(token_, FALSE, &previous_, 0, nullptr, nullptr);
    if (token_) CloseHandle(token_);
  }
  RestorePrivilege(const RestorePrivilege&) = delete;
  RestorePrivilege& operator=(const RestorePrivilege&) = delete;

 private:
  HANDLE token_ = nullptr;
  TOKEN_PRIVILEGES previous_ = {};
  bool enabled_ = false;
};

// The replaced file's access list, owner and mandatory label go to its successor
// before the rename, as a write in place would have kept them. False when any of them
// cannot be read or set: the caller then writes in place rather than let the new file
// take the folder's inherited list.
bool TakeSecurity(const std::wstring& from, const std::wstring& to) {
  constexpr SECURITY_INFORMATION kRead =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PACL label = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetNamedSecurityInfoW(to.c_str(), SE_FILE_OBJECT, kRead, &owner, nullptr, &dacl,
                                      &label, &descriptor);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return false;
  }
  // Inherited entries come from the folder, which both share.
  SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  // A label of its own only: none leaves the new file with the default, as the old one had.
  if (label && label->AceCount > 0) what |= LABEL_SECURITY_INFORMATION;
  PSID ownNow = nullptr;
  PSECURITY_DESCRIPTOR fromDescriptor = nullptr;
  const bool sameOwner =
      !owner ||
      (GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &ownNow,
                             nullptr, nullptr, nullptr, &fromDescriptor) == ERROR_SUCCESS &&
       ownNow && EqualSid(owner, ownNow));
  if (fromDescriptor) LocalFree(fromDescriptor);
  if (!sameOwner) what |= OWNER_SECURITY_INFORMATION;
  wchar_t* const name = const_cast<wchar_t*>(from.c_str());
  error = SetNamedSecurityInfoW(name, SE_FILE_OBJECT, what, sameOwner ? nullptr : owner, nullptr,
                                dacl, label);
  if (error != ERROR_SUCCESS && !sameOwner) {
    // Another owner than oneself takes the restore right.
    RestorePrivilege privilege;
    error = SetNamedSecurityInfoW(name, SE_FILE_OBJECT, what, owner, nullptr, dacl, label);
  }
  LocalFree(descriptor);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

}  // namespace

// A program just stopped may still be held for a moment (its process ending, a virus
// scanner reading the new file): such refusals are tried again a few times. Not
// ReplaceFileW: it moves a running program aside and puts the new one in its place,
// where the documented way must fail and leave the program as it is. The replaced
// file's attributes, access list, owner and label stay with the name; when they cannot
// be carried over the rename is not made.
bool Win32Files::Rename(const std::string& from, const std::string& to) {
  std::wstring wideFrom = Widen(from);
  std::wstring wideTo = Widen(to);
  if (wideFrom.empty() || wideTo.empty()) return false;
  const DWORD attributes = GetFileAttributesW(wideTo.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !TakeSecurity(wideFrom, wideTo)) return false;
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD error = 0;
  for (int attempt = 0; attempt < kRenameTries; ++attempt) {
    if (attempt > 0) ::Sleep(kRenameWaitMs);
    if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept) != 0) {
        SetFileAttributesW(wideTo.c_str(), attributes & kKept);
      }
      return true;
    }
    error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
        error != ERROR_ACCESS_DENIED) {
      break;
    }
  }
  SetLastError(error);
  return false;
}

bool Win32Files::Remove(const std::string& path) {
  std::wstring wide = Widen(path);
  return !wide.empty() && DeleteFileW(wide.c_str()) != 0;
}

bool Win32Files::IsLocalFixedPath(const std::string& path) {
  std::wstring wide = Widen(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  if (wide.size() < 3 || wide[1] != L':' || wide[2] != L'\\') return false;
  const wchar_t drive[] = {wide[0], L':', L'\\', L'\0'};
  if (GetDriveTypeW(drive) != DRIVE_FIXED) return false;
  // The deepest part that exists; what lies below it cannot lead anywhere yet.
  while (wide.size() > 3 && wide.back() == L'\\') wide.pop_back();
  while (wide.size() > 3 && GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
    wide.erase(std::max<size_t>(wide.rfind(L'\\'), 3));
  }
  HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::wstring final(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= final.size()) {
    final.resize(length + 1);
    length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  CloseHandle(handle);
  if (length == 0 || length >= final.size()) return false;
  final.resize(length);
  const std::wstring prefix = L"\\\\?\\";
  if (final.compare(0, prefix.size(), prefix) == 0) final.erase(0, prefix.size());
  while (final.size() > 3 && final.back() == L'\\') final.pop_back();
  // Short (8.3) names in the stored path are not a way elsewhere.
  std::wstring expected(wide.size() + MAX_PATH, L'\0');
  DWORD longLength =
      GetLongPathNameW(wide.c_str(), expected.data(), static_cast<DWORD>(expected.size()));
  if (longLength == 0 || longLength >= expected.size()) {
    expected = wide;
  } else {
    expected.resize(longLength);
  }
  return CompareStringOrdinal(final.c_str(), static_cast<int>(final.size()), expected.c_str(),
                              static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

std::string Win32Files::NativePath(const std::string& path) { return path; }

int Win32Files::LastError() { return static_cast<int>(GetLastError()); }

}  // namespace ost
