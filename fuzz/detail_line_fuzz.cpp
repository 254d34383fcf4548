// One line of the manifest's detail block ("name.zip+size=md5"), compared with the
// files of the web folder. Whatever the line, a file it asks to fetch must stay a
// plain name inside that folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "unit/fakes.h"
#include "update/detail_file.h"

namespace {

// A name that, put after the web folder and a backslash, still names a file in it.
bool PlainName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ') {
    return false;
  }
  for (char c : name) {
    if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ost::testing::FakeFiles* files = [] {
    auto* f = new ost::testing::FakeFiles;
    // The web folder holds these; the seeds name them.
    f->files["D:\\wwwroot\\cgi-bin\\index.htm"] = "<html></html>\r\n";
    f->files["D:\\wwwroot\\cgi-bin\\empty.htm"] = "";
    f->files["D:\\wwwroot\\cgi-bin\\\xE6\x96\xB0\xE9\x97\xBB.htm"] = "news";
    return f;
  }();

  // The line in a string of its own size, so that a read past it is caught.
  const std::string line(reinterpret_cast<const char*>(data), size);
  ost::DetailLine parsed;
  const int result = ost::ParseDetailLine(std::string_view(line.data(), line.size()), &parsed);
  FUZZ_CHECK(result == 0 || (result >= -6 && result <= -1 && result != -5));
  if (result != 0) return 0;
  FUZZ_CHECK(PlainName(parsed.name));
  FUZZ_CHECK(parsed.digest.size() <= 32);
  const int compared = ost::CompareWithLocalFile(*files, "D:\\wwwroot\\cgi-bin", parsed);
  FUZZ_CHECK(compared == 0 || compared == 1 || compared == -5);
  return 0;
}
