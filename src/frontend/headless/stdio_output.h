// The headless run's output on a machine with standard streams and UTF-8 file names:
// the lines on standard output (or in the --output file), complaints on standard error.
#pragma once

#include <cstdio>
#include <string>

#include "frontend/headless/headless.h"

namespace ost {

class StdioOutput : public HeadlessOutput {
 public:
  StdioOutput() = default;
  ~StdioOutput() override;
  StdioOutput(const StdioOutput&) = delete;
  StdioOutput& operator=(const StdioOutput&) = delete;

  // Sends the lines to file from now on (created or emptied); false when it cannot be
  // opened for writing.
  bool OpenOutputFile(const std::string& file);

  void Line(const std::string& text) override;
  void Complain(const std::string& text) override;
  bool WriteFile(const std::string& name, const std::string& bytes) override;
  void Flush() override;

 private:
  std::FILE* file_ = nullptr;  // the --output file; null: standard output
};

}  // namespace ost
