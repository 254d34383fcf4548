#include "frontend/headless/stdio_output.h"

#include <fstream>

namespace ost {

StdioOutput::~StdioOutput() {
  if (file_) std::fclose(file_);
}

bool StdioOutput::OpenOutputFile(const std::string& file) {
  std::FILE* opened = std::fopen(file.c_str(), "wb");
  if (!opened) return false;
  if (file_) std::fclose(file_);
  file_ = opened;
  return true;
}

void StdioOutput::Line(const std::string& text) {
  std::FILE* out = file_ ? file_ : stdout;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
  // Each line as it happens: whoever watches a run sees where it is.
  std::fflush(out);
}

void StdioOutput::Complain(const std::string& text) {
  std::fprintf(stderr, "ost-server-update: %s\n", text.c_str());
  std::fflush(stderr);
  if (file_) Line("error | " + text);
}

bool StdioOutput::WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

void StdioOutput::Flush() { std::fflush(nullptr); }

}  // namespace ost
