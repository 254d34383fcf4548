// One line of the manifest's detail block ("name.zip+size=md5"), compared with the
// files of the web folder. Whatever the line, a file it asks to fetch must stay a
// plain name inside that folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/update_dialog.h"
#include "fuzz_check.h"
#include "unit/fakes.h"

namespace {

bool PlainName(const std::string& name) {
  if (name.empty() || name.find("..") != std::string::npos) return false;
  for (char c : name) {
    if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ost::testing::Harness* h = [] {
    auto* harness = new ost::testing::Harness;
    harness->CheckedDialog();
    // The web folder holds these; the seeds name them.
    harness->files.files["D:\\wwwroot\\cgi-bin\\index.htm"] = "<html></html>\r\n";
    harness->files.files["D:\\wwwroot\\cgi-bin\\empty.htm"] = "";
    harness->files.files["D:\\wwwroot\\cgi-bin\\\xE6\x96\xB0\xE9\x97\xBB.htm"] = "news";
    return harness;
  }();
  ost::UpdateDialog& d = *h->dialog;
  d.detailFiles.clear();

  // The line in a string of its own size, so that a read past it is caught.
  const std::string line(reinterpret_cast<const char*>(data), size);
  const int result = d.CompareDetailFile(std::string_view(line.data(), line.size()));

  FUZZ_CHECK(d.detailFiles.size() <= 1);
  // Without a file to fetch, the result is 0 (the file is current) or a refusal code.
  if (d.detailFiles.empty()) FUZZ_CHECK(result >= -6 && result <= 0);
  for (const std::string& name : d.detailFiles) FUZZ_CHECK(PlainName(name));
  return 0;
}
