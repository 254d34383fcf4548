#include "console_output.h"

#include <algorithm>

#include "wide_text.h"

namespace ost {
namespace {

// Writes all of bytes to handle; false when it could not.
bool WriteAll(HANDLE handle, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

ConsoleOutput::Channel ConsoleOutput::StandardChannel(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
  SetLastError(NO_ERROR);
  if (GetFileType(handle) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return {};
  DWORD mode = 0;
  return {handle, GetConsoleMode(handle, &mode) != 0};
}

ConsoleOutput::ConsoleOutput() {
  out_ = StandardChannel(STD_OUTPUT_HANDLE);
  err_ = StandardChannel(STD_ERROR_HANDLE);
  if (out_.handle || err_.handle) {
    // A caller that redirected one of them chose where the text goes; the other one
    // follows it.
    if (!out_.handle) out_ = err_;
    if (!err_.handle) err_ = out_;
    return;
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  attached_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (attached_ == INVALID_HANDLE_VALUE) {
    attached_ = nullptr;
    FreeConsole();
    return;
  }
  out_ = err_ = {attached_, true};
  // The parent's prompt is already on the screen: start below it.
  Write(out_, "\r\n");
}

ConsoleOutput::~ConsoleOutput() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  if (attached_) {
    CloseHandle(attached_);
    FreeConsole();
  }
}

bool ConsoleOutput::OpenOutputFile(const std::string& file) {
  HANDLE opened = CreateFileW(Utf8ToWide(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = opened;
  return true;
}

void ConsoleOutput::Write(const Channel& channel, const std::string& text) {
  if (!channel.handle) return;
  if (!channel.console) {
    WriteAll(channel.handle, text);
    return;
  }
  // UTF-16 to the console: the lines' Chinese comes out right whatever its code page.
  std::wstring wide = Utf8ToWide(text);
  size_t done = 0;
  while (done < wide.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
    DWORD written = 0;
    if (!WriteConsoleW(channel.handle, wide.data() + done, chunk, &written, nullptr) ||
        written == 0) {
      return;
    }
    done += written;
  }
}

void ConsoleOutput::Text(const std::string& text) {
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  Write(out_, crlf);
}

void ConsoleOutput::Error(const std::string& text) {
  Write(err_, "OstServerUpdate: " + text + "\r\n");
}

void ConsoleOutput::Line(const std::string& text) {
  if (file_ != INVALID_HANDLE_VALUE) {
    WriteAll(file_, text + "\r\n");
  } else {
    Write(out_, text + "\r\n");
  }
}

void ConsoleOutput::Complain(const std::string& text) {
  Error(text);
  if (file_ != INVALID_HANDLE_VALUE) WriteAll(file_, "error | " + text + "\r\n");
}

bool ConsoleOutput::WriteFile(const std::string& name, const std::string& bytes) {
  HANDLE file = CreateFileW(Utf8ToWide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = WriteAll(file, bytes);
  // A close that fails may have lost what was written.
  return CloseHandle(file) && written;
}

void ConsoleOutput::Flush() {
  if (file_ != INVALID_HANDLE_VALUE) FlushFileBuffers(file_);
}

}  // namespace ost
