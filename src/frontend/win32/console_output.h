// Where a headless run of the Windows program writes. The program is a GUI program, so
// it has a console only when it is given one: standard handles that a caller redirected
// to a file or pipe are written as UTF-8 bytes; otherwise the console of the process
// that started it, if any, is attached and written in UTF-16 (whatever its code page).
// Started from Explorer or a scheduler there is neither, and only --output FILE keeps
// the lines.
#pragma once

#include <string>

#include "frontend/headless/headless.h"
#include "win32_headers.h"

namespace ost {

class ConsoleOutput : public HeadlessOutput {
 public:
  // Finds the standard handles or the parent's console.
  ConsoleOutput();
  ~ConsoleOutput() override;
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  // Sends the lines to file (a UTF-8 name) from now on, created or emptied; false when
  // it cannot be opened for writing.
  bool OpenOutputFile(const std::string& file);
  // Whether a text written with Text or Complain reaches anyone.
  bool HasConsole() const { return out_.handle != nullptr || err_.handle != nullptr; }
  // Text as it is, on standard output (usage).
  void Text(const std::string& text);
  // A line on standard error, without the run's file (usage errors).
  void Error(const std::string& text);

  void Line(const std::string& text) override;
  void Complain(const std::string& text) override;
  bool WriteFile(const std::string& name, const std::string& bytes) override;
  void Flush() override;

 private:
  struct Channel {
    HANDLE handle = nullptr;
    bool console = false;  // written with WriteConsoleW; otherwise bytes
  };
  static Channel StandardChannel(DWORD which);
  static void Write(const Channel& channel, const std::string& text);

  Channel out_;
  Channel err_;
  HANDLE attached_ = nullptr;  // CONOUT$ of the parent's console, when attached
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace ost
